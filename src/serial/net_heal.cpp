// The healing of a network port whose connection was lost; see
// net_client.h. A loss goes through three stages: Up (connected), Lost
// (noticed, not yet reported by a read: the modem state stays as it was, so
// that the exchange in flight fails as on a terminal unplugged), Down
// (reported: CTS reads down, and reconnections are tried, paced).
#include <cstring>

#include "serial/net_client.h"
#include "trace/trace.h"
#include "trace/trace_lines.h"

namespace tarvo::net {

using namespace rfc2217;

void Client::MarkLost(uint32_t code) {
  if (lost_ == 0) lost_ = code;
  if (socket_ != nullptr) socket_->Close();
  if (link_ != Link::Up) return;
  link_ = Link::Lost;
  nextAttemptMs_ = 0;
  LogLine(TRACE_NET_LOST, LogTag(), url_.host, static_cast<int>(url_.port),
          static_cast<int>(sys::ErrorNumber(lost_)));
}

// A peer that sends more than any printer or server would is dropped; its
// loss heals like any other.
void Client::DropFlood(const char* what, size_t limit) {
  if (link_ == Link::Up) {
    LogLine(TRACE_NET_FLOOD, LogTag(), url_.host, static_cast<int>(url_.port),
            static_cast<int>(limit), what);
  }
  MarkLost(socket_->Code(Failure::Gone));
}

uint32_t Client::ModemStatus(uint32_t* status) {
  if (link_ == Link::Down) Heal();
  if (link_ == Link::Down) {
    *status = 0;
    return 0;
  }
  // Only an empty buffer is topped up: what is buffered came before any
  // notice still on its way.
  if (head_ == tail_ && lost_ == 0) Pump(0);
  if (url_.ignoreCts || !telnet_.modemKnown) {
    *status = kModemCts | kModemDsr;
  } else {
    *status = telnet_.modemState & 0xF0;
  }
  return 0;
}

// One reconnection when its time has come: at most one every
// kReconnectPaceMs, each within kReconnectMs.
void Client::Heal() {
  if (socket_ == nullptr) return;
  const uint64_t now = socket_->NowMs();
  if (now < nextAttemptMs_) return;
  nextAttemptMs_ = now + kReconnectPaceMs;
  const uint32_t code = Reconnect(now);
  if (code != 0) {
    LogLine(TRACE_NET_RETRY_FAILED, LogTag(), url_.host, static_cast<int>(url_.port),
            static_cast<int>(sys::ErrorNumber(code)), static_cast<int>(kReconnectPaceMs));
    return;
  }
  link_ = Link::Up;
  LogLine(TRACE_NET_BACK, LogTag(), url_.host, static_cast<int>(url_.port));
}

// Connects and negotiates again, then restores what the session had set:
// the line settings last acknowledged (a restarted server is back at its
// own defaults), DTR and RTS, and an empty line. Settings acknowledged
// with another value, or not at all, fail the reconnection as they fail an
// open.
uint32_t Client::Reconnect(uint64_t start) {
  const uint64_t deadline = start + kReconnectMs;
  uint32_t code = Connect(kReconnectConnectMs, deadline);
  if (code == 0 && lineSet_) code = SendLine(line_, deadline);
  if (code == 0 && dtr_ != 0) code = Control(dtr_);
  if (code == 0 && rts_ != 0) code = Control(rts_);
  if (code == 0) code = Purge();
  if (code != 0) {
    socket_->Close();
    lost_ = code;
  }
  return code;
}

// A peer that sends more data than any answer holds, request after request
// without end, is no printer: it would hold the exchange for ever (a
// terminal's line can't carry more than its rate allows; a network peer can).
uint32_t Client::Take(uint8_t* buffer, uint32_t count, uint32_t* got) {
  *got = 0;
  if (link_ == Link::Up && dataTaken_ >= kDataPerRequest && HasData()) {
    DropFlood("bytes", kDataPerRequest);
    DropData();
    link_ = Link::Down;
    return lost_;
  }
  size_t n = tail_ - head_;
  if (n > count) n = count;
  std::memcpy(buffer, data_ + head_, n);
  head_ += n;
  dataTaken_ += n;
  *got = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace tarvo::net
