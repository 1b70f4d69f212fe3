// The emulator's command line.
#pragma once

#include <string>
#include <vector>

namespace tarvo::emu {

struct Options {
  std::string device;  // --device: a serial device instead of a pseudo-terminal
  long baud = 115200;
  std::string listen;  // --listen HOST:PORT: a network serial port instead
  std::string listenHost;
  unsigned listenPort = 0;
  std::string pathFile;
  std::string serial;
  long ecf = -1;
  std::string stateFile;
  std::string paperFile;
  std::string controlPath;
  std::string ackPath;
  bool quiet = false;
  std::vector<std::string> faults;
};

extern const char kUsage[];

// The status to exit with at once (help shown, or an option refused, with
// a message on standard error), or -1 to go on.
int ParseOptions(const std::vector<std::string>& args, Options* options);
int Usage(const std::string& message);

// HOST:PORT (HOST a name, an address or [IPv6]; PORT 0 to 65535). False
// when malformed.
bool SplitHostPort(const std::string& text, std::string* host, unsigned* port);

}  // namespace tarvo::emu
