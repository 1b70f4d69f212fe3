// The console on Windows (see host.h): the program's text is UTF-8; a
// console's input and output are in its own code pages, which can differ
// from each other and from cp1252 (850 is usual in a Brazilian console).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/host.h"
#include "platform/text_win32.h"

namespace tarvo::platform {

std::string ConvertCodePage(const std::string& text, unsigned from, unsigned to) {
  if (text.empty() || from == to) return text;
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(from, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return text;
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(from, 0, text.data(), length, w.data(), wide);
  const int bytes = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(to, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

namespace {

bool IsConsole(FILE* stream) {
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  DWORD mode = 0;
  return handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

bool IsTerminal(FILE* stream) { return IsConsole(stream); }

bool CanRedrawLine(FILE* stream) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0 &&
         SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void WriteError(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void Print(FILE* stream, const std::string& utf8) {
  const std::string text =
      IsConsole(stream) ? ConvertCodePage(utf8, CP_UTF8, GetConsoleOutputCP()) : utf8;
  std::fwrite(text.data(), 1, text.size(), stream);
}

bool ReadLine(FILE* in, std::string* line) {
  line->clear();
  int c = 0;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  const bool got = c != EOF || !line->empty();
  // A script written on Windows ends its lines with CR LF.
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (IsConsole(in)) *line = ConvertCodePage(*line, GetConsoleCP(), CP_UTF8);
  return got;
}

bool ReadInput(std::string* text) {
  char buffer[1 << 16];
  size_t n = 0;
  text->clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) text->append(buffer, n);
  if (IsConsole(stdin)) *text = ConvertCodePage(*text, GetConsoleCP(), CP_UTF8);
  return std::ferror(stdin) == 0;
}

}  // namespace tarvo::platform
