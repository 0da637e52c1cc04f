#pragma once
// The example firmware built by the AVR toolchain (examples/build.sh), for
// tests that compare against what the toolchain itself makes of it.

#include <string>

// True when avr-gcc and avr-objcopy are on the path.
bool haveAvrToolchain();

// Folder holding the examples built for `mcu` (lower case, as avr-gcc's
// -mmcu takes it): NAME.elf, NAME.hex and NAME.bin for blink, table and
// eeprom_data, and eeprom_data.eep.hex/.bin. Built once per build tree; ""
// when the build failed.
std::string builtExamples(const std::string& mcu);
