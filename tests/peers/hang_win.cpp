// A command that never ends on its own, for the problem report's bound on
// the commands it runs.
#include <windows.h>

#include <cstdio>

int wmain() {
  std::fputs("started\r\n", stdout);
  std::fflush(stdout);
  ::Sleep(INFINITE);
  return 0;
}
