#pragma once
// The AVR serial-programming instructions the programs use, each as the four
// bytes the target's datasheet gives, carried over whichever IspLink the
// session has.

#include <cstdint>

#include "engine/isp_link.h"

struct Session;

// The two instructions a link sends on its own: Programming Enable inside
// enableProgramming, and the ready poll inside the Marlow's waitReady.
constexpr IspInstruction kIspProgrammingEnable = {{0xAC, 0x53, 0x00, 0x00}};
constexpr IspInstruction kIspPollReady = {{0xF0, 0x00, 0x00, 0x00}};
// The echo of Programming Enable's second byte that shows the target is in step.
constexpr uint8_t kProgrammingEnableEcho = 0x53;

uint8_t ispProgrammingEnable(IspLink& link);
void ispChipErase(IspLink& link);
uint8_t ispReadSignatureByte(IspLink& link, uint8_t n);
uint8_t ispReadCalibrationByte(IspLink& link);
uint8_t ispReadLockBits(IspLink& link);
uint8_t ispReadFuseLow(IspLink& link);
uint8_t ispReadFuseHigh(IspLink& link);
uint8_t ispReadFuseExtended(IspLink& link);
void ispWriteFuseLow(IspLink& link, uint8_t value);
void ispWriteFuseHigh(IspLink& link, uint8_t value);
void ispWriteFuseExtended(IspLink& link, uint8_t value);
void ispWriteLockBits(IspLink& link, uint8_t value);
// w is a flash word address within the 64K-word block last selected with
// ispLoadExtendedAddress.
uint8_t ispReadFlashLowByte(IspLink& link, uint16_t word);
uint8_t ispReadFlashHighByte(IspLink& link, uint16_t word);
// k is the word's index within the page buffer.
void ispLoadPageLowByte(IspLink& link, uint8_t index, uint8_t data);
void ispLoadPageHighByte(IspLink& link, uint8_t index, uint8_t data);
void ispWritePage(IspLink& link, uint16_t word);
// Selects bits 23 to 16 of the word address for later flash reads and page
// writes.
void ispLoadExtendedAddress(IspLink& link, uint8_t extended);
uint8_t ispReadEepromByte(IspLink& link, uint16_t address);
// Runs of reads, handed to the link together: `count` (at most
// kIspReadRunBytes) flash bytes from byte offset `firstByte`, whose words lie
// in the 64K-word block last selected, or EEPROM bytes from `first`. A link
// that overlaps queries drains its window at the end of each run, one round
// trip idle; 1024 queries are 444 ms of line at 115200 baud, so even a 16 ms
// round trip costs under 4 %, and the progress line still moves several
// times a second.
constexpr size_t kIspReadRunBytes = 1024;
void ispReadFlashBytes(IspLink& link, uint32_t firstByte, size_t count, uint8_t* out);
void ispReadEepromBytes(IspLink& link, uint16_t first, size_t count, uint8_t* out);
void ispWriteEepromByte(IspLink& link, uint16_t address, uint8_t data);
// Load EEPROM Memory Page of the byte at `address`. The chip takes the byte's
// place in its page from the address's low bits and ignores the rest, so the
// whole low byte goes out: a page the table gives smaller than the chip's own
// (4 bytes where the ATmega644A has 8, 42716C-AVR-10/2016 Table 28-11) still
// lands each byte in its place.
void ispLoadEepromPage(IspLink& link, uint16_t address, uint8_t data);
// Write EEPROM Memory Page: `address` is the page's first byte.
void ispWriteEepromPage(IspLink& link, uint16_t address);
// Bit 0 of the result is set while a self-timed write is still running.
uint8_t ispPollReady(IspLink& link);

// Signature bytes 0, 1, 2 into session.target.signature.
void readSignature(Session& session);
// Low, high, extended fuse reads into session.target.fuseBytes, kept in the
// order extended, high, low.
void readFuses(Session& session);
