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

}  // namespace korvo_text
