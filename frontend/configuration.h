#pragma once
// The program's configuration file.

#include <string>
#include <vector>

class Console;
struct Profile;
struct RunSettings;

// Reads the profile's configuration file into the settings, from the first of
// configurationPlaces() that exists. Returns 1 when read, -1 when there is none.
int readConfiguration(const Profile& profile, RunSettings& settings, Console& console);

// Where the configuration file is looked for, in order: the current directory,
// $XDG_CONFIG_HOME/<program>/ (~/.config/<program>/ when that is unset), then
// /etc/<program>/ (AVRISP_ETC_ROOT replaces /etc).
std::vector<std::string> configurationPlaces(const Profile& profile);
