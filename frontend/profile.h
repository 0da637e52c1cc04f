#pragma once
// What tells the two programs apart, as data: each main picks its profile.

#include <cstddef>

#include "catalogue/part_record.h"

enum class LinkKind { kKorvo, kMarlow };

struct Profile {
  const char* programName;
  LinkKind link;
  const char* bannerTitle;  // printed with the version as "%s V%d.%.2d\n"
  int versionMajor;
  int versionMinor;
  bool bannerShowsChannel;
  const char* configFileName;
  size_t configTokenRoom;  // longest configuration token, in characters
  const char* const* helpLines;
  size_t helpLineCount;
  const PartRows& (*partRows)();
  const char* notInstalledLine;
  const char* closingLine;
  bool waitForKeyAtEnd;  // only ever honoured when the console is a terminal
  bool echoCommandLine;  // echo "\n-" and each command-line token before it runs
  // Commands only one program has.
  bool hasFastDownload;  // "dff"
  bool hasChipErase;     // "ce"
  bool hasTerminalMode;  // "t"
  // What --port DEVICE means for this program, as --help explains it.
  const char* portOptionHelp;
};

const Profile& tarnwickProfile();
const Profile& pelloryProfile();
