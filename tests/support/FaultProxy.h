#pragma once
// A TCP proxy on 127.0.0.1 between a client under test and a real server, which can cut or
// stall a connection after a number of bytes went to the server: the faults of a network
// in the middle of an upload, made on purpose.
//
// Each accepted connection is forwarded by its own thread. Bytes are counted per
// connection in one direction (upstream, client to server, unless asked otherwise), from
// when it opened or the fault was armed, whichever is later (a kept-alive connection counts
// afresh); the fault fires when a connection has passed exactly that many bytes that way. A cut
// closes both sides with a reset; a stall stops forwarding in both directions but keeps both
// sockets open until the proxy is destroyed, as a hung network would.

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace brevanto::test {

class FaultProxy {
 public:
  enum class Fault { None, Cut, Stall };
  enum class Direction { Upstream, Downstream };

  // Listens on an ephemeral port of 127.0.0.1 and forwards to 127.0.0.1:targetPort. Aborts
  // the test program if it cannot listen.
  explicit FaultProxy(int targetPort);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  int port() const { return m_port; }

  // Arms `fault`: it fires after `afterBytes` bytes of a connection in direction `way`, on
  // the first connection that gets that far only, or on every one when `everyTime`.
  // Fault::None disarms.
  void Arm(Fault fault, std::uint64_t afterBytes, bool everyTime = false,
           Direction way = Direction::Upstream);
  void CutAfter(std::uint64_t afterBytes, bool everyTime = false) {
    Arm(Fault::Cut, afterBytes, everyTime);
  }
  void StallAfter(std::uint64_t afterBytes, bool everyTime = false) {
    Arm(Fault::Stall, afterBytes, everyTime);
  }

  // How often a fault fired, and how many connections were accepted, so far.
  int Fired() const { return m_fired.load(); }
  int Connections() const { return m_connections.load(); }

 private:
  void AcceptLoop();
  void Forward(int client);
  struct Armed {
    Fault What = Fault::None;
    std::uint64_t AfterBytes = 0;
    bool EveryTime = false;
    Direction Way = Direction::Upstream;
    std::uint64_t Generation = 0;  // counts Arm calls
  };
  Armed Current();
  // Takes the fault for one connection; None when a one-time fault went to another.
  Fault Claim(std::uint64_t generation);

  int m_target = 0;
  int m_port = 0;
  int m_listen = -1;
  int m_wake[2] = {-1, -1};  // written once at destruction: every thread wakes and ends
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_fired{0};
  std::atomic<int> m_connections{0};

  std::mutex m_mutex;
  Armed m_armed;
  std::vector<int> m_open;  // sockets of live connections, shut down at destruction
  std::list<std::thread> m_threads;
  std::thread m_acceptor;
};

}  // namespace brevanto::test
