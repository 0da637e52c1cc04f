// Where the configuration file is looked for beyond the current directory
// (the XDG folder, then /etc), and --port, which outlasts every re-read of it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "frontend/configuration.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/run_settings.h"
#include "run/session.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kVariables[] = {"XDG_CONFIG_HOME", "HOME", "AVRISP_ETC_ROOT"};

class ConfigurationPlacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
    }
    dir.enter();
    makeFolder("work");
    ASSERT_EQ(chdir(dir.file("work").c_str()), 0);
    setenv("HOME", dir.file("home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("AVRISP_ETC_ROOT", dir.file("etc").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : kVariables) {
      auto found = saved_.find(name);
      if (found == saved_.end()) {
        unsetenv(name);
      } else {
        setenv(name, found->second.c_str(), 1);
      }
    }
  }

  void makeFolder(const std::string& relative) {
    std::string path = dir.path();
    size_t start = 0;
    while (start <= relative.size()) {
      size_t end = relative.find('/', start);
      if (end == std::string::npos) end = relative.size();
      path += "/" + relative.substr(start, end - start);
      mkdir(path.c_str(), 0755);
      start = end + 1;
    }
  }
  void writeConfig(const std::string& folder, const std::string& channel) {
    makeFolder(folder);
    writeFile(dir.file(folder + "/sfconfig.txt"), "comchannel " + channel + "\n");
  }
  int channelRead() {
    RunSettings settings;
    readConfiguration(tarnwickProfile(), settings, console);
    return settings.comChannel;
  }

  TempDir dir;
  ScriptedConsole console;

 private:
  std::map<std::string, std::string> saved_;
};

TEST_F(ConfigurationPlacesTest, CurrentDirectoryThenTheUsersFolderThenEtc) {
  EXPECT_EQ(
      configurationPlaces(tarnwickProfile()),
      (std::vector<std::string>{"./sfconfig.txt", dir.file("home/.config/tarnwick/sfconfig.txt"),
                                dir.file("etc/tarnwick/sfconfig.txt")}));
  EXPECT_EQ(channelRead(), 1);  // none anywhere: the default COM2

  writeConfig("etc/tarnwick", "com5");
  EXPECT_EQ(channelRead(), 4);
  writeConfig("home/.config/tarnwick", "com6");
  EXPECT_EQ(channelRead(), 5);
  writeConfig("work", "com7");
  EXPECT_EQ(channelRead(), 6);

  // XDG_CONFIG_HOME moves the user's folder; a relative one is ignored.
  setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
  EXPECT_EQ(configurationPlaces(pelloryProfile())[1], dir.file("xdg/pellory/pelloryconfig.txt"));
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(configurationPlaces(pelloryProfile())[1],
            dir.file("home/.config/pellory/pelloryconfig.txt"));
  unsetenv("HOME");
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("AVRISP_ETC_ROOT");
  EXPECT_EQ(configurationPlaces(pelloryProfile()),
            (std::vector<std::string>{"./pelloryconfig.txt", "/etc/pellory/pelloryconfig.txt"}));
}

TEST_F(ConfigurationPlacesTest, PortOptionWinsOverTheFileAtEveryReset) {
  writeConfig("work", "com3");
  writeFile(dir.file("work/pelloryconfig.txt"), "lptport 278\n");

  ScriptedConsole korvoConsole;
  Session korvo(tarnwickProfile(), korvoConsole);
  struct Case {
    const char* option;
    int channel;
    const char* path;
  };
  for (const Case& c : {Case{"/dev/serial/by-id/usb-Korvo", 2, "/dev/serial/by-id/usb-Korvo"},
                        Case{"ttyKorvo", 2, "ttyKorvo"}, Case{"com12", 11, ""}, Case{"COM1", 0, ""},
                        Case{"combo", 2, "combo"}, Case{"./COM0", 2, "./COM0"}}) {
    SCOPED_TRACE(c.option);
    korvo.settings.portOption = c.option;
    restoreDefaultSettings(korvo);
    korvo.settings.comChannel = 7;  // as the channel prompt would
    korvo.settings.comDevicePath = "/dev/elsewhere";
    restoreDefaultSettings(korvo);
    // A path leaves the configured channel; COMn replaces both.
    EXPECT_EQ(korvo.settings.comChannel, c.channel);
    EXPECT_EQ(korvo.settings.comDevicePath, c.path);
  }
  EXPECT_EQ(korvoConsole.output(), "");

  ScriptedConsole marlowConsole;
  Session marlow(pelloryProfile(), marlowConsole);
  marlow.settings.portOption = "0x3BC";
  restoreDefaultSettings(marlow);
  EXPECT_EQ(marlow.settings.lptDataPort, 0x3BC);
  EXPECT_EQ(marlow.settings.lptStatusPort, 0x3BD);
  EXPECT_EQ(marlow.settings.lptControlPort, 0x3BE);
  RunSettings untouched;
  EXPECT_FALSE(applyPortOption(pelloryProfile(), "3bc:", untouched));
  EXPECT_EQ(untouched.lptDataPort, 0x378);
}

}  // namespace
