#pragma once
// The whole chip in one ELF file: "uc" saves flash, EEPROM, fuses, lock and
// signature; "dc" downloads an ELF's flash and EEPROM and then writes its
// fuses and lock, which restores a saved chip and programs firmware built
// with avr-libc's FUSES and LOCKBITS in one command.

struct Session;

// Saves the chip to settings.uploadFileName. Every memory is read twice and
// the two readings must agree: the Korvo's framing cannot show a byte changed
// on the line, and a backup that is wrong is worse than none. False, with
// nothing written, on a difference, an unrecognised part or a file that
// could not be written.
bool uploadWholeChip(Session& session);

// Downloads settings.downloadFileName, which must be an ELF file: the part
// check, the flash (erased, programmed, verified), the EEPROM when the file
// has any (programmed, verified), then, only when all of that verified, the
// .fuse bytes through the fuse guard and the .lock byte, each read back.
// False when any step failed or was held back; nothing after it is written.
bool downloadWholeChip(Session& session);
