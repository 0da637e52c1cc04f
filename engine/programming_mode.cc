#include "engine/programming_mode.h"

#include "engine/isp_link.h"
#include "run/session.h"

void enterProgrammingMode(Session& session) {
  session.link->enterProgrammingMode();
  session.target.targetReleased = false;
}

void leaveProgrammingMode(Session& session) {
  session.link->leaveProgrammingMode();
  session.target.targetReleased = true;
}
