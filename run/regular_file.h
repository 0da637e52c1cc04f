#pragma once
// Opening the files a run reads at start-up or on command (configuration,
// calibration, scripts) so that a name pointing at something that is not a
// plain file cannot stall the run: a FIFO would block the open for ever, and
// /dev/zero or a folder would be read without end or fail part way.

#include <cstddef>
#include <cstdio>
#include <string>

#include "run/output_sink.h"

// The reason given for a name that exists but is no regular file.
extern const char* const kNotRegularFileReason;

// Opens `path` for reading and returns its descriptor (close-on-exec) when it
// is a regular file, followed through links; -1 otherwise, with `reason` the
// system's text for the error or kNotRegularFileReason. The open itself never
// blocks, and the type is checked on the descriptor opened, so the name cannot
// be swapped for something else between the check and the open.
int openRegularFile(const std::string& path, std::string& reason);

// openRegularFile as a stream for reading. A name that is missing or cannot be
// opened gives nullptr silently; one that names something else also gives
// nullptr, after one line on the console saying it is ignored.
std::FILE* openRegularStream(const std::string& path, OutputSink& console);

// The whole text of the regular file at `path`, opened as openRegularFile
// opens it; false, with `reason`, when it cannot be, or is longer than `limit`.
bool readRegularFileText(const std::string& path, size_t limit, std::string& text,
                         std::string& reason);

// The one line naming a file that readRegularFileText could not read, with
// `limit` as it was given: empty for a file that is not there, which is no
// fault, otherwise "PATH is not a regular file - ignored", "PATH is larger
// than LIMIT bytes - ignored" or "PATH: REASON - ignored".
std::string unreadableFileLine(const std::string& path, const std::string& reason, size_t limit);
