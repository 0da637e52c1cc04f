#pragma once
// The user's own folders for what a program keeps between runs, after XDG's
// base-directory rules: a cache (things that can be measured again) and a
// state folder (things worth keeping, such as the prompt history).

#include <string>
#include <vector>

enum class UserFolder { kCache, kState };

// $XDG_CACHE_HOME/<program> (else ~/.cache/<program>), or
// $XDG_STATE_HOME/<program> (else ~/.local/state/<program>). A relative XDG
// value is ignored, as the rules say. Empty when neither the variable nor HOME
// gives a place.
std::string userFolder(UserFolder kind, const std::string& programName);

// Creates `path` and any missing folders above it, private to the user (0700)
// as the rules ask; true when the folder is there afterwards.
bool makeUserFolder(const std::string& path);

// Where `programName` looks for the configuration file `fileName`, in order:
// the current folder, $XDG_CONFIG_HOME/<program>/ (else ~/.config/<program>/),
// then /etc/<program>/ ($AVRISP_ETC_ROOT in place of /etc, for tests).
std::vector<std::string> configurationFilePlaces(const std::string& programName,
                                                 const std::string& fileName);
