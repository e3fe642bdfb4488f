// Process entry of the Windows program. The four parameters are ignored: the
// run reads its arguments from the process's own command line.
#include <windows.h>

#include "app/run_program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  orlenta::RealProgramHost host;
  return orlenta::RunProgram(host, orlenta::platform::CommandLineArguments(0, nullptr));
}
