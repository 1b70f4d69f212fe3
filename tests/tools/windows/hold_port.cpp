// A program that holds a COM port the way a point-of-sale program does
// (share mode 0), for the tests of `tarvo why` on a port in use:
//
//   hold_port.exe COMn
//
// It opens \\.\COMn, says "held COMn" (or "error N") on its standard
// output, and keeps the port until its standard input ends: the test
// that started it closes that pipe and waits for it, so it never outlives
// the test and needs no signal.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: hold_port COMn\n", stderr);
    return 2;
  }
  const std::string path = std::string("\\\\.\\") + argv[1];
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::printf("error %lu\n", GetLastError());
    return 1;
  }
  std::printf("held %s\n", argv[1]);
  std::fflush(stdout);
  char buffer[64];
  DWORD n = 0;
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) != 0 && n > 0) {
  }
  CloseHandle(port);
  return 0;
}
