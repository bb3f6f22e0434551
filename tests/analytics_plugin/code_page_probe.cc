// Started by the end-to-end tests exactly as they start quillon_pc.exe, so
// that a test about a code page can show the program really ran under it:
// prints "acp <ANSI code page> temp-fits <1|0>", the second telling whether
// the name of the temporary folder converts to that code page without loss.
#include <windows.h>

#include <cstdio>

int main() {
  wchar_t folder[MAX_PATH + 1] = {};
  if (GetTempPathW(MAX_PATH + 1, folder) == 0) return 1;
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, folder, -1, nullptr, 0,
                      nullptr, &lossy);
  std::printf("acp %u temp-fits %d\n", GetACP(), lossy ? 0 : 1);
  return 0;
}
