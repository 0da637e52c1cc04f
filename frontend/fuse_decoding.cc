#include "frontend/fuse_decoding.h"

#include "catalogue/fuse_bits.h"
#include "engine/fuse_explanation.h"
#include "frontend/configuration.h"
#include "frontend/fuse_arguments.h"
#include "run/console.h"
#include "run/profile.h"
#include "run/session.h"

namespace {

int refuse(const Profile& profile, std::FILE* errors, const std::string& why) {
  std::fprintf(errors, "%s: %s\n", profile.programName, why.c_str());
  return kExitCommandFailed;
}

}  // namespace

int decodeFuses(const Profile& profile, const std::vector<std::string>& arguments, Console& console,
                std::FILE* errors) {
  if (arguments.size() < 3 || arguments.size() > 4) {
    return refuse(profile, errors, "--decode-fuses needs a part name and two or three fuse bytes");
  }
  // Any one of a shared row's names finds it, as with korvo-sim's --part.
  PartCatalogue catalogue;
  fillFullCatalogue(catalogue, profile.partRows());
  // The parts --list-parts shows, parts.txt's among them.
  std::vector<std::string> messages;
  readUserParts(profile, catalogue, &messages);
  for (const std::string& message : messages) std::fprintf(errors, "%s\n", message.c_str());
  const int row = findPartByName(catalogue, arguments[0].c_str());
  if (row < 0) return refuse(profile, errors, "unknown part '" + arguments[0] + "'");
  const PartRecord* part = &catalogue.rows[static_cast<size_t>(row)];
  const PartFuseBits* bits = findFuseBits(part->signature);
  if (bits == nullptr) {
    return refuse(profile, errors,
                  "the fuse bits of " + std::string(part->name) + " are not known");
  }
  uint8_t values[3] = {0, 0, 0};
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (!parseFuseByte(arguments[i], values[i - 1])) {
      return refuse(profile, errors,
                    "'" + arguments[i] + "' is not a fuse byte (one or two hexadecimal digits)");
    }
  }
  console.print("%s\n", part->name);
  for (size_t i = 1; i < arguments.size(); ++i) {
    explainFuseByte(console, bits, static_cast<int>(i), values[i - 1]);
  }
  return kExitOk;
}
