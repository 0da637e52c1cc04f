#pragma once
// The fixed pauses of the engine's flows (after fuse and lock writes). They go
// through one function so that a test can watch them instead of waiting.

#include <cstdint>
#include <functional>

// Busy-waits `units` delay units, or only reports them to the observer.
void engineDelay(int32_t units);

// While an observer is set, engineDelay calls it instead of waiting. An empty
// function restores the real wait.
void setEngineDelayObserver(std::function<void(int32_t units)> observer);
