#pragma once
// Random HEX texts for fuzzing the reader: well-formed records of every type at
// any address, with random line ends and digit case, and damaged copies of them.

#include <random>
#include <string>

std::string randomHexText(std::mt19937& random);
// Overwrites, inserts, cuts and repeats pieces of the text.
std::string mutateHexText(std::string text, std::mt19937& random);
