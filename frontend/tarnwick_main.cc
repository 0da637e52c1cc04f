#include "frontend/line_editing_console.h"
#include "frontend/profile.h"
#include "frontend/run.h"

int main(int argc, char** argv) {
  LineEditingConsole console("tarnwick");
  return runProgram(tarnwickProfile(), console, argc, argv);
}
