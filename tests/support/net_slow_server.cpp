#include "support/net_slow_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

#include "serial/rfc2217.h"

namespace tarvo::test {

namespace {

using namespace rfc2217;

constexpr int kHoldGreetingMs = 300;

// What ser2net sends first.
const uint8_t kGreeting[] = {kIac,  kWill, 3,     kIac,  kDo,  3,    kIac,
                             kWill, 1,     kIac,  kDont, 1,    kIac, kDo,
                             0,     kIac,  kWill, 0,     kIac, kDo,  kOptionComPort};

bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

void Send(int fd, const uint8_t* bytes, size_t count) {
  (void)!send(fd, bytes, count, MSG_NOSIGNAL);
}

}  // namespace

SlowNegotiationServer::SlowNegotiationServer() {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listener_, 4);
  socklen_t len = sizeof a;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

SlowNegotiationServer::~SlowNegotiationServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

std::string SlowNegotiationServer::Url() const {
  return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

int SlowNegotiationServer::Accepted() {
  std::lock_guard<std::mutex> g(m_);
  return accepted_;
}

bool SlowNegotiationServer::AllClosed() {
  std::unique_lock<std::mutex> l(m_);
  return changed_.wait_for(l, std::chrono::seconds(5), [this] { return open_ == 0; });
}

void SlowNegotiationServer::Run() {
  while (!stop_) {
    if (!Readable(listener_, 50)) continue;
    std::vector<int> clients{accept(listener_, nullptr, nullptr)};
    // A second open racing the first would connect within this time.
    if (Readable(listener_, kHoldGreetingMs))
      clients.push_back(accept(listener_, nullptr, nullptr));
    {
      std::lock_guard<std::mutex> g(m_);
      accepted_ += static_cast<int>(clients.size());
      open_ += static_cast<int>(clients.size());
    }
    for (int fd : clients) Send(fd, kGreeting, sizeof kGreeting);
    Serve(clients);
  }
}

// Acknowledges every setting, control and purge until each client closes.
void SlowNegotiationServer::Serve(std::vector<int>& clients) {
  std::vector<Parser> parsers(clients.size());
  size_t left = clients.size();
  while (left > 0 && !stop_) {
    for (size_t k = 0; k < clients.size(); ++k) {
      if (clients[k] < 0 || !Readable(clients[k], 10)) continue;
      uint8_t chunk[512];
      const ssize_t n = recv(clients[k], chunk, sizeof chunk, 0);
      if (n <= 0) {
        close(clients[k]);
        clients[k] = -1;
        --left;
        std::lock_guard<std::mutex> g(m_);
        --open_;
        changed_.notify_all();
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        const Event e = parsers[k].Feed(chunk[i]);
        if (e.kind != Event::ComPort) continue;
        uint8_t out[32];
        const size_t length = EncodeComPort(static_cast<uint8_t>(e.command + kServerOffset),
                                            e.value, e.length, out, sizeof out);
        Send(clients[k], out, length);
      }
    }
  }
  for (int fd : clients) {
    if (fd >= 0) close(fd);
  }
}

}  // namespace tarvo::test
