#include "frontend/standard_stream_files.h"

#include <cstring>
#include <string>

#include "frontend/command_table.h"

namespace {

bool transfersAFile(const CommandRow& row) {
  static const char* const kWords[] = {"dff", "df", "de", "dc", "ld", "uf", "ue", "uc"};
  if (row.argument != ArgumentKind::kFileName) return false;
  for (const char* word : kWords) {
    if (std::strcmp(row.word, word) == 0) return true;
  }
  return false;
}

}  // namespace

bool commandLineUsesStandardStreams(const Profile& profile, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument == nullptr || argument[0] != '-') continue;
    const std::string token(argument + 1);
    const CommandRow* row = findCommand(profile, token);
    if (row != nullptr && transfersAFile(*row) && token.size() == row->comparedLength + 1 &&
        token.back() == '-') {
      return true;
    }
  }
  return false;
}
