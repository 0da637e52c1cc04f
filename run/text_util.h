#pragma once
// Small text helpers shared by the configuration reader and the interpreter.

#include <string>
#include <string_view>

// Letter case ignored, whole texts compared.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Letter case ignored, the first `length` characters compared (the shorter text
// must still match as far as it goes and be at least `length` long).
bool prefixEqualsIgnoreCase(std::string_view text, std::string_view word, size_t length);

// Reads a hexadecimal number the way the "%x" conversion does: optional white
// space, optional sign, optional "0x"/"0X", then hexadecimal digits up to the
// first other character. False when no digit was found.
bool scanHex(std::string_view text, unsigned long& value);
