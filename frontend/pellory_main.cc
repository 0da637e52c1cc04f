#include "frontend/profile.h"
#include "frontend/run.h"
#include "frontend/stdio_console.h"

int main(int argc, char** argv) {
  StdioConsole console;
  return runProgram(pelloryProfile(), console, argc, argv);
}
