#pragma once
// A TCP proxy on 127.0.0.1 in front of a test server that can stop forwarding while it
// keeps every connection open, as a middlebox that lost its state does: the client then
// waits for an answer that never comes.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace brevanto::test {

class StallingProxy {
 public:
  explicit StallingProxy(unsigned targetPort) : m_targetPort(targetPort) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 16) != 0) {
      return;
    }
    socklen_t length = sizeof address;
    if (::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
    m_port = ntohs(address.sin_port);
    m_thread = std::jthread([this](std::stop_token stop) { Loop(stop); });
  }
  ~StallingProxy() {
    m_thread.request_stop();
    if (m_thread.joinable()) m_thread.join();
    for (const auto& [client, server] : m_pairs) {
      if (client >= 0) ::close(client);
      if (server >= 0) ::close(server);
    }
    if (m_listener >= 0) ::close(m_listener);
  }
  StallingProxy(const StallingProxy&) = delete;
  StallingProxy& operator=(const StallingProxy&) = delete;

  // 0 when the proxy could not listen.
  unsigned Port() const { return m_port; }
  // Stops forwarding on the connections open now; with `newOnesToo` also on those
  // accepted from now on (they then never see the server's greeting).
  void Freeze(bool newOnesToo) {
    std::lock_guard lock(m_lock);
    m_frozenBelow = m_pairs.size();
    m_freezeNew = newOnesToo;
  }
  // Closes every connection: their clients see the server go away.
  void CloseAll() {
    std::lock_guard lock(m_lock);
    for (auto& [client, server] : m_pairs) {
      if (client >= 0) ::close(client);
      if (server >= 0) ::close(server);
      client = server = -1;
    }
  }

 private:
  static sockaddr_in Loopback(unsigned port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
  }

  void Loop(std::stop_token stop) {
    char buffer[16384];
    while (!stop.stop_requested()) {
      std::vector<pollfd> polled{{m_listener, POLLIN, 0}};
      std::vector<std::pair<std::size_t, bool>> owners;  // pair index, client side
      {
        std::lock_guard lock(m_lock);
        for (std::size_t i = m_frozenBelow; i < m_pairs.size(); ++i) {
          if (m_pairs[i].second < 0) continue;  // accepted while frozen, or ended
          polled.push_back({m_pairs[i].first, POLLIN, 0});
          owners.emplace_back(i, true);
          polled.push_back({m_pairs[i].second, POLLIN, 0});
          owners.emplace_back(i, false);
        }
      }
      if (::poll(polled.data(), polled.size(), 20) <= 0) continue;
      if ((polled[0].revents & POLLIN) != 0) Accept();
      std::lock_guard lock(m_lock);
      for (std::size_t k = 1; k < polled.size(); ++k) {
        if (polled[k].revents == 0) continue;
        const auto [index, clientSide] = owners[k - 1];
        if (index < m_frozenBelow) continue;  // frozen since the poll began
        auto& [client, server] = m_pairs[index];
        if (server < 0) continue;  // ended by its other side in this round
        const int from = clientSide ? client : server;
        const int to = clientSide ? server : client;
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got <= 0) {  // one side ended: so does the other
          ::close(client);
          ::close(server);
          client = server = -1;
          continue;
        }
        for (ssize_t sent = 0; sent < got;) {
          const ssize_t n = ::write(to, buffer + sent, static_cast<std::size_t>(got - sent));
          if (n <= 0) break;
          sent += n;
        }
      }
    }
  }

  void Accept() {
    const int client = ::accept(m_listener, nullptr, nullptr);
    if (client < 0) return;
    std::lock_guard lock(m_lock);
    int server = -1;
    if (!m_freezeNew) {
      server = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address = Loopback(m_targetPort);
      if (server >= 0 &&
          ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(server);
        server = -1;
      }
    }
    m_pairs.emplace_back(client, server);
  }

  const unsigned m_targetPort;
  int m_listener = -1;
  unsigned m_port = 0;
  std::mutex m_lock;  // guards the members below
  std::vector<std::pair<int, int>> m_pairs;  // client and server side of each connection
  std::size_t m_frozenBelow = 0;             // pairs before this index forward nothing
  bool m_freezeNew = false;
  std::jthread m_thread;  // last
};

}  // namespace brevanto::test
