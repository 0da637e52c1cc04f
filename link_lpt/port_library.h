#pragma once
// Binding of the port-I/O library "io" (libio.so) at run time.
//
// The library is found through the dynamic loader's usual search, so
// LD_LIBRARY_PATH can put the simulated cable in front of the real library
// that the programs' run path finds beside them. The environment variable
// PELLORY_PORT_LIBRARY, when set and not empty, names the file to load
// instead (a path, or a name for the loader to search).

#include <string>

#include "link_lpt/port_bits.h"

// 0 when the library is loaded and its three bit operations were found;
// 1 otherwise, with portLibraryError() telling why. Nothing is printed here.
int bindPortLibrary();
// The same, loading `path` as given.
int bindPortLibraryFrom(const std::string& path);
// Releases the library. Registered to run once at exit by the first
// successful bind; harmless when nothing is bound.
void unbindPortLibrary();

// The time scale of the chip behind a simulated cable, which declares it
// (PellorySimTimeScale); 1 for the real library and while nothing is bound.
double portLibraryTimeScale();

// The loader's reason for the last failed bind.
const std::string& portLibraryError();
// The bound bit operations; all empty while nothing is bound.
PortBits boundPortBits();
// Whether the slot of one of the 13 names (port_io_api.h order) is filled.
bool portLibrarySlotFilled(int index);
// How many times the exit handler has been registered (0 or 1).
int portLibraryExitRegistrations();
