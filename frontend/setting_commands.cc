// The commands that change settings, and those that steer the run itself.

#include <cstdio>

#include "engine/programming_mode.h"
#include "frontend/command_steps.h"
#include "frontend/fuse_arguments.h"
#include "frontend/help_text.h"
#include "link_usb/korvo_link.h"
#include "link_usb/terminal_mode.h"
#include "run/session.h"

StepResult setFillChar(CommandCall& call) {
  RunSettings& settings = call.session.settings;
  // Without a number the fill character stays as it was, and the line says so.
  parseHexByte(call.argument, settings.fillChar);
  call.session.console.print("Fill char=%x\n", settings.fillChar);
  return StepResult::kDone;
}

StepResult verifyOn(CommandCall& call) {
  call.session.settings.verifyMode = 'v';
  return StepResult::kDone;
}

StepResult verifyOff(CommandCall& call) {
  call.session.settings.verifyMode = 'n';
  return StepResult::kDone;
}

StepResult recordType2(CommandCall& call) {
  call.session.settings.hexRecordType = 2;
  return StepResult::kDone;
}

StepResult recordType4(CommandCall& call) {
  call.session.settings.hexRecordType = 4;
  return StepResult::kDone;
}

StepResult terminalModeCommand(CommandCall& call) {
  runTerminalMode(call.session);
  return StepResult::kDone;
}

StepResult outputVerbose(CommandCall& call) {
  call.session.settings.outputMode = 'v';
  return StepResult::kDone;
}

StepResult outputQuiet(CommandCall& call) {
  call.session.settings.outputMode = 'q';
  return StepResult::kDone;
}

StepResult helpCommand(CommandCall& call) {
  printHelp(call.session.profile, call.session.catalogue, call.session.console);
  return StepResult::kDone;
}

StepResult exitCommand(CommandCall& call) {
  Session& session = call.session;
  // A log left open by a settings reset (which clears logEnabled) is closed
  // too, so that nothing written to it is lost.
  if (session.logStream != nullptr) {
    std::fclose(session.logStream);
    session.logStream = nullptr;
  }
  session.settings.logEnabled = false;
  if (session.link != nullptr) leaveProgrammingMode(session);
  if (session.profile.link == LinkKind::kKorvo) closeProgrammerPort(session);
  return StepResult::kExit;
}

StepResult pauseCommand(CommandCall& call) {
  Console& console = call.session.console;
  console.print("Paused - hit any key to continue\n");
  console.beginKeyMode();
  console.readKey();  // -1 at the end of input, which ends the pause at once
  console.endKeyMode();
  return StepResult::kDone;
}
