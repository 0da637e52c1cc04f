// The README's command reference is the programs' own help text, so the two
// never drift apart.

#include <gtest/gtest.h>

#include <string>

#include "frontend/help_text.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "sim/korvo_sim_options.h"
#include "tests/support/temp_dir.h"

namespace {

std::string readmeBlock(const std::string& readme, const std::string& marker) {
  size_t at = readme.find("<!-- help:" + marker + " -->\n```\n");
  if (at == std::string::npos) return "<no block for " + marker + ">";
  size_t start = readme.find("```\n", at) + 4;
  size_t end = readme.find("```\n", start);
  return readme.substr(start, end - start);
}

TEST(ReadmeHelp, CommandReferenceMatchesTheHelpText) {
  std::string readme = readFile(std::string(AVRISP_SOURCE_DIR) + "/README.md");
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    SCOPED_TRACE(profile->programName);
    ScriptedConsole console;
    printHelp(*profile, console);
    EXPECT_EQ(readmeBlock(readme, profile->programName), console.output());
  }
}

TEST(ReadmeHelp, SimulatorHelpMatchesKorvoSim) {
  std::string readme = readFile(std::string(AVRISP_SOURCE_DIR) + "/README.md");
  EXPECT_EQ(readmeBlock(readme, "korvo-sim"), korvoSimHelpText());
}

}  // namespace
