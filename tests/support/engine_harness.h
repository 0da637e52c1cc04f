#pragma once
// One session on a ScriptedLink, with the engine's fixed pauses recorded on the
// link instead of waited for and every progress update printed, so transcripts
// do not depend on the machine's speed. Header-only: it reaches into the engine
// library, which only engine tests link.

#include <chrono>

#include "engine/engine_delay.h"
#include "engine/progress_line.h"
#include "frontend/profile.h"
#include "run/session.h"
#include "tests/support/scripted_link.h"

class EngineHarness {
 public:
  explicit EngineHarness(const Profile& profile = tarnwickProfile()) : session(profile, console) {
    session.link = &link;
    setEngineDelayObserver([this](int32_t units) { link.recordDelay(units); });
    setProgressInterval(std::chrono::microseconds(0));
  }
  ~EngineHarness() {
    setEngineDelayObserver({});
    setProgressInterval(kDefaultProgressInterval);
  }
  EngineHarness(const EngineHarness&) = delete;
  EngineHarness& operator=(const EngineHarness&) = delete;

  // Makes `row` the identified part, with the link answering its signature.
  void identifyAs(int row) {
    session.target.processorIndex = row;
    session.target.responding = true;
    const PartRecord& part = session.catalogue.rows[static_cast<size_t>(row)];
    for (int i = 0; i < 3; ++i) link.signature[i] = session.target.signature[i] = part.signature[i];
  }

  ScriptedConsole console;
  ScriptedLink link;
  Session session;
};
