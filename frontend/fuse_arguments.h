#pragma once
// The hexadecimal arguments of the fuse and lock commands. A value the user did
// not give is never written, so these refuse rather than guess.

#include <cstdint>
#include <string_view>

// A "%x" number anywhere it starts the text; its low 8 bits. False when the
// text holds no hexadecimal number.
bool parseHexByte(std::string_view text, uint8_t& value);

// "pfa" arguments: exactly three fields at two commas, each of at most three
// characters holding a hexadecimal number, as in 62,d9,ff. Values come back in
// the order given (low, high, extended). False, with values untouched, for
// anything else.
bool parseFuseTriple(std::string_view text, uint8_t values[3]);
