#pragma once
// What tells the two programs apart, as data: each main picks its profile
// (frontend/profile.h), and every layer below reads it from the session.

#include <cstddef>

#include "catalogue/part_record.h"

class Console;
struct RunSettings;

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
  // "ce" waits for the erase to end (the Korvo's busy command) and fails on a
  // timeout; the Marlow's sends the erase and goes on, as it always has.
  bool chipEraseWaits;
  bool hasTerminalMode;  // "t"
  // What --port DEVICE means for this program, as --help explains it.
  const char* portOptionHelp;
  // Reads the program's configuration file over the settings; the engine puts
  // the defaults back after every transfer, so it reaches the reader through
  // here rather than through the front end that owns the file.
  int (*readConfiguration)(const Profile& profile, RunSettings& settings, Console& console);
};
