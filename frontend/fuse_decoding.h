#pragma once
// --decode-fuses: fuse bytes told bit by bit for a part named on the command
// line, without touching any hardware.

#include <cstdio>
#include <string>
#include <vector>

class Console;
struct Profile;

// arguments: the part's name (letter case ignored) as the program's part
// table has it, the low and high fuse bytes and, optionally, the extended one.
// Prints the decoding on the console and returns kExitOk; a name or byte it
// cannot use gets one line on `errors` and kExitCommandFailed.
int decodeFuses(const Profile& profile, const std::vector<std::string>& arguments, Console& console,
                std::FILE* errors);
