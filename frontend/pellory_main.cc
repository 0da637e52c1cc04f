#include "frontend/line_editing_console.h"
#include "frontend/profile.h"
#include "frontend/run.h"
#include "frontend/standard_descriptors.h"

int main(int argc, char** argv) {
  openClosedStandardDescriptors();
  LineEditingConsole console("pellory");
  return runProgram(pelloryProfile(), console, argc, argv);
}
