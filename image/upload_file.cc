#include "image/upload_file.h"

#include "image/binary_file.h"
#include "image/hex_writer.h"
#include "image/srec_writer.h"

int writeUploadFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                    int hexRecordType, OutputSink& console) {
  if (namesBinaryFile(path)) return writeBinaryFile(path, readImage, n, console);
  if (namesSrecFile(path)) return writeSrecFile(path, readImage, n, console);
  return writeHexFile(path, readImage, n, hexRecordType, console);
}
