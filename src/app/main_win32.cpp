// Process entry of the Windows program. The four parameters are ignored: the
// run reads its arguments through the platform's command-line split.
#include <windows.h>

#include "app/run_program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  orlenta::RealProgramHost host;
  return orlenta::RunProgram(host);
}
