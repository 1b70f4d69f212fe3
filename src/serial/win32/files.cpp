// Files by name and the local time of day, for the trace, through the Win32
// file calls so that nothing is allocated. Reads and writes follow the C
// runtime's text mode: "\n" is stored as CR LF, a stored CR LF reads as
// "\n" and a Ctrl-Z ends the text. Positions are byte offsets in the file,
// as ftell gives them in text mode.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

#include "serial/system.h"

namespace tarvo::sys {

namespace {

HANDLE Win(Handle h) { return static_cast<HANDLE>(h); }

bool WriteAll(HANDLE file, const char* bytes, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

bool Move(Handle file, int64_t offset, DWORD from, int64_t* position) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER now;
  if (!SetFilePointerEx(Win(file), distance, &now, from)) return false;
  if (position != nullptr) *position = now.QuadPart;
  return true;
}

}  // namespace

// "r": read, existing only; "r+": read and write, existing only; "w+":
// read and write, created or emptied. Shared for reading and writing, as
// fopen shares.
namespace {

// A name that is a symbolic link or another reparse point, a directory or
// anything but a file on a disk is refused: a link named like the log
// would send frames of sales into whatever file it points at.
bool IsPlainFileName(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // nothing there yet
  return (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool IsPlainFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

}  // namespace

Handle FileOpen(const char* path, FileMode mode) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case FileMode::Read: access = GENERIC_READ; break;
    case FileMode::Update: break;
    case FileMode::Create: disposition = CREATE_ALWAYS; break;
  }
  if (!IsPlainFileName(path)) return nullptr;
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which the check
  // below then refuses, instead of its target.
  HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (!IsPlainFile(h)) {
    CloseHandle(h);
    return nullptr;
  }
  return h;
}

void FileClose(Handle file) {
  if (file != nullptr) CloseHandle(Win(file));
}

// Whether the byte after a CR that ended a read is a LF; it is consumed
// when it is, left for the next read when not.
bool LineFeedFollows(HANDLE file) {
  char next = 0;
  DWORD got = 0;
  if (!ReadFile(file, &next, 1, &got, nullptr) || got == 0) return false;
  if (next == '\n') return true;
  LARGE_INTEGER back;
  back.QuadPart = -1;
  SetFilePointerEx(file, back, nullptr, FILE_CURRENT);
  return false;
}

uint32_t FileRead(Handle file, void* buffer, uint32_t count) {
  char* out = static_cast<char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD got = 0;
    if (!ReadFile(Win(file), out + total, count - total, &got, nullptr) || got == 0) break;
    // Text mode, in place over the bytes just read: CR LF becomes LF.
    const uint32_t end = total + got;
    uint32_t kept = total;
    for (uint32_t at = total; at < end; ++at) {
      const char c = out[at];
      if (c == '\x1A') return kept;  // Ctrl-Z: the end of the text
      if (c == '\r') {
        if (at + 1 < end ? out[at + 1] == '\n' : LineFeedFollows(Win(file))) {
          out[kept++] = '\n';
          at += at + 1 < end ? 1 : 0;
          continue;
        }
      }
      out[kept++] = c;
    }
    total = kept;
  }
  return total;
}

int64_t FileWrite(Handle file, const void* buffer, uint32_t count) {
  // LF becomes CR LF, a chunk at a time through a small stack buffer.
  const char* in = static_cast<const char*>(buffer);
  char chunk[512];
  DWORD used = 0;
  int64_t stored = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (used + 2 > sizeof chunk) {
      if (!WriteAll(Win(file), chunk, used)) return -1;
      stored += used;
      used = 0;
    }
    if (in[i] == '\n') chunk[used++] = '\r';
    chunk[used++] = in[i];
  }
  if (!WriteAll(Win(file), chunk, used)) return -1;
  return stored + used;
}

int64_t FileSeek(Handle file, int64_t offset) {
  int64_t position = -1;
  return Move(file, offset, FILE_BEGIN, &position) ? position : -1;
}

int64_t FileSeekEnd(Handle file) {
  int64_t position = -1;
  return Move(file, 0, FILE_END, &position) ? position : -1;
}

int64_t FileTell(Handle file) {
  int64_t position = -1;
  return Move(file, 0, FILE_CURRENT, &position) ? position : -1;
}

void CurrentLocalTime(LocalTime* now) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  *now = LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace tarvo::sys
