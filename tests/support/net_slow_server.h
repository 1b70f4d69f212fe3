// A network serial port server (Telnet with the Com Port option) on a
// loopback port of the system's choosing, slow to negotiate: it holds its
// greeting back until a second connection comes or 300 ms have passed, so
// that two opens racing for one device are both inside the open when it
// answers. It then acknowledges every setting and serves until each client
// closes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::test {

class SlowNegotiationServer {
 public:
  SlowNegotiationServer();
  ~SlowNegotiationServer();
  SlowNegotiationServer(const SlowNegotiationServer&) = delete;
  SlowNegotiationServer& operator=(const SlowNegotiationServer&) = delete;

  std::string Url() const;
  // Connections accepted so far.
  int Accepted();
  // Waits (at most 5 s) until every accepted connection has been closed by
  // its client; false when one stays open.
  bool AllClosed();

 private:
  void Run();
  void Serve(std::vector<int>& clients);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::condition_variable changed_;
  int accepted_ = 0;
  int open_ = 0;
  std::thread thread_;
};

}  // namespace tarvo::test
