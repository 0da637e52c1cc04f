#pragma once
// Entering and leaving serial-programming mode through the session's link,
// keeping `targetReleased` in step with the target.

struct Session;

void enterProgrammingMode(Session& session);
void leaveProgrammingMode(Session& session);
