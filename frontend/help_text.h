#pragma once

#include <cstddef>

class Console;
struct Profile;

const char* const* tarnwickHelpLines();
size_t tarnwickHelpLineCount();
const char* const* pelloryHelpLines();
size_t pelloryHelpLineCount();

// The "h" command: the program's help text, one output string a line.
void printHelp(const Profile& profile, Console& console);
