#pragma once
// The program's configuration file.

class Console;
struct Profile;
struct RunSettings;

// Reads the profile's configuration file from the current directory into the
// settings. Returns 1 when read, -1 when there is no file.
int readConfiguration(const Profile& profile, RunSettings& settings, Console& console);
