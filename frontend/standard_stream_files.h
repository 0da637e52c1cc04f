#pragma once
// A download or upload file named "-" is standard input or output. On the
// command line that decides, before anything is printed, that the console's
// text goes to standard error, so the file's bytes pass through unmixed.

struct Profile;

// True when a command-line download (df, dff, de, dc, ld) or upload (uf, ue, uc) names
// the file "-".
bool commandLineUsesStandardStreams(const Profile& profile, int argc, char** argv);
