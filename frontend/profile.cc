#include "frontend/profile.h"

#include "frontend/configuration.h"
#include "frontend/help_text.h"

const Profile& tarnwickProfile() {
  static const Profile profile = {
      "tarnwick",
      LinkKind::kKorvo,
      "Korvo ISP Programming Utility",
      1,
      5,
      true,
      "sfconfig.txt",
      99,
      tarnwickHelpLines(),
      tarnwickHelpLineCount(),
      korvoPartRows,
      "\nKorvo not installed\n",
      "\nProgram finished - hit any key to exit!",
      true,
      false,
      true,
      true,
      true,
      true,
      "  --port DEVICE   the Korvo's serial device for this run, over sfconfig.txt:\n"
      "                  a path (/dev/ttyUSB0, /dev/serial/by-id/...) or COMn\n",
      readConfiguration,
  };
  return profile;
}

const Profile& pelloryProfile() {
  static const Profile profile = {
      "pellory",
      LinkKind::kMarlow,
      "Marlow Programming Utility",
      1,
      8,
      false,
      "pelloryconfig.txt",
      199,
      pelloryHelpLines(),
      pelloryHelpLineCount(),
      marlowPartRows,
      "\nMarlow not installed\n",
      "\nProgram finished!",
      false,
      true,
      false,
      true,
      false,
      false,
      "  --port ADDRESS  the parallel port's I/O address for this run, in\n"
      "                  hexadecimal (--port 0x278), over pelloryconfig.txt\n",
      readConfiguration,
  };
  return profile;
}
