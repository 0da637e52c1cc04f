#include "frontend/session.h"
#include "frontend/startup.h"

std::unique_ptr<IspLink> startMarlow(Session&) { return nullptr; }
