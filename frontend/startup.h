#pragma once
// The link half of start-up for each program: reach the programmer, bring the
// target into programming mode, identify it and report. Each returns the link
// (also stored in session.link) or nullptr when the programmer was not found,
// after printing whatever led up to that.

#include <memory>

#include "engine/isp_link.h"

struct Session;

std::unique_ptr<IspLink> startKorvo(Session& session);
// Before the banner: with no port named by the configuration file or --port,
// the one USB serial device present becomes the Korvo's port for the run.
// With several, they are listed, and at a terminal the user picks one; false
// when none was picked, and the run ends with status 2.
bool chooseSerialDevice(Session& session);
std::unique_ptr<IspLink> startMarlow(Session& session);
