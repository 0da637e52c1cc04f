// The korvo-sim program seen from a host that knows nothing of this project:
// plain termios calls on the link it publishes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

const std::string kProgram = std::string(AVRISP_BINARY_DIR) + "/sim/korvo-sim";
constexpr int kPatienceMillis = 10'000;

bool linkExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Runs korvo-sim with its standard error in a file; stops it with SIGTERM.
class KorvoSimProcess {
 public:
  KorvoSimProcess(const TempDir& dir, std::vector<std::string> args)
      : link_(dir.file("korvo")), errors_(dir.file("stderr.txt")) {
    args.insert(args.begin(), {kProgram, "--link", link_});
    pid_ = fork();
    if (pid_ == 0) {
      const int err = open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(kProgram.c_str(), argv.data());
      _exit(127);
    }
  }
  ~KorvoSimProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  const std::string& link() const { return link_; }
  // Holds the program still, as a busy machine may, and lets it go on.
  void pause() { kill(pid_, SIGSTOP); }
  void resume() { kill(pid_, SIGCONT); }
  std::string errors() const { return readFile(errors_); }

  // Bounded: polls for the link every few milliseconds, gives up after the
  // patience limit (or when the program has died).
  bool waitForLink() {
    for (int waited = 0; waited < kPatienceMillis; waited += 5) {
      if (linkExists(link_)) return true;
      if (hasExited()) return false;
      poll(nullptr, 0, 5);
    }
    return false;
  }

  // The exit status after SIGTERM, or -1 when it did not end in time.
  int stop() {
    kill(pid_, SIGTERM);
    return waitForExit();
  }
  int waitForExit() {
    for (int waited = 0; waited < kPatienceMillis; waited += 5) {
      if (hasExited()) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
      poll(nullptr, 0, 5);
    }
    return -1;
  }

 private:
  bool hasExited() {
    if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return exited_;
  }

  std::string link_;
  std::string errors_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

// The host side: raw 8N1 at 38400, as a serial programmer needs.
class HostPort {
 public:
  explicit HostPort(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    termios settings;
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    settings.c_cflag &= ~(CSTOPB | PARENB);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &settings);
  }
  ~HostPort() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool isOpen() const { return fd_ >= 0; }

  void send(const std::string& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void sendFrame(char kind, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    send(std::string{kind, static_cast<char>(b1), static_cast<char>(b2), static_cast<char>(b3),
                     static_cast<char>(b4)});
  }

  // Reads up to and including `last`; "" when the patience ran out first.
  std::string readUntil(char last) {
    std::string got;
    char byte = 0;
    while (readByte(kPatienceMillis, &byte) == 1) {
      got += byte;
      if (byte == last) return got;
    }
    return "";
  }
  // 1 = a byte, 0 = nothing within the time, -1 = hang-up or error.
  int readByte(int millis, char* byte) {
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, millis) <= 0) return 0;
    if (ready.revents & POLLIN) {
      if (read(fd_, byte, 1) == 1) return 1;
    }
    return -1;
  }

 private:
  int fd_ = -1;
};

// RESET must stay low 20 ms of (scaled) target time before Programming Enable;
// the host lets a few real milliseconds pass, checking meanwhile that the Korvo
// sends nothing of its own.
void expectQuietFor(HostPort& host, int millis) {
  char byte = 0;
  EXPECT_EQ(host.readByte(millis, &byte), 0);
}

void enterProgrammingMode(HostPort& host) {
  host.send("p2\r");
  ASSERT_NE(host.readUntil('a'), "");
  host.send("rl");
  expectQuietFor(host, 5);
  host.send("rhrl");
  expectQuietFor(host, 5);
}

uint8_t query(HostPort& host, char kind, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
  host.sendFrame(kind, b1, b2, b3, b4);
  char byte = 0;
  EXPECT_EQ(host.readByte(kPatienceMillis, &byte), 1);
  return static_cast<uint8_t>(byte);
}

TEST(KorvoSimProcess, HostReadsAtmega2560SignatureAndStopRemovesLink) {
  TempDir dir;
  KorvoSimProcess sim(dir, {"--part", "ATmega2560", "--time-scale", "0.001"});
  ASSERT_TRUE(sim.waitForLink()) << sim.errors();
  {
    HostPort host(sim.link());
    ASSERT_TRUE(host.isOpen());
    const std::string signOn = host.readUntil('>');
    ASSERT_FALSE(signOn.empty());
    enterProgrammingMode(host);
    EXPECT_EQ(query(host, '3', 0xAC, 0x53, 0x00, 0x00), 0x53);
    std::vector<uint8_t> signature;
    for (uint8_t n = 0; n < 3; ++n) signature.push_back(query(host, '4', 0x30, 0x00, n, 0x00));
    EXPECT_EQ(signature, (std::vector<uint8_t>{0x1E, 0x98, 0x01}));
  }
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_FALSE(linkExists(sim.link()));
  EXPECT_NE(sim.errors().find("korvo-sim: ready on " + sim.link() + " (part ATmega2560)"),
            std::string::npos);
}

TEST(KorvoSimProcess, EveryOpenGetsSignOnAndTraceHoldsEachCommand) {
  TempDir dir;
  const std::string trace = dir.file("trace.txt");
  KorvoSimProcess sim(dir, {"--time-scale", "0.001", "--trace", trace, "--part", "atmega644p"});
  ASSERT_TRUE(sim.waitForLink()) << sim.errors();
  for (int open = 0; open < 2; ++open) {
    HostPort host(sim.link());
    EXPECT_EQ(host.readUntil('>'), "\r\nKorvo USB ISP V2.3\r\n>") << "open " << open;
  }
  {
    HostPort host(sim.link());
    ASSERT_NE(host.readUntil('>'), "");
    enterProgrammingMode(host);
    EXPECT_EQ(query(host, '3', 0xAC, 0x53, 0x00, 0x00), 0x53);
    EXPECT_EQ(query(host, '4', 0x30, 0x00, 0x01, 0x00), 0x96);
    host.send("b");
    EXPECT_EQ(host.readUntil('0').back(), '0');
    host.send("rhe");
    // "e" has no reply; a stray byte echoed back shows it was acted on.
    host.send("!");
    EXPECT_EQ(host.readUntil('!'), "!");
  }
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_EQ(readFile(trace),
            "70 32 0D\n72 6C\n72 68\n72 6C\n33 AC 53 00 00\n34 30 00 01 00\n62\n72 68\n65\n21\n");
}

TEST(KorvoSimProcess, HangupAfterFramesLooksLikeAPulledCable) {
  TempDir dir;
  KorvoSimProcess sim(dir, {"--time-scale", "0.001", "--hangup-after-frames", "2"});
  ASSERT_TRUE(sim.waitForLink()) << sim.errors();
  HostPort host(sim.link());
  ASSERT_NE(host.readUntil('>'), "");
  enterProgrammingMode(host);
  EXPECT_EQ(query(host, '3', 0xAC, 0x53, 0x00, 0x00), 0x53);
  EXPECT_EQ(query(host, '4', 0x30, 0x00, 0x00, 0x00), 0x1E);
  // The next byte the host sends finds the device gone.
  host.send("4");
  char byte = 0;
  EXPECT_EQ(host.readByte(kPatienceMillis, &byte), -1);
  host.close();
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_FALSE(linkExists(sim.link()));
}

// One run writes an EEPROM byte, the next reads it back from the state file.
TEST(KorvoSimProcess, StateFileCarriesTheChipToTheNextRun) {
  TempDir dir;
  const std::string state = dir.file("chip.state");
  for (int run = 0; run < 2; ++run) {
    KorvoSimProcess sim(dir, {"--time-scale", "0.001", "--state", state});
    ASSERT_TRUE(sim.waitForLink()) << sim.errors();
    HostPort host(sim.link());
    ASSERT_NE(host.readUntil('>'), "");
    enterProgrammingMode(host);
    ASSERT_EQ(query(host, '3', 0xAC, 0x53, 0x00, 0x00), 0x53);
    if (run == 0) {
      host.sendFrame('w', 0xC0, 0x00, 0x10, 0xAB);
      host.send("b");
      EXPECT_EQ(host.readUntil('0').back(), '0');
    } else {
      EXPECT_EQ(query(host, '4', 0xA0, 0x00, 0x10, 0x00), 0xAB);
    }
    host.close();
    EXPECT_EQ(sim.stop(), 0);
  }
}

TEST(KorvoSimProcess, TargetThatNeverFinishesEndsBusyWaitWithOne) {
  TempDir dir;
  KorvoSimProcess sim(dir, {"--time-scale", "0.001", "--busy-forever"});
  ASSERT_TRUE(sim.waitForLink()) << sim.errors();
  HostPort host(sim.link());
  ASSERT_NE(host.readUntil('>'), "");
  enterProgrammingMode(host);
  ASSERT_EQ(query(host, '3', 0xAC, 0x53, 0x00, 0x00), 0x53);
  host.sendFrame('w', 0xAC, 0x80, 0x00, 0x00);
  host.send("b");
  const std::string stream = host.readUntil('1');
  ASSERT_FALSE(stream.empty());
  EXPECT_EQ(stream.find('0'), std::string::npos);
  EXPECT_EQ(stream.find_first_not_of('.'), stream.size() - 1);
}

// A simulator that is not scheduled finds a host's frames piled up. The host
// waited, so the chip must not call that a violation; without the pause, the
// same frames sent back to back are one. The chip runs at ten times its
// datasheet times so that a busy machine cannot blur either case.
TEST(KorvoSimProcess, OwnStallIsNotChargedToTheHost) {
  for (bool stalled : {true, false}) {
    SCOPED_TRACE(stalled ? "stalled" : "back to back");
    TempDir dir;
    KorvoSimProcess sim(dir, {"--part", "ATmega644P", "--time-scale", "10"});
    ASSERT_TRUE(sim.waitForLink()) << sim.errors();
    HostPort host(sim.link());
    ASSERT_NE(host.readUntil('>'), "");
    host.send("p2\r");
    ASSERT_NE(host.readUntil('a'), "");
    host.send("rlrhrl");
    expectQuietFor(host, 250);
    ASSERT_EQ(query(host, '3', 0xAC, 0x53, 0x00, 0x00), 0x53);
    if (stalled) sim.pause();
    host.sendFrame('w', 0xAC, 0xA0, 0x00, 0x62);  // fuse low: 45 ms at this scale
    if (stalled) {
      poll(nullptr, 0, 60);
      host.sendFrame('4', 0x50, 0x00, 0x00, 0x00);
      sim.resume();
      char byte = 0;
      EXPECT_EQ(host.readByte(kPatienceMillis, &byte), 1);
      EXPECT_EQ(static_cast<uint8_t>(byte), 0x62);
    } else {
      query(host, '4', 0x50, 0x00, 0x00, 0x00);
    }
    host.close();
    EXPECT_EQ(sim.stop(), 0);
    const std::string errors = sim.errors();
    if (stalled) {
      EXPECT_NE(errors.find(", 0 violations"), std::string::npos) << errors;
    } else {
      EXPECT_NE(errors.find(", 1 violations"), std::string::npos) << errors;
      EXPECT_NE(errors.find("korvo-sim: first violation: instruction while busy: 50 00 00 00, "),
                std::string::npos)
          << errors;
    }
  }
}

TEST(KorvoSimProcess, BadArgumentsAndOccupiedPathAreRefused) {
  TempDir dir;
  {
    KorvoSimProcess sim(dir, {"--part", "ATmega9999"});
    EXPECT_EQ(sim.waitForExit(), 2);
    EXPECT_EQ(sim.errors(), "korvo-sim: unknown part 'ATmega9999'\n");
  }
  {
    KorvoSimProcess sim(dir, {"--latency-us", "-5"});
    EXPECT_EQ(sim.waitForExit(), 2);
  }
  // A file where the link should go is somebody's data, not a stale link.
  writeFile(dir.file("korvo"), "keep me");
  KorvoSimProcess sim(dir, {});
  EXPECT_EQ(sim.waitForExit(), 1);
  EXPECT_EQ(readFile(dir.file("korvo")), "keep me");
  EXPECT_NE(sim.errors().find("not a symbolic link"), std::string::npos);
}

}  // namespace
