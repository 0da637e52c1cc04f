// Any text as either program's configuration file.

#include <cstdint>
#include <cstdio>
#include <string>

#include "frontend/configuration.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/run_settings.h"
#include "tests/fuzz/fuzz_folder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_folder::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    if (std::FILE* file = std::fopen(profile->configFileName, "wb")) {
      std::fwrite(data, 1, size, file);
      std::fclose(file);
    }
    RunSettings settings;
    ScriptedConsole console;
    readConfiguration(*profile, settings, console);
  }
  fuzz_folder::empty();
  return 0;
}
