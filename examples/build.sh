#!/usr/bin/env bash
# Builds the example firmware for one part with Debian's AVR toolchain:
#   examples/build.sh MCU OUTDIR
# OUTDIR receives, for each example, NAME.hex (flash, Intel HEX as avr-objcopy
# writes it) and NAME.bin (the same as raw binary), and for the EEPROM example
# also eeprom_data.eep.hex and eeprom_data.eep.bin.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mcu=$1
out=$2
mkdir -p "$out"
cflags=(-mmcu="$mcu" -Os -std=gnu99 -Wall -DF_CPU=1000000UL)

# FLASHEND is a number or, for some parts, an expression ("(1024 - 1)").
flashend=$(avr-gcc -mmcu="$mcu" -E -dM -include avr/io.h -x c /dev/null |
  awk '$2 == "FLASHEND" {$1 = ""; $2 = ""; print}')
flash=$(( flashend + 1 ))
# Room for the program itself: an eighth of the flash, at least 2 KiB, but half
# of it on the smallest parts (the ATtiny13's 1 KiB, the ATtiny2313's 2 KiB).
reserve=$(( flash / 8 > 2048 ? flash / 8 : (flash >= 4096 ? 2048 : flash / 2) ))
table=$(( flash - reserve ))

flash_outputs() {
  local name=$1
  avr-objcopy -O ihex -R .eeprom -R .fuse -R .lock -R .signature "$out/$name.elf" "$out/$name.hex"
  avr-objcopy -O binary -R .eeprom -R .fuse -R .lock -R .signature "$out/$name.elf" "$out/$name.bin"
}

avr-gcc "${cflags[@]}" -o "$out/blink.elf" "$here/blink/blink.c"
flash_outputs blink

/usr/bin/python3 "$here/table/make_table.py" "$table" "$out/table_data.c"
avr-gcc "${cflags[@]}" -o "$out/table.elf" "$here/table/table.c" "$out/table_data.c"
flash_outputs table

avr-gcc "${cflags[@]}" -o "$out/eeprom_data.elf" "$here/eeprom/eeprom_data.c"
flash_outputs eeprom_data
avr-objcopy -O ihex -j .eeprom --change-section-lma .eeprom=0 "$out/eeprom_data.elf" "$out/eeprom_data.eep.hex"
avr-objcopy -O binary -j .eeprom --change-section-lma .eeprom=0 "$out/eeprom_data.elf" "$out/eeprom_data.eep.bin"
