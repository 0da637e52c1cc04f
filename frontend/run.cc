#include "frontend/run.h"

#include <string>
#include <vector>

#include "engine/programming_mode.h"
#include "frontend/board_loop.h"
#include "frontend/command_interpreter.h"
#include "frontend/configuration.h"
#include "frontend/help_text.h"
#include "frontend/logged_console.h"
#include "frontend/long_options.h"
#include "frontend/standard_stream_files.h"
#include "frontend/startup.h"
#include "run/session.h"
#include "timing/delay.h"

namespace {

void printBanner(Session& session) {
  const Profile& profile = session.profile;
  const RunSettings& settings = session.settings;
  session.console.print("%s V%d.%.2d\n", profile.bannerTitle, profile.versionMajor,
                        profile.versionMinor);
  if (profile.bannerShowsChannel) {
    int rate = baudRateFromCode(settings.baudCode);
    if (!settings.comDevicePath.empty()) {
      session.console.print("Default com channel is %s, baud rate %d\n",
                            settings.comDevicePath.c_str(), rate);
    } else {
      session.console.print("Default com channel is com%d, baud rate %d\n", settings.comChannel + 1,
                            rate);
    }
  }
  session.console.print("Type 'e' to exit, 'p' to pause, 'h' for help)\n\n");
}

bool hasCommandArguments(int argc) {
  return argc > 1;
}

int runCommands(Session& session, LoggedConsole& lines, const BoardRun& boards, int argc,
                char** argv) {
  if (!hasCommandArguments(argc)) {
    session.commandsFromStandardInput = true;
    return runPrompt(session);
  }
  int status = boards.active() ? runBoards(session, lines, boards, argc, argv)
                               : runCommandLine(session, argc, argv);
  if (status == kExitCommand) return status;
  leaveProgrammingMode(session);
  return status;
}

void endRun(Session& session, bool keyWait) {
  const Profile& profile = session.profile;
  session.console.write(profile.closingLine);
  const bool waitsForKey = keyWait && profile.waitForKeyAtEnd && session.console.isTerminal();
  // A waiting run ends with the user's key; any other would leave the shell's
  // prompt on the closing line.
  if (!waitsForKey) session.console.write("\n");
  session.console.flush();
  if (waitsForKey) {
    session.console.beginKeyMode();
    session.console.readKey();
    session.console.endKeyMode();
  }
}

}  // namespace

int runProgram(const Profile& profile, Console& realConsole, int argc, char** argv) {
  LongOptions options = readLongOptions(profile, argc, argv);
  if (options.endRun()) return answerLongOptions(profile, options, realConsole, stderr);
  argc = options.commandCount();
  argv = options.commandVector();
  if (commandLineUsesStandardStreams(profile, argc, argv)) realConsole.sendTextToStandardError();

  LoggedConsole console(realConsole);
  Session session(profile, console);
  console.copyLinesTo(&session.logStream);
  // The user's parts join the catalogue as it is filled, before the settings.
  std::vector<std::string> partsMessages;
  readUserParts(profile, session.catalogue, &partsMessages);
  for (const std::string& message : partsMessages) console.print("%s\n", message.c_str());
  session.settings.portOption = options.port;
  session.settings.verifyErased = options.verifyErased;
  session.forceFuses = options.forceFuses;
  session.forcePart = options.forcePart;
  session.explainFuses = options.explainFuses;
  session.settings.hexRecordType = 4;
  restoreDefaultSettings(session);
  if (profile.link == LinkKind::kKorvo && !chooseSerialDevice(session)) return kExitCommandFailed;
  printBanner(session);
  calibrateDelay(console, calibrationPlaces(profile.programName));

  int status = kExitOk;
  try {
    std::unique_ptr<IspLink> link =
        profile.link == LinkKind::kKorvo ? startKorvo(session) : startMarlow(session);
    if (!link) {
      console.write(profile.notInstalledLine);
      status = kExitProgrammerMissing;
    } else {
      session.link = link.get();
      status = runCommands(session, console, options.boards, argc, argv);
      session.link = nullptr;
      if (status == kExitCommand) {
        // At a terminal the Enter after the exit command ended the line; from
        // the command line or a pipe nothing did.
        if ((hasCommandArguments(argc) || !console.isTerminal()) && !console.endsLine()) {
          console.write("\n");
        }
        console.flush();
        return status;
      }
    }
  } catch (const LinkLostError& lost) {
    console.write(lost.what());
    console.flush();
    return kExitLinkLost;
  } catch (...) {
    // Outside any one command (start-up, reading a script): the run still ends
    // through its closing line, and what was printed before stays printed.
    session.link = nullptr;
    printCommandFault(console);
    status = kExitCommandFailed;
  }
  endRun(session, !options.noWait);
  return status;
}
