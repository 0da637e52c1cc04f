#pragma once

class Console;
struct Profile;

// One whole run of a program: start-up, the command line or the prompt, and the
// end of the run. Returns the process exit status.
int runProgram(const Profile& profile, Console& console, int argc, char** argv);
