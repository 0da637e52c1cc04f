#include "link_usb/terminal_mode.h"

#include "link_usb/korvo_link.h"
#include "run/session.h"

namespace {

constexpr int kEscape = 27;
// How long one pass waits on the port for the Korvo before looking at the
// keyboard again: short enough that typing feels immediate, long enough that
// the loop sleeps instead of spinning.
constexpr int kPortWaitMs = 10;
constexpr int kDrainLimit = 256;

// Puts the console back however terminal mode is left, a lost link included.
class KeyModeScope {
 public:
  explicit KeyModeScope(Console& console) : console_(console) { console_.beginKeyMode(); }
  ~KeyModeScope() { console_.endKeyMode(); }
  KeyModeScope(const KeyModeScope&) = delete;
  KeyModeScope& operator=(const KeyModeScope&) = delete;

 private:
  Console& console_;
};

void showReceived(Console& console, uint8_t byte) {
  if (byte == 0) return;  // a NUL shows nothing
  char shown = static_cast<char>(byte);
  console.write(std::string_view(&shown, 1));
  console.flush();
}

}  // namespace

void terminalMode(Session& session, KorvoLink& link) {
  Console& console = session.console;
  {
    // Keys are raw before the line invites them: a Ctrl-C typed at once must
    // already reach the Korvo rather than end the program.
    KeyModeScope keyMode(console);
    console.print("Terminal mode - all characters sent to serial port\n:");
    console.flush();
    for (;;) {
      if (console.keyWaiting()) {
        int key = console.readKey();
        if (key < 0 || key == kEscape) break;
        link.programmerSendByte(static_cast<uint8_t>(key));
        if (key == '3') {
          console.print("[3 received]");
          console.flush();
        }
      }
      uint8_t byte = 0;
      if (link.receiveWithin(byte, kPortWaitMs)) {
        showReceived(console, byte);
        // What has already arrived goes out in the same pass, in bounded helpings
        // so that a chattering Korvo cannot lock out the Escape key.
        for (int more = 0; more < kDrainLimit && link.receiveWithin(byte, 0); ++more) {
          showReceived(console, byte);
        }
      }
    }
  }
  console.print("\nExiting terminal mode\n");
}

void runTerminalMode(Session& session) {
  if (auto* korvo = dynamic_cast<KorvoLink*>(session.link)) terminalMode(session, *korvo);
}
