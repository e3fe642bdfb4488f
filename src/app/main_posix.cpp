// Process entry of the native build: hands argv to the platform, then runs.
#include "app/run_program.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  orlenta::platform::SetProcessArguments(argc, argv);
  orlenta::RealProgramHost host;
  return orlenta::RunProgram(host);
}
