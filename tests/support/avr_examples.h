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

// `text` in lower case, as avr-gcc's -mmcu takes a part's name.
std::string lower(std::string text);

// True when `name` is a command on the path.
bool haveTool(const std::string& name);

// Binary image of a HEX file as srec_cat reads it (checksums checked), written
// to `bin` and returned; a text saying so when srec_cat failed.
std::string hexToBinary(const std::string& hex, const std::string& bin);

// `data` without its trailing 0xFF bytes, as an erased chip pads an image.
std::string trimmedOfErased(std::string data);
