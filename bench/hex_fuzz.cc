// Runs random and damaged HEX texts through the reader for the given number of
// seconds (default 10). Built with the sanitizers, a stray write or read ends
// the run; an insane result is reported here with the text that caused it.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "image/hex_reader.h"
#include "tests/support/hex_mutator.h"

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: hex_fuzz SECONDS [SEED]\n");
    return 2;
  }
  std::mt19937 random(seed);
  auto image = std::make_unique<ImageBuffer>();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  long texts = 0, malformed = 0, beyond = 0;
  std::string previous;
  while (std::chrono::steady_clock::now() < deadline) {
    for (int batch = 0; batch < 100; ++batch, ++texts) {
      // Damaged copies of earlier texts as well as fresh ones.
      std::string text = batch % 3 == 0 || previous.empty() ? randomHexText(random)
                                                            : mutateHexText(previous, random);
      std::istringstream stream(text);
      const HexLoadResult result = loadHexRecords(stream, *image, 0xFF);
      if (result.loadLength < 0 || result.loadLength > kImageBytes || result.bytesBeyondEnd < 0 ||
          result.malformedRecords < 0 || result.badChecksums < 0) {
        std::fprintf(stderr, "hex_fuzz: impossible result %d for text:\n%s\n", result.loadLength,
                     text.c_str());
        return 1;
      }
      malformed += result.malformedRecords > 0;
      beyond += result.bytesBeyondEnd > 0;
      previous = text.size() < 100000 ? std::move(text) : std::string();
    }
  }
  std::printf(
      "hex_fuzz: %ld texts in %ld s, %ld with malformed records, %ld reaching past the "
      "image; no fault\n",
      texts, seconds, malformed, beyond);
  return 0;
}
