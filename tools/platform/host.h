// The command-line host's part of the tools' platform layer: the console,
// files, the environment, and what the system can tell about a serial
// device. One file per platform (host_posix.cpp, host_win32.cpp with
// console_win32.cpp); it translates and does not decide: what `tarvo why`
// and `tarvo ports` make of the facts is written once, in tools/cli.
//
// Text inside the program is UTF-8 on every platform (the printer's cp1252
// is converted at the driver's calls). On Windows the console is the only
// place with another code page: arguments come from the wide command line,
// and a console's input and output are converted from and to its code
// pages (GetConsoleCP, GetConsoleOutputCP). Files and pipes carry UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvo::platform {

// argv as UTF-8 (on Windows rebuilt from the wide command line, whatever
// the console's code page).
std::vector<std::string> Arguments(int argc, char** argv);

bool IsTerminal(FILE* stream);
// Whether a line on the terminal can be redrawn ("\r\033[K"): a POSIX
// terminal, a Windows console that takes VT sequences (switched on here).
bool CanRedrawLine(FILE* stream);
// Writes to standard error at once, unbuffered.
void WriteError(const std::string& bytes);
// Writes UTF-8 text to stdout or stderr; a console gets it in its output
// code page (characters it lacks become '?').
void Print(FILE* stream, const std::string& utf8);
// Reads one line (without its '\n') as UTF-8; false at the end. A
// console's line is converted from its input code page.
bool ReadLine(FILE* in, std::string* line);
// Standard input whole, as UTF-8 (a console's text converted).
bool ReadInput(std::string* text);

// Windows only: text from one code page to another through UTF-16
// (CP_UTF8 is 65001); characters the target lacks become its default
// character ('?').
std::string ConvertCodePage(const std::string& text, unsigned from, unsigned to);

bool SetEnvironment(const char* name, const std::string& value);
void UnsetEnvironment(const char* name);
// A new directory of this user's own in the system's temporary place
// ($TMPDIR, /tmp; GetTempPath on Windows), named PREFIX and a unique end;
// "" when none can be made.
std::string MakeTemporaryDirectory(const std::string& prefix);

// A file opened for ReadRegularFile/WriteRegularFile: a regular file,
// never through a symbolic link, in binary mode (CR LF stays as it is).
// -1 with *error when it can't be opened so.
int OpenRegularFile(const std::string& path, bool write, std::string* error);
// Removes `path` only when it is a regular file (not a link to one).
bool RemoveRegularFile(const std::string& path);
// File names are UTF-8 inside the tools, as all text is (an argument, a
// name listed from a directory, a name printed). FilePath gives the path
// the system's file calls take: the same bytes on POSIX; on Windows
// UTF-16, so that a name outside the ANSI code page opens too. Never an
// exception. Every file the tools open by name goes through it (or
// OpenFile, OpenRegularFile).
std::filesystem::path FilePath(const std::string& utf8);
std::string FileNameText(const std::filesystem::path& name);
// std::fopen of a UTF-8 path; nullptr with errno set when it fails.
std::FILE* OpenFile(const std::string& path, const char* mode);
// The names in the directory `dir` ("." and ".." left out), sorted; none
// when it can't be read. Never throws: a directory that changes or goes
// away during the walk (a process's entry in /proc when it ends) ends the
// list there. Names as FileNameText gives them (directory.cpp, for both).
std::vector<std::string> DirectoryNames(const std::string& dir);

// ---- The driver's registry --------------------------------------------------

// Whether COM names are the system's own devices (Windows): there the
// library opens COMn itself unless the Ports map sends the name to a
// network port, and its settings are in the system registry. Elsewhere
// they are in a .reg file.
bool HasComDevices();
// The string values of registry keys ("HKEY_LOCAL_MACHINE\\SOFTWARE\\...")
// as the text of a .reg file, so that the library's one parser reads them;
// false with *error when none of the keys is there. Windows only.
bool ExportRegistry(const std::vector<std::string>& keys, std::string* text, std::string* error);

// What the system tells about a serial device when it is opened.
enum class DeviceFailure {
  None,         // it opened
  Missing,      // no such device
  Unreachable,  // a directory on its way may not be searched
  Denied,       // this user may not open it
  Busy,         // another program has it open
  NotSerial,    // it is there but is no serial device
  Other,
};
struct DeviceProbe {
  DeviceFailure failure = DeviceFailure::Other;
  int code = 0;          // the system's code (errno or a Win32 code)
  std::string codeText;  // "ERROR_ACCESS_DENIED (5): ..." or strerror's text
  // The device's owner, group and mode where the system has them (POSIX),
  // for the advice on permissions; empty elsewhere.
  std::string owner, group;
  unsigned mode = 0;
  std::string holders;  // "process 12 (name), ..." where the system tells
};
// Opens the device the way the driver does (and closes it again).
// `code`: the driver's own code of its failed open, 0 when it told none.
DeviceProbe ProbeDevice(const std::string& device, int code, const std::string& procRoot);
// The system's explanation of one of its codes ("ERROR_FILE_NOT_FOUND (2):
// ..." on Windows, strerror on POSIX).
std::string CodeText(int code);

// Processes that hold `device` open, as "process PID (name)" ("" when the
// system does not tell or none does).
std::string HoldersOf(const std::string& device, const std::string& procRoot);

// A serial port of this machine, and what is plugged into it.
struct SystemPort {
  std::string name;               // ttyUSB0, COM3
  std::string device;             // /dev/ttyUSB0, COM3
  std::vector<std::string> byId;  // stable names of it (/dev/serial/by-id)
  std::string driver, subsystem;  // kernel driver and bus, or the device's service
  std::string friendlyName;       // Windows' name for it
  std::string vid, pid, manufacturer, product, serial;
};
// `sysRoot` and `devRoot` are "/sys" and "/dev" outside tests (POSIX).
std::vector<SystemPort> ListSystemPorts(const std::string& sysRoot, const std::string& devRoot);
// What is at a mapped device now: "missing: ...", "pseudo-terminal",
// "present", "not a serial device".
std::string DeviceState(const std::string& device);

}  // namespace tarvo::platform
