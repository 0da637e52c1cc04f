#pragma once
// What the Korvo expects of the host's serial line, judged from the settings
// the host left on the pseudo-terminal.

#include <termios.h>

#include <string>

struct LineSettings {
  long baud = 0;  // bits per second; 0 when the line is hung up or unknown
  // Empty when the line suits the Korvo, otherwise one phrase per fault,
  // joined with "; ".
  std::string problems;
  // Canonical mode or local echo left on: bytes the Korvo sends would be
  // turned round by the line discipline and come back as if the host sent them.
  bool echoes = false;
};

LineSettings judgeLineSettings(const termios& settings);

// Bits per second for a termios speed constant; 0 for B0 or one not known.
long baudFromSpeed(speed_t speed);
