#pragma once
// The hexadecimal arguments of the fuse and lock commands. A value the user did
// not give is never written, so these refuse rather than guess: one fuse or
// lock byte is one or two hexadecimal digits and nothing else, so that a digit
// too many or a stray letter cannot leave a different byte behind.

#include <cstdint>
#include <string_view>

// A "%x" number anywhere it starts the text; its low 8 bits. False when the
// text holds no hexadecimal number. For settings such as the fill character.
bool parseHexByte(std::string_view text, uint8_t& value);

// A fuse or lock value: one or two hexadecimal digits, nothing before or after
// them. False, with `value` untouched, for anything else.
bool parseFuseByte(std::string_view text, uint8_t& value);

// "pfa" arguments: exactly three fields at two commas, each one byte as
// parseFuseByte takes it, as in 62,d9,ff. Values come back in the order given
// (low, high, extended). False, with values untouched, for anything else.
bool parseFuseTriple(std::string_view text, uint8_t values[3]);
