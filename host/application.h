// The whole life of quillon_pc.exe: one instance per logon session, the main
// window and the message loop.
#ifndef QUILLON_HOST_APPLICATION_H_
#define QUILLON_HOST_APPLICATION_H_

// Runs the application for |command_line| (the command line without the
// program name, as the entry point receives it; null counts as empty) and
// returns the process exit code: 0 after a normal quit or a hand-off to the
// running instance, 1 when the main window could not be created.
int RunApplication(const wchar_t* command_line);

#endif  // QUILLON_HOST_APPLICATION_H_
