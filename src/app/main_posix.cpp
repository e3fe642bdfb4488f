// Process entry of the native build.
#include "app/run_program.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  orlenta::RealProgramHost host;
  return orlenta::RunProgram(host, orlenta::platform::CommandLineArguments(argc, argv));
}
