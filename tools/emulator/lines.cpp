// The emulator's lines; see lines.h.
#include "emulator/lines.h"

namespace tarvo::emu {

using platform::kNoHandle;
using platform::Watch;

void TermLine::Watches(std::vector<Watch>* watches, bool wantWrite) {
  // While the driver has a pseudo-terminal closed, its master reports
  // POLLHUP on every poll: it is left out and looked at again in a moment.
  if (down_) return;
  Watch w;
  w.handle = handle_;
  w.write = wantWrite;
  watches->push_back(w);
}

// A line that was down is tried again each time round.
bool TermLine::Receive(std::string* data, std::string*) {
  char buffer[512];
  const long n = platform::Read(handle_, buffer, sizeof buffer);
  down_ = n < 0;
  if (n > 0) data->append(buffer, static_cast<size_t>(n));
  return !down_;
}

long TermLine::Send(const char* bytes, size_t count) {
  return platform::Write(handle_, bytes, count);
}

NetLine::~NetLine() {
  platform::Close(client_);
  platform::Close(listener_);
}

void NetLine::Watches(std::vector<Watch>* watches, bool) {
  Watch listening;
  listening.handle = listener_;
  watches->push_back(listening);
  if (client_ == kNoHandle) return;
  Watch client;
  client.handle = client_;
  client.write = !wire_.empty();
  watches->push_back(client);
}

void NetLine::Drop(const char* why, std::string* log) {
  if (client_ == kNoHandle) return;
  platform::Close(client_);
  client_ = kNoHandle;
  wire_.clear();
  lost_ = true;
  *log += std::string("   net: connection ") + why + "\n";
}

// One client at a time, as ser2net serves a port: a second one is told so
// and closed, and the first keeps the printer.
void NetLine::AcceptClients(std::string* log) {
  for (;;) {
    const platform::Handle h = platform::Accept(listener_);
    if (h == kNoHandle) return;
    if (client_ != kNoHandle) {
      static const char kBusy[] = "Port already in use\r\n";
      platform::Write(h, kBusy, sizeof kBusy - 1);
      platform::Close(h);
      *log += "   net: a second client refused\n";
      continue;
    }
    client_ = h;
    server_ = PortServer(faults_);
    wire_ = faults_->mute ? "" : server_.Greeting();
    *log += "   net: client connected\n";
  }
}

void NetLine::FlushWire(std::string* log) {
  while (client_ != kNoHandle && !wire_.empty()) {
    const long n = platform::Write(client_, wire_.data(), wire_.size());
    if (n < 0) return Drop("lost", log);
    if (n == 0) return;
    wire_.erase(0, static_cast<size_t>(n));
  }
}

void NetLine::Turn(std::string* log) {
  AcceptClients(log);
  if (faults_->drops > 0) {
    faults_->drops = 0;
    Drop("dropped on command", log);
  }
  if (client_ != kNoHandle && !faults_->mute) wire_ += server_.ModemChange();
  FlushWire(log);
}

bool NetLine::Receive(std::string* data, std::string* log) {
  if (client_ == kNoHandle) {
    const bool lost = lost_;
    lost_ = false;
    return !lost;
  }
  char buffer[512];
  const long n = platform::Read(client_, buffer, sizeof buffer);
  if (n < 0) {
    Drop("closed by the client", log);
    lost_ = false;
    return false;
  }
  PortServer::Outcome o = server_.Receive(std::string_view(buffer, static_cast<size_t>(n)));
  *data += o.data;
  *log += o.log;
  if (!faults_->mute) wire_ += o.reply;
  purgeReceive_ = purgeReceive_ || o.purgeReceive;
  purgeTransmit_ = purgeTransmit_ || o.purgeTransmit;
  FlushWire(log);
  return client_ != kNoHandle;
}

long NetLine::Send(const char* bytes, size_t count) {
  if (client_ == kNoHandle) return -1;
  if (!faults_->mute) wire_ += PortServer::Escape(std::string_view(bytes, count));
  std::string log;
  FlushWire(&log);
  return static_cast<long>(count);
}

void NetLine::TakePurges(bool* receive, bool* transmit) {
  *receive = purgeReceive_;
  *transmit = purgeTransmit_;
  purgeReceive_ = purgeTransmit_ = false;
}

}  // namespace tarvo::emu
