#pragma once
// A download from an ELF file that names its part is checked against the
// target before anything is erased: firmware linked for another chip would
// program and verify without a word, and then not run.

#include <string>

struct ElfPart;
struct Session;

// True when the file names no part, names the target's, or the run was started
// with --force-part (which then says so). Otherwise prints
// "FILE was built for PART (SIG); the target is PART (SIG) - nothing programmed"
// and returns false.
bool fileSuitsTarget(Session& session, const std::string& fileName, const ElfPart& elf);

// The part check, then, unless the whole chip is being written, a note that
// the file's .fuse and .lock sections are left alone and which command
// writes them. False when the part check refused the file.
bool checkElfBeforeErase(Session& session, const std::string& fileName, const ElfPart& elf);
