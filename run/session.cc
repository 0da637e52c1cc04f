#include "run/session.h"

Session::Session(const Profile& runProfile, Console& runConsole)
    : profile(runProfile), console(runConsole) {
  fillFullCatalogue(catalogue, profile.partRows());
}

Session::~Session() {
  if (logStream != nullptr) std::fclose(logStream);
}

const PartRecord* Session::currentPart() const {
  int index = target.processorIndex;
  if (index < 0 || index >= catalogue.partCount) return nullptr;
  return &catalogue.rows[static_cast<size_t>(index)];
}

void restoreDefaultSettings(Session& session) {
  RunSettings& settings = session.settings;
  settings.verifyMode = 'v';
  settings.outputMode = 'n';
  settings.fillChar = 0xFF;
  settings.logEnabled = false;  // an open log stream stays open until "e"
  if (session.profile.link == LinkKind::kKorvo) {
    settings.comChannel = kDefaultComChannel;
    settings.comDevicePath.clear();
    settings.portConfigured = false;
    settings.baudCode = kDefaultBaudCode;
  }
  if (session.profile.readConfiguration != nullptr) {
    session.profile.readConfiguration(session.profile, settings, session.console);
  }
  if (!settings.portOption.empty()) applyPortOption(session.profile, settings.portOption, settings);
  settings.downloadFileName.clear();
  settings.uploadFileName.clear();
  settings.logFileName.clear();
  settings.mismatchFileName.clear();
}
