/* Sums a large constant table kept in program memory and shows the low bits
 * on PORTB: a program whose image fills most of the part's flash. */
#include <avr/io.h>
#include <stdint.h>

extern const __memx uint8_t* const __memx tableChunks[];
extern const uint16_t tableChunkSizes[];
extern const uint8_t tableChunkCount;

int main(void) {
  DDRB = 0xFF;
  uint8_t sum = 0;
  for (uint8_t k = 0; k < tableChunkCount; ++k) {
    const __memx uint8_t* chunk = tableChunks[k];
    for (uint16_t i = 0; i < tableChunkSizes[k]; ++i) sum += chunk[i];
  }
  for (;;) PORTB = sum;
}
