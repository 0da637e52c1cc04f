/* Blinks an LED on PB0 (and PB5, where most boards put theirs) about twice a second. */
#ifndef F_CPU
#define F_CPU 1000000UL
#endif
#include <avr/io.h>
#include <util/delay.h>

int main(void) {
  DDRB = (1 << PB0) | (1 << PB5);
  for (;;) {
    PORTB ^= (1 << PB0) | (1 << PB5);
    _delay_ms(250);
  }
}
