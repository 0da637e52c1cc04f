#pragma once
// The program's configuration file.

#include <string>
#include <vector>

class Console;
struct PartCatalogue;
struct Profile;
struct RunSettings;

// Reads the profile's configuration file into the settings, from the first of
// configurationPlaces() that exists. Returns 1 when read, -1 when there is none.
int readConfiguration(const Profile& profile, RunSettings& settings, Console& console);

// Where the configuration file is looked for, in order: the current directory,
// $XDG_CONFIG_HOME/<program>/ (~/.config/<program>/ when that is unset), then
// /etc/<program>/ (AVRISP_ETC_ROOT replaces /etc).
std::vector<std::string> configurationPlaces(const Profile& profile);

// The same places for another file of the program's: "parts.txt".
std::vector<std::string> configurationPlacesFor(const Profile& profile, const std::string& name);

// The user's parts: reads the first parts.txt of the configuration places
// into the catalogue (catalogue/parts_file.h gives the format). Each message
// (a bad line, a replaced part) is one line, without its line end. Returns the
// path read, or "" when there is no parts.txt.
// Reads the parts.txt at `path` into the catalogue (catalogue/parts_file.h
// gives the format and the messages). Returns the number of parts taken, or
// -1 when the file cannot be read or is no regular file.
int readPartsFile(PartCatalogue& catalogue, const std::string& path,
                  std::vector<std::string>* messages);

std::string readUserParts(const Profile& profile, PartCatalogue& catalogue,
                          std::vector<std::string>* messages);
