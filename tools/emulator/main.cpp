// tarvo-emu: a fiscal printer on a pseudo-terminal, a serial device or a
// network serial port, for trying the driver without a printer. The
// protocol and the printer live in session.cpp and printer.cpp, the loop in
// emulator.cpp; this file only puts them together.
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/lines.h"
#include "emulator/options.h"
#include "emulator/session.h"
#include "platform/host.h"
#include "platform/platform.h"

namespace {

using tarvo::emu::Options;
using tarvo::emu::Session;
namespace platform = tarvo::platform;

// The printer as the state file left it, with the options' identity and
// faults on top: the status to exit with when that fails, or -1.
int PrepareSession(const Options& options, Session* session, tarvo::emu::NetFaults* net) {
  if (!options.stateFile.empty()) {
    std::ifstream in(tarvo::platform::FilePath(options.stateFile), std::ios::binary);
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      std::string error;
      if (!session->Restore(text.str(), &error)) {
        std::fprintf(stderr, "tarvo-emu: %s: %s\n", options.stateFile.c_str(), error.c_str());
        return 1;
      }
    }
  }
  // Options override what the state file says.
  session->SetIdentity(options.serial, options.ecf);
  for (const auto& faultText : options.faults) {
    std::string error;
    if (!tarvo::emu::ApplyControlLine(faultText, &session->GetFaults(), net, &error)) {
      std::string message = "fault '";
      message.append(faultText).append("': ").append(error);
      return tarvo::emu::Usage(message);
    }
  }
  return -1;
}

// The line the printer serves, and the name the driver opens it by.
std::unique_ptr<tarvo::emu::Line> OpenLine(const Options& options, tarvo::emu::NetFaults* net,
                                           std::string* name, std::string* error) {
  if (!options.listen.empty()) {
    uint16_t port = 0;
    const platform::Handle listener = platform::Listen(
        options.listenHost, static_cast<uint16_t>(options.listenPort), &port, error);
    if (listener == platform::kNoHandle) return nullptr;
    const bool v6 = options.listenHost.find(':') != std::string::npos;
    *name = "rfc2217://" + (v6 ? "[" + options.listenHost + "]" : options.listenHost) + ":" +
            std::to_string(port);
    return std::make_unique<tarvo::emu::NetLine>(listener, net);
  }
  *name = options.device;
  const platform::Handle h = options.device.empty()
                                 ? platform::OpenPseudoTerminal(name, error)
                                 : platform::OpenSerialDevice(options.device, options.baud, error);
  if (h == platform::kNoHandle) return nullptr;
  return std::make_unique<tarvo::emu::TermLine>(h);
}

// Announces the line once it is ready: the first line of standard output
// and, with --path-file, the file. False with a message.
bool Announce(const Options& options, const Session& session, const tarvo::emu::NetFaults& net,
              const std::string& name) {
  if (!options.pathFile.empty() && !platform::WriteFileAtomically(options.pathFile, name + "\n")) {
    std::fprintf(stderr, "tarvo-emu: cannot write %s: %s\n", options.pathFile.c_str(),
                 platform::LastErrorText().c_str());
    return false;
  }
  std::printf("%s\n", name.c_str());
  std::fflush(stdout);
  if (!options.quiet) {
    std::fprintf(stderr, "tarvo-emu: serving %s (NS %s, ECF %d); faults: %s; %s\n", name.c_str(),
                 session.GetPrinter().State().serial.c_str(), session.GetPrinter().State().ecf,
                 tarvo::emu::DescribeFaults(session.GetFaults()).c_str(),
                 tarvo::emu::DescribeNetFaults(net).c_str());
  }
  return true;
}

struct ControlChannel {
  platform::Handle in = platform::kNoHandle, out = platform::kNoHandle;
  bool createdIn = false, createdOut = false;
};

bool OpenControl(const Options& options, ControlChannel* c) {
  std::string error;
  if (!options.controlPath.empty()) {
    c->in = platform::OpenControlInput(options.controlPath, &c->createdIn, &error);
  }
  if (error.empty() && !options.ackPath.empty()) {
    c->out = platform::OpenControlOutput(options.ackPath, &c->createdOut, &error);
  }
  if (!error.empty()) std::fprintf(stderr, "tarvo-emu: %s\n", error.c_str());
  return error.empty();
}

void CloseControl(const Options& options, const ControlChannel& c) {
  if (c.createdIn) platform::RemoveFifo(options.controlPath);
  if (c.createdOut) platform::RemoveFifo(options.ackPath);
}

}  // namespace

int main(int argc, char** argv) {
  // The frame log goes out line by line also where standard error is a
  // file or a pipe (the C runtime on Windows buffers it there).
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  Options options;
  if (const int status = tarvo::emu::ParseOptions({argv + 1, argv + argc}, &options); status >= 0) {
    return status;
  }
  Session session;
  tarvo::emu::NetFaults net;
  if (const int status = PrepareSession(options, &session, &net); status >= 0) return status;
  std::string error, name;
  if (!platform::Start(&error)) {
    std::fprintf(stderr, "tarvo-emu: %s\n", error.c_str());
    return 1;
  }
  ControlChannel control;
  if (!OpenControl(options, &control)) return 1;
  const std::unique_ptr<tarvo::emu::Line> line = OpenLine(options, &net, &name, &error);
  if (line == nullptr) std::fprintf(stderr, "tarvo-emu: %s\n", error.c_str());
  if (line == nullptr || !Announce(options, session, net, name)) {
    CloseControl(options, control);
    return 1;
  }
  // Paced bytes are due every few tens of microseconds: wake on time.
  platform::WakeOnTime();
  tarvo::emu::Emulator emulator(options, &session, &net, line.get());
  const int status = emulator.Run(control.in, control.out);
  CloseControl(options, control);
  if (!options.quiet) std::fprintf(stderr, "tarvo-emu: stopped\n");
  return status;
}
