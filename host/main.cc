// Process entry of quillon_pc.exe.
#include <windows.h>

#include "host/application.h"
#include "host/startup_marks.h"

int APIENTRY wWinMain(HINSTANCE instance, HINSTANCE previous_instance,
                      wchar_t* command_line, int show_command) {
  (void)instance;
  (void)previous_instance;
  (void)show_command;
  startup_marks::Mark(startup_marks::Phase::kEntry);
  return RunApplication(command_line);
}
