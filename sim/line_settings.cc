#include "sim/line_settings.h"

#include <string>

namespace {

struct SpeedRow {
  speed_t code;
  long baud;
};

constexpr SpeedRow kSpeeds[] = {
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
};

// The rates the Korvo's USB-serial bridge runs at.
constexpr long kMinimumBaud = 1200;
constexpr long kMaximumBaud = 115200;

void add(std::string& problems, const std::string& phrase) {
  if (!problems.empty()) problems += "; ";
  problems += phrase;
}

}  // namespace

long baudFromSpeed(speed_t speed) {
  for (const SpeedRow& row : kSpeeds) {
    if (row.code == speed) return row.baud;
  }
  return 0;
}

LineSettings judgeLineSettings(const termios& settings) {
  LineSettings judged;
  judged.baud = baudFromSpeed(cfgetospeed(&settings));
  if ((settings.c_cflag & CSIZE) != CS8) add(judged.problems, "data bits are not 8");
  if (settings.c_cflag & PARENB) add(judged.problems, "parity is on, expected none");
  if (settings.c_cflag & CSTOPB) add(judged.problems, "two stop bits, expected one");
  if (judged.baud == 0) {
    add(judged.problems, "baud rate is 0 or unknown");
  } else if (judged.baud < kMinimumBaud || judged.baud > kMaximumBaud) {
    add(judged.problems, "baud rate " + std::to_string(judged.baud) + " is outside 1200..115200");
  }
  const long inputBaud = baudFromSpeed(cfgetispeed(&settings));
  if (inputBaud != 0 && inputBaud != judged.baud) {
    add(judged.problems, "input and output baud rates differ");
  }
  judged.echoes = (settings.c_lflag & (ICANON | ECHO)) != 0;
  if (judged.echoes) add(judged.problems, "line not in raw mode (canonical input or echo on)");
  return judged;
}
