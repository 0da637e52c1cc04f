#pragma once
// When each byte crosses the simulated USB-serial link: optionally at the time
// the host's baud rate gives it (ten bit times: start, eight data, stop), and
// with an optional delay before a reply, as a USB round trip adds.

#include <cstddef>
#include <cstdint>
#include <deque>

#include "sim/korvo_device.h"

class KorvoLinkPacing {
 public:
  // 0 turns pacing off: bytes cross at once.
  void setBaud(long baud);

  // `uncertaintyMicros`: how long before nowMicros the bytes may already have
  // been waiting to be read. Each byte then also carries the earliest moment it
  // can have crossed the wire.
  void queueInput(const KorvoBytes& bytes, int64_t nowMicros, int64_t uncertaintyMicros = 0);
  bool takeDueInput(int64_t nowMicros, uint8_t* byte, int64_t* earliestMicros = nullptr);

  // The bytes go out no earlier than nowMicros + delayMicros, in order after
  // whatever is already queued.
  void queueOutput(const KorvoBytes& bytes, int64_t nowMicros, int64_t delayMicros);
  KorvoBytes peekDueOutput(int64_t nowMicros) const;
  void dropOutput(size_t count);
  bool outputPending() const { return !output_.empty(); }

  // -1 when nothing is queued.
  int64_t nextInputDue() const { return input_.empty() ? -1 : input_.front().due; }
  int64_t nextOutputDue() const { return output_.empty() ? -1 : output_.front().due; }

  void clear();

 private:
  struct Timed {
    uint8_t byte;
    int64_t due;
  };
  struct TimedInput {
    uint8_t byte;
    int64_t due;
    int64_t earliest;
  };

  int64_t byteMicros_ = 0;
  std::deque<TimedInput> input_;
  std::deque<Timed> output_;
  int64_t inputFreeAt_ = 0;
  int64_t outputFreeAt_ = 0;
};
