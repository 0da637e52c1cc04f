#include "image/upload_writing.h"

#include "image/output_file.h"
#include "run/output_sink.h"

int writeUploadFile(const std::string& path, OutputSink& console,
                    const std::function<bool(const UploadWriter& write)>& format) {
  OutputFile uploadFile;
  if (!uploadFile.open(path)) {
    console.print("Can't open output file %s\n", path.c_str());
    console.print("   %s: %s\n", path.c_str(), uploadFile.error().c_str());
    return -1;
  }
  console.print("Write Flash/EEPROM data to %s\n", path.c_str());
  const bool formatted = format(
      [&](const char* bytes, size_t length) { return uploadFile.write(bytes, length); });
  if (!formatted || !uploadFile.commit()) {
    console.print("Error writing output file %s\n", path.c_str());
    console.print("   %s: %s\n", path.c_str(), uploadFile.error().c_str());
    return -1;
  }
  return 1;
}
