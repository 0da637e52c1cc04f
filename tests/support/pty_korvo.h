#pragma once
// The Korvo's end of a pseudo-terminal, played by a test: the code under test
// opens the terminal's name as its serial port, the test reads what went down
// the wire and writes the replies.

#include <string>
#include <string_view>

class PtyKorvo {
 public:
  PtyKorvo();
  ~PtyKorvo();
  PtyKorvo(const PtyKorvo&) = delete;
  PtyKorvo& operator=(const PtyKorvo&) = delete;

  const std::string& devicePath() const { return devicePath_; }
  // A descriptor of the port side, for looking at its line settings.
  int portSide() const { return slave_; }

  // Queues bytes for the program to read.
  void reply(std::string_view bytes);
  // Up to `count` bytes the program sent, waiting at most `timeoutMs` for them.
  std::string wire(size_t count, int timeoutMs = 2000);
  // The Korvo goes away, as when its USB cable is pulled.
  void hangUp();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string devicePath_;
};

// Bytes as "34 30 00 00 00", for readable comparisons of wire traffic.
std::string hexBytes(std::string_view bytes);
