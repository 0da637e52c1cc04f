// Downloads whose time follows their data, through both programs and their
// simulators: a bootloader at the top of a chip full of other firmware, a
// dense image whose frames are those every download has always sent, the
// check of the erased pages on request, and an EEPROM file downloaded twice.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "sim/avr_target.h"
#include "sim/sim_parts.h"
#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kPart = "ATmega88";  // 8 KB flash in 32-word pages, 512 bytes EEPROM
constexpr size_t kFlashBytes = 8192;
constexpr size_t kPageBytes = 64;

std::vector<uint8_t> denseBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes = randomBytes(size, seed);
  std::replace(bytes.begin(), bytes.end(), uint8_t{0xFF}, uint8_t{0x00});
  return bytes;
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string hexLine(std::initializer_list<int> bytes) {
  std::string line;
  char text[4];
  for (int b : bytes) {
    std::snprintf(text, sizeof text, line.empty() ? "%02X" : " %02X", b);
    line += text;
  }
  return line;
}

class SparseRun : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  // One run on the ATmega88 whose memories persist in chip.state; what the
  // target was sent lands in `trace` (korvo-sim's frames or the simulated
  // cable's instructions).
  ProcessResult run(const std::vector<std::string>& arguments, const std::string& trace) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.timeLimitSeconds = 300;
    const std::string state = dir.file("chip.state");
    if (GetParam() == Program::kPellory) {
      options.environment = simulatedCableEnvironment(kPart, state);
      options.environment["PELLORY_SIM_TRACE"] = trace;
      return runProcess(builtProgram("pellory"), arguments, options);
    }
    KorvoSimProcess korvo;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    if (!korvo.start(dir.file("ttyKorvo1"), {"--part", kPart, "--state", state, "--time-scale",
                                             scale, "--trace", trace})) {
      ADD_FAILURE() << korvo.error();
      return {};
    }
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    ProcessResult result = runProcess(builtProgram("tarnwick"), arguments, options);
    korvo.stop();  // the trace is complete once the simulator has ended
    return result;
  }

  // The instructions of a trace with the Korvo's command byte taken off, so
  // both programs' traces read alike.
  std::string instructions(const std::string& trace) {
    const std::string text = readFile(trace);
    if (GetParam() == Program::kPellory) return text;
    std::string out;
    for (const std::string& line : linesStartingWith(text, "77 ")) out += line.substr(3) + "\n";
    for (const std::string& line : linesStartingWith(text, "34 ")) out += line.substr(3) + "\n";
    return out;
  }

  std::vector<uint8_t> chipFlash() {
    SimClock clock;
    AvrTarget target(*findSimPart(kPart), clock);
    std::string error;
    EXPECT_TRUE(target.loadState(dir.file("chip.state"), &error)) << error;
    return target.flash();
  }

  TempDir dir;
};

// The bootloader case: a chip full of an application gets a 512-byte image at
// the top of its flash. The erase clears the application, only the image's
// pages are written and read back, and the chip then holds the image and
// 0xFF everywhere else.
TEST_P(SparseRun, ATopImageOntoAFullChipLeavesTheImageAndErasedFlash) {
  writeFile(dir.file("app.hex"), intelHexText(denseBytes(kFlashBytes, 21)));
  ProcessResult first = run({"-nv", "-dfapp.hex"}, dir.file("trace1"));
  ASSERT_EQ(first.exitStatus, 0) << first.output;
  ASSERT_EQ(chipFlash()[kFlashBytes / 2], denseBytes(kFlashBytes, 21)[kFlashBytes / 2]);

  const std::vector<uint8_t> boot = denseBytes(512, 22);
  writeFile(dir.file("boot.hex"), intelHexText(boot, kFlashBytes - 512));
  ProcessResult second = run({"-dfboot.hex"}, dir.file("trace2"));
  EXPECT_EQ(second.exitStatus, 0) << second.output;
  EXPECT_NE(second.output.find("Bytes written to target 8192   \n"), std::string::npos)
      << second.output;
  EXPECT_NE(second.output.find("\nTarget matches boot.hex\n"), std::string::npos)
      << second.output;

  std::vector<uint8_t> expected(kFlashBytes, 0xFF);
  std::copy(boot.begin(), boot.end(), expected.end() - 512);
  EXPECT_EQ(chipFlash(), expected);

  const std::string sent = instructions(dir.file("trace2"));
  EXPECT_EQ(linesStartingWith(sent, "4C ").size(), 512 / kPageBytes) << sent;
  EXPECT_EQ(linesStartingWith(sent, "40 ").size(), 256u);
  EXPECT_EQ(linesStartingWith(sent, "20 ").size(), 256u);  // low bytes read back
  EXPECT_EQ(linesStartingWith(sent, "20 00 00 00").size(), 0u);

  // tarnwick's fast variant, which reads no busy reply, skips the same pages.
  if (GetParam() != Program::kTarnwick) return;
  ASSERT_EQ(run({"-nv", "-dfapp.hex"}, dir.file("trace3")).exitStatus, 0);
  ProcessResult fast = run({"-dffboot.hex"}, dir.file("trace4"));
  EXPECT_EQ(fast.exitStatus, 0) << fast.output;
  EXPECT_EQ(chipFlash(), expected);
  EXPECT_EQ(linesStartingWith(instructions(dir.file("trace4")), "4C ").size(),
            512 / kPageBytes);
}

// A second download of the same EEPROM file finds every byte in place and
// writes none; a changed byte's 4-byte page is written alone.
TEST_P(SparseRun, TheSameEepromFileAgainWritesNothing) {
  std::vector<uint8_t> data = denseBytes(300, 23);
  writeFile(dir.file("data.hex"), intelHexText(data));
  ProcessResult first = run({"-dedata.hex"}, dir.file("trace1"));
  ASSERT_EQ(first.exitStatus, 0) << first.output;
  EXPECT_EQ(linesStartingWith(instructions(dir.file("trace1")), "C1 ").size(), 300u);
  EXPECT_EQ(linesStartingWith(instructions(dir.file("trace1")), "C2 ").size(), 75u);

  ProcessResult second = run({"-dedata.hex"}, dir.file("trace2"));
  EXPECT_EQ(second.exitStatus, 0) << second.output;
  EXPECT_NE(second.output.find("load file length = 300\nProgramming\n"
                               "Bytes written to target 300\n"),
            std::string::npos)
      << second.output;
  EXPECT_NE(second.output.find("Target matches data.hex\n"), std::string::npos) << second.output;
  EXPECT_TRUE(linesStartingWith(instructions(dir.file("trace2")), "C1 ").empty());
  EXPECT_TRUE(linesStartingWith(instructions(dir.file("trace2")), "C2 ").empty());

  data[17] = static_cast<uint8_t>(data[17] ^ 0x81);
  writeFile(dir.file("data.hex"), intelHexText(data));
  ProcessResult third = run({"-dedata.hex"}, dir.file("trace3"));
  EXPECT_EQ(third.exitStatus, 0) << third.output;
  EXPECT_EQ(linesStartingWith(instructions(dir.file("trace3")), "C2 "),
            (std::vector<std::string>{hexLine({0xC2, 0x00, 16, 0x00})}));
  const std::vector<std::string> loads = linesStartingWith(instructions(dir.file("trace3")), "C1 ");
  ASSERT_EQ(loads.size(), 4u);
  EXPECT_EQ(loads[1], hexLine({0xC1, 0x00, 17, data[17]}));
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, SparseRun,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? std::string("tarnwick")
                                                                   : std::string("pellory");
                         });

class SparseTarnwickFrames : public ::testing::Test {
 protected:
  void SetUp() override { writeRealCalibration(dir.path()); }
  ProcessResult runTarnwick(const std::vector<std::string>& arguments) {
    KorvoSimProcess korvo;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    if (!korvo.start(dir.file("ttyKorvo1"), {"--part", kPart, "--time-scale", scale, "--trace",
                                             dir.file("trace")})) {
      ADD_FAILURE() << korvo.error();
      return {};
    }
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.timeLimitSeconds = 300;
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    ProcessResult result = runProcess(builtProgram("tarnwick"), arguments, options);
    korvo.stop();
    return result;
  }
  TempDir dir;
};

// An image with no erased page sends the erase, the Load Extended Address, a
// low and a high page load for every word and a page write after every page
// and after the partial last one: the frames korvo-sim records are exactly
// those, in that order, with and without verification.
TEST_F(SparseTarnwickFrames, ADenseImageSendsEveryLoadAndPageWriteAsAlways) {
  const size_t n = 5 * kPageBytes + 10;
  const std::vector<uint8_t> image = denseBytes(n, 24);
  writeFile(dir.file("image.hex"), intelHexText(image));
  std::vector<std::string> expected = {hexLine({0x77, 0xAC, 0x80, 0x00, 0x00}),
                                       hexLine({0x77, 0x4D, 0x00, 0x00, 0x00})};
  const size_t pageWords = kPageBytes / 2;
  for (size_t a = 0; a < n; a += 2) {
    const int index = static_cast<int>((a / 2) % pageWords);
    expected.push_back(hexLine({0x77, 0x40, 0x00, index, image[a]}));
    expected.push_back(hexLine({0x77, 0x48, 0x00, index, image[a + 1]}));
    if (static_cast<size_t>(index) == pageWords - 1 || a + 2 >= n) {
      const int page = static_cast<int>(a / 2 - static_cast<size_t>(index));
      expected.push_back(hexLine({0x77, 0x4C, page >> 8, page & 0xFF, 0x00}));
    }
  }
  for (const char* verify : {"-nv", "-v"}) {
    std::remove(dir.file("trace").c_str());
    ProcessResult result = runTarnwick({verify, "-dfimage.hex"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    const std::string trace = readFile(dir.file("trace"));
    // The read back selects its address block once more before reading.
    std::vector<std::string> frames = expected;
    if (verify == std::string("-v")) frames.push_back(hexLine({0x77, 0x4D, 0x00, 0x00, 0x00}));
    EXPECT_EQ(joined(linesStartingWith(trace, "77 ")), joined(frames)) << verify;
    // With verification every word of the image is read back once.
    const size_t reads = linesStartingWith(trace, "34 20 ").size();
    EXPECT_EQ(reads, verify == std::string("-v") ? n / 2 : 0u) << verify;
  }
}

// --verify-erased reads the pages left to the erase as well, in every
// download of the run: the reset of the settings after a transfer keeps it.
TEST_F(SparseTarnwickFrames, VerifyErasedReadsTheSkippedPagesInEveryDownload) {
  writeFile(dir.file("boot.hex"), intelHexText(denseBytes(kPageBytes, 25), kFlashBytes - 64));
  ProcessResult plain = runTarnwick({"-dfboot.hex"});
  EXPECT_EQ(plain.exitStatus, 0) << plain.output;
  EXPECT_EQ(linesStartingWith(readFile(dir.file("trace")), "34 20 ").size(), kPageBytes / 2);

  std::remove(dir.file("trace").c_str());
  ProcessResult checked = runTarnwick({"--verify-erased", "-dfboot.hex", "-dfboot.hex"});
  EXPECT_EQ(checked.exitStatus, 0) << checked.output;
  const std::string trace = readFile(dir.file("trace"));
  EXPECT_EQ(linesStartingWith(trace, "77 4C ").size(), 2u);  // one page in each download
  EXPECT_EQ(linesStartingWith(trace, "34 20 ").size(), kFlashBytes);  // all words, twice
  EXPECT_EQ(linesStartingWith(trace, "34 20 00 00 00").size(), 2u);
}

}  // namespace
