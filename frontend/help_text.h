#pragma once

#include <cstddef>

#include "catalogue/part_record.h"

class Console;
struct Profile;

const char* const* tarnwickHelpLines();
size_t tarnwickHelpLineCount();
const char* const* pelloryHelpLines();
size_t pelloryHelpLineCount();

// The "h" command: the program's help text, one output string a line, with a
// line after the fixed list of parts counting the catalogue's others.
void printHelp(const Profile& profile, const PartCatalogue& catalogue, Console& console);
// The same for the built-in parts alone.
void printHelp(const Profile& profile, Console& console);
// The catalogue's parts that the help's fixed list does not name.
int partsNotNamedInHelp(const Profile& profile, const PartCatalogue& catalogue);
