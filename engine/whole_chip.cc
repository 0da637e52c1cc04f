#include "engine/whole_chip.h"

#include <string>

#include "catalogue/part_record.h"
#include "engine/isp_instructions.h"
#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "engine/transfer_limits.h"
#include "image/elf_part.h"
#include "image/elf_reader.h"
#include "image/elf_writer.h"
#include "image/file_contents.h"
#include "image/upload_writing.h"
#include "run/session.h"

namespace {

constexpr char kLockBit2 = 0x02;

// Two readings of one memory, compared; false after naming the first byte
// that differs.
template <typename Read>
bool readTwice(Session& session, const char* memory, Read read, std::string& contents) {
  const std::string first = read();
  contents = read();
  for (size_t i = 0; i < contents.size() && i < first.size(); ++i) {
    if (first[i] == contents[i]) continue;
    session.console.print(
        "Error - two readings of the %s differ at %06zx (%02x, then %02x) - nothing saved\n",
        memory, i, static_cast<uint8_t>(first[i]), static_cast<uint8_t>(contents[i]));
    return false;
  }
  return first.size() == contents.size();
}

std::string readImageBytes(const Session& session, int32_t bytes) {
  const ImageBuffer& image = *session.images.read;
  return std::string(image.begin(), image.begin() + bytes);
}

std::string readFuseBytes(Session& session, int count) {
  IspLink& link = *session.link;
  std::string fuses(1, static_cast<char>(ispReadFuseLow(link)));
  if (count >= 2) fuses += static_cast<char>(ispReadFuseHigh(link));
  if (count >= 3) fuses += static_cast<char>(ispReadFuseExtended(link));
  return fuses;
}

bool readChip(Session& session, const PartRecord& part, ChipContents& chip) {
  const int32_t flashBytes = clampToImage(part.flashBytes);
  const int32_t eepromBytes = clampToImage(part.eepromBytes);
  auto flash = [&] {
    readFlash(session, flashBytes);
    return readImageBytes(session, flashBytes);
  };
  auto eeprom = [&] {
    readEeprom(session, eepromBytes);
    return readImageBytes(session, eepromBytes);
  };
  auto fuses = [&] { return readFuseBytes(session, partFuseCount(part)); };
  auto lock = [&] { return std::string(1, static_cast<char>(ispReadLockBits(*session.link))); };
  auto signature = [&] {
    std::string bytes;
    for (uint8_t n = 0; n < 3; ++n)
      bytes += static_cast<char>(ispReadSignatureByte(*session.link, n));
    return bytes;
  };
  std::string lockByte, signatureBytes;
  if (!readTwice(session, "lock byte", lock, lockByte)) return false;
  // With LB2 programmed (LB mode 3) serial programming may no longer verify
  // the flash and EEPROM: "Lock Bit Protection Modes", ATmega48A/PA/88A/PA/
  // 168A/PA/328/P datasheet Atmel-8271H-AVR-08/2014, section 28.1, Table 28-2;
  // the megaAVR and tinyAVR parts the programs know share these modes. A save
  // would hold nothing of the program.
  if ((lockByte[0] & kLockBit2) == 0) {
    session.console.print(
        "Error - lock byte %x forbids reading the flash and EEPROM back - nothing saved\n",
        static_cast<uint8_t>(lockByte[0]));
    return false;
  }
  if (!readTwice(session, "flash", flash, chip.flash) ||
      (eepromBytes > 0 && !readTwice(session, "EEPROM", eeprom, chip.eeprom)) ||
      !readTwice(session, "fuses", fuses, chip.fuses) ||
      !readTwice(session, "signature", signature, signatureBytes)) {
    return false;
  }
  chip.hasLock = true;
  chip.lock = static_cast<uint8_t>(lockByte[0]);
  for (int i = 0; i < 3; ++i) chip.signature[i] = static_cast<uint8_t>(signatureBytes[i]);
  return true;
}

// The .fuse bytes the part has, through the fuse guard. A file with fewer
// bytes than the part writes those it has, one at a time.
bool writeFileFuses(Session& session, const PartRecord& part, const ElfPart& elf) {
  if (elf.fuseCount == 0) return true;
  if (elf.fuseCount >= partFuseCount(part)) {
    return writeAllFuses(session, elf.fuses[0], elf.fuses[1], elf.fuses[2]);
  }
  for (int fuse = 1; fuse <= elf.fuseCount; ++fuse) {
    if (!writeFuse(session, fuse, elf.fuses[fuse - 1])) return false;
  }
  return true;
}

}  // namespace

bool uploadWholeChip(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) return false;
  const std::string fileName = session.settings.uploadFileName;
  ChipContents chip;
  bool ok = readChip(session, *part, chip);
  if (ok) {
    session.console.print(
        "Read twice alike: flash %zu bytes, EEPROM %zu, fuses %zu, lock byte %x\n",
        chip.flash.size(), chip.eeprom.size(), chip.fuses.size(), chip.lock);
    const std::string file = avrElfOf(chip);
    ok = writeUploadFile(fileName, session.console, [&](const UploadWriter& write) {
           return write(file.data(), file.size());
         }) == 1;
  }
  restoreDefaultSettings(session);
  return ok;
}

bool downloadWholeChip(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) return false;
  const std::string fileName = session.settings.downloadFileName;
  std::string contents, reason;
  if (!readWholeFile(fileName, kDownloadFileLimit, contents, reason)) {
    session.console.print("Can't open download file\n");
    session.console.print("   %s: %s\n", fileName.c_str(), reason.c_str());
    restoreDefaultSettings(session);
    return false;
  }
  if (!looksLikeElf(contents.data(), contents.size())) {
    session.console.print(
        "%s is not an ELF file, which dc takes (as avr-gcc links it or uc saves it) - nothing "
        "programmed\n",
        fileName.c_str());
    restoreDefaultSettings(session);
    return false;
  }
  const ElfPart elf = readElfPart(contents.data(), contents.size());

  // Each download verifies, whatever nv or the configuration say: the fuses
  // and lock go in only over memories known to be right.
  struct WholeChipFlag {
    bool& flag;
    ~WholeChipFlag() { flag = false; }
  } writing{session.wholeChipDownload};
  writing.flag = true;
  session.settings.verifyMode = 'v';
  if (!downloadFlash(session)) {
    restoreDefaultSettings(session);
    return false;
  }
  if (elf.hasEeprom) {
    session.settings.downloadFileName = fileName;
    session.settings.verifyMode = 'v';
    if (!downloadEeprom(session)) return false;
  }
  if (!writeFileFuses(session, *part, elf)) return false;
  return !elf.hasLock || writeLockByte(session, elf.lock);
}
