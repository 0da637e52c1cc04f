#include "image/download_file.h"

#include "image/binary_file.h"
#include "image/file_contents.h"
#include "image/hex_reader.h"
#include "image/srec_reader.h"

namespace {

DownloadLoad refused() {
  return {DownloadOutcome::kRefused, 0, {}};
}

DownloadLoad loadElf(const std::string& path, const std::string& contents, ImageMemory memory,
                     ImageBuffer& loadImage, uint8_t fillChar, OutputSink& console) {
  const ElfLoadResult result =
      loadElfImage(contents.data(), contents.size(), memory, loadImage, fillChar);
  const char* name = path.c_str();
  switch (result.status) {
    case ElfLoadStatus::kLoaded:
      break;
    case ElfLoadStatus::kNotElf32:
      console.print("%s is not a 32-bit ELF file as the AVR's are - nothing programmed\n", name);
      return refused();
    case ElfLoadStatus::kNotLittleEndian:
      console.print("%s is a big-endian ELF file, not an AVR one - nothing programmed\n", name);
      return refused();
    case ElfLoadStatus::kNotAvr:
      console.print("%s is an ELF file for another processor, not the AVR - nothing programmed\n",
                    name);
      return refused();
    case ElfLoadStatus::kDamaged:
      console.print(
          "%s is a damaged ELF file: its headers point beyond its end - nothing "
          "programmed\n",
          name);
      return refused();
    case ElfLoadStatus::kNoData:
      console.print(
          memory == ImageMemory::kFlash ? "No flash data in %s\n" : "No EEPROM data in %s\n", name);
      return refused();
  }
  ElfPart elf = readElfPart(contents.data(), contents.size());
  // The signature is for the part check; the fuses and lock are for the
  // command that writes them, and the download's flow names it.
  int64_t other =
      result.bytesIgnored - elf.fuseCount - (elf.hasLock ? 1 : 0) - (elf.hasSignature ? 3 : 0);
  if (other > 0) {
    console.print("Note: %lld bytes of RAM or other data in %s ignored\n",
                  static_cast<long long>(other), name);
  }
  if (result.bytesBeyondEnd > 0) {
    console.print("Warning: %d bytes beyond the end of the memory image were ignored\n",
                  result.bytesBeyondEnd);
  }
  return {DownloadOutcome::kLoaded, result.loadLength, elf};
}

DownloadLoad loadBinary(const std::string& path, const std::string& contents,
                        ImageBuffer& loadImage, uint8_t fillChar, OutputSink& console) {
  if (contents.empty()) {
    console.print("%s is empty - nothing programmed\n", path.c_str());
    return refused();
  }
  const BinaryLoadResult result =
      loadBinaryImage(contents.data(), contents.size(), loadImage, fillChar);
  if (result.bytesBeyondEnd > 0) {
    console.print("Warning: %d bytes beyond the end of the memory image were ignored\n",
                  result.bytesBeyondEnd);
  }
  return {DownloadOutcome::kLoaded, result.loadLength, {}};
}

DownloadLoad loadSrec(const std::string& path, const std::string& contents, ImageBuffer& loadImage,
                      uint8_t fillChar, OutputSink& console) {
  const SrecLoadResult result = loadSrecText(contents.data(), contents.size(), loadImage, fillChar);
  if (result.trouble != SrecTrouble::kNone) {
    reportSrecTrouble(result, path, console);
    return refused();
  }
  if (result.bytesBeyondEnd > 0) {
    console.print(
        "Warning: %d bytes beyond the end of the memory image were ignored, the first at "
        "address %llx\n",
        result.bytesBeyondEnd, static_cast<long long>(result.firstAddressBeyond));
  }
  return {DownloadOutcome::kLoaded, result.loadLength, {}};
}

}  // namespace

DownloadLoad loadDownloadFile(const std::string& path, ImageMemory memory, ImageBuffer& loadImage,
                              uint8_t fillChar, OutputSink& console) {
  std::string contents;
  std::string reason;
  if (!readWholeFile(path, kDownloadFileLimit, contents, reason)) {
    console.print("Can't open download file\n");
    console.print("   %s: %s\n", path.c_str(), reason.c_str());
    return {DownloadOutcome::kUnreadable, 0, {}};
  }
  if (namesBinaryFile(path)) {
    return loadBinary(path, contents, loadImage, fillChar, console);
  }
  if (looksLikeElf(contents.data(), contents.size())) {
    return loadElf(path, contents, memory, loadImage, fillChar, console);
  }
  if (looksLikeSrec(contents.data(), contents.size())) {
    return loadSrec(path, contents, loadImage, fillChar, console);
  }
  const HexLoadResult result = loadHexText(contents.data(), contents.size(), loadImage, fillChar);
  reportHexTrouble(result, console);
  if (result.records == 0) {
    console.print("No Intel HEX records in %s - nothing programmed\n", path.c_str());
    return refused();
  }
  // A bad checksum or a record cut short means the file was damaged in a
  // copy or by an editor: programming what is left of it would only look
  // like success.
  if (result.firstBadLine > 0) {
    console.print("Damaged HEX record in %s at line %d - nothing programmed\n", path.c_str(),
                  result.firstBadLine);
    return refused();
  }
  if (result.dataAfterEnd > 0) {
    console.print("Note: %s goes on after its end record (joined files?); all of it is loaded\n",
                  path.c_str());
  }
  return {DownloadOutcome::kLoaded, result.loadLength, {}};
}
