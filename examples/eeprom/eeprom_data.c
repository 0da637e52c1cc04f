/* A program whose settings live in EEPROM: a serial number, a name and a table
 * of LED timings, placed in .eeprom so that the build gives a second HEX file. */
#ifndef F_CPU
#define F_CPU 1000000UL
#endif
#include <avr/eeprom.h>
#include <avr/io.h>
#include <util/delay.h>

EEMEM uint32_t serialNumber = 0x20261207UL;
EEMEM char boardName[16] = "bench-board-7";
#if E2END < 127
/* The ATtiny13's 64 bytes hold only half the table. */
#define TIMES 32
#else
#define TIMES 64
#endif
EEMEM uint8_t blinkTimes[TIMES] = {
    10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160,
    15, 25, 35, 45, 55, 65, 75, 85, 95, 105, 115, 125, 135, 145, 155, 165,
#if TIMES > 32
    1,  2,  3,  5,  8,  13, 21, 34, 55, 89,  144, 233, 0,   0,   0,   7,
    9,  8,  7,  6,  5,  4,  3,  2,  1,  0,   0,   0,   0,   0,   0,   42
#endif
};

int main(void) {
  DDRB = (1 << PB0);
  uint8_t index = 0;
  for (;;) {
    uint8_t time = eeprom_read_byte(&blinkTimes[index & (TIMES - 1)]);
    PORTB ^= (1 << PB0);
    while (time--) _delay_ms(1);
    ++index;
  }
}
