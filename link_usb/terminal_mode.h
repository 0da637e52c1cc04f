#pragma once
// Terminal mode: every key typed goes to the Korvo, everything it sends is
// shown, until Escape (or the end of the console's input).

struct Session;
class KorvoLink;

void terminalMode(Session& session, KorvoLink& link);
// The "t" command: terminal mode on the session's link when it is a Korvo,
// nothing otherwise.
void runTerminalMode(Session& session);
