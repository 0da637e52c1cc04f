#pragma once
// tarnwick's fixed start-up texts, as the tests of its start-up expect them.

#include <cstdio>
#include <string>

namespace korvo_text {

const std::string kBanner =
    "Korvo ISP Programming Utility V1.05\n"
    "Default com channel is com2, baud rate 115200\n"
    "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n";
const std::string kPrompt = "Enter new com channel [1,2,3,4,5,6,7,8,e]: ";
const std::string kHints =
    "\nThe default com channel can be set by creating a text file\n"
    "called sfconfig.txt in the current directory with the two lines:\n\n"
    "   comchannel comx\n"
    "   baudrate 38400\n\n"
    " where x is the COM port id\n\n";
const std::string kSignOnHeading = "Output Korvo Signon message:\n";

// The port error for an open that failed with `error` (an errno value).
inline std::string portError(int error) {
  char text[256];
  std::snprintf(text, sizeof text,
                "\nERROR: Com port id maybe wrong or in use by another application\n"
                "       Select another com port or clear conflict - : %d\n\n",
                error);
  return text;
}

// The port error for a device that does not exist, with the lines that follow
// it on a machine whose `devRoot` holds no serial device.
inline std::string missingPortError(const std::string& device, const std::string& devRoot) {
  return portError(2) + device + ": No such file or directory\n" +
         "  Is the Korvo plugged in? Its device appears when it is.\n" +
         "No serial devices found (looked for " + devRoot + "/serial/by-id/*, " + devRoot +
         "/ttyUSB*, " + devRoot + "/ttyACM*).\n\n";
}

}  // namespace korvo_text
