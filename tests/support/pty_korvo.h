#pragma once
// The Korvo's end of a pseudo-terminal, played by a test: the code under test
// opens the terminal's name as its serial port, the test reads what went down
// the wire and writes the replies.

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

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

  // A device that never stops talking: `pattern` again and again, as fast as
  // the program reads, from a thread of its own. It gives up by itself after
  // `capSeconds` only so that a program that never lets go cannot hang a test.
  void sendForever(std::string pattern, int capSeconds = 60);
  // Stops the sending; true when it was still going, that is, the program
  // stopped waiting on it before the cap ended it.
  bool stopSending();

  // Plays a Korvo from a thread of its own, for a program that opens the port
  // afterwards: `signOn` once the program has set its line up (it drops what
  // was waiting before), "a" for the mode request, then one byte of `answers`
  // for each "3" or "4" frame, in order.
  void play(std::string signOn, std::string answers);
  // Ends the playing; every byte the program sent meanwhile.
  std::string stopPlaying();

 private:
  std::thread sender_;
  std::thread player_;
  std::atomic<bool> stopPlaying_{false};
  std::string played_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> senderGaveUp_{false};
  int master_ = -1;
  int slave_ = -1;
  std::string devicePath_;
};

// Bytes as "34 30 00 00 00", for readable comparisons of wire traffic.
std::string hexBytes(std::string_view bytes);
