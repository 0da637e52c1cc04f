#pragma once
// The three standard descriptors, made safe before anything else is opened.

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Without it
// the first device or file opened would take that number: a serial port on
// descriptor 0 would be read as commands, and console output would be written
// into whatever landed on 1.
void openClosedStandardDescriptors();
