#include "tests/support/FaultProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace brevanto::test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

bool SendAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Closes with a reset rather than an orderly end, as a dropped connection looks to a client.
void Reset(int fd) {
  const linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

}  // namespace

FaultProxy::FaultProxy(int targetPort) : m_target(targetPort) {
  m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (m_listen < 0 ||
      ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listen, 64) != 0 ||
      ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::pipe2(m_wake, O_CLOEXEC) != 0) {
    std::perror("FaultProxy: cannot listen on 127.0.0.1");
    std::abort();
  }
  m_port = ntohs(address.sin_port);
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

FaultProxy::~FaultProxy() {
  m_stopping = true;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
  m_acceptor.join();
  {
    // A thread blocked in send() to a peer that stopped reading wakes up here.
    std::lock_guard lock(m_mutex);
    for (int fd : m_open) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& thread : m_threads) thread.join();
  ::close(m_listen);
  ::close(m_wake[0]);
  ::close(m_wake[1]);
}

void FaultProxy::Arm(Fault fault, std::uint64_t afterBytes, bool everyTime, Direction way) {
  std::lock_guard lock(m_mutex);
  m_armed = Armed{fault, afterBytes, everyTime, way, m_armed.Generation + 1};
}

FaultProxy::Armed FaultProxy::Current() {
  std::lock_guard lock(m_mutex);
  return m_armed;
}

FaultProxy::Fault FaultProxy::Claim(std::uint64_t generation) {
  std::lock_guard lock(m_mutex);
  if (m_armed.Generation != generation || m_armed.What == Fault::None) return Fault::None;
  const Fault fault = m_armed.What;
  if (!m_armed.EveryTime) m_armed.What = Fault::None;
  ++m_fired;
  return fault;
}

void FaultProxy::AcceptLoop() {
  while (!m_stopping) {
    pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if ((fds[1].revents & POLLIN) != 0) return;
    const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++m_connections;
    std::lock_guard lock(m_mutex);
    m_open.push_back(client);
    m_threads.emplace_back([this, client] { Forward(client); });
  }
}

void FaultProxy::Forward(int client) {
  int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  {
    std::lock_guard lock(m_mutex);
    m_open.push_back(server);
  }
  const sockaddr_in target = Loopback(m_target);
  bool clientOpen =
      ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
  bool serverOpen = clientOpen;
  bool stalled = false;
  bool cut = false;
  std::uint64_t passed[2] = {0, 0};  // bytes of this connection: [0] upstream, [1] downstream
  std::uint64_t countedFrom = 0;     // passed[] of the fault's direction when it was armed
  std::uint64_t generation = 0;
  bool reachedHere = false;  // this connection got to the armed point already
  std::vector<char> buffer(64 * 1024);

  while (!m_stopping && (clientOpen || serverOpen)) {
    std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}};
    if (!stalled) {
      if (clientOpen) fds.push_back({client, POLLIN, 0});
      if (serverOpen) fds.push_back({server, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if ((fds[0].revents & POLLIN) != 0) break;
    for (std::size_t i = 1; i < fds.size() && !stalled && !cut; ++i) {
      if (fds[i].revents == 0) continue;
      const bool upstream = fds[i].fd == client;
      const int to = upstream ? server : client;
      const ssize_t got = ::recv(fds[i].fd, buffer.data(), buffer.size(), 0);
      if (got <= 0) {
        // One side finished: pass the end on and keep the other direction going.
        ::shutdown(to, SHUT_WR);
        (upstream ? clientOpen : serverOpen) = false;
        continue;
      }
      std::size_t size = static_cast<std::size_t>(got);
      std::size_t sent = 0;
      const Armed armed = Current();
      const int direction = upstream ? 0 : 1;
      const bool counted = upstream == (armed.Way == Direction::Upstream);
      if (armed.Generation != generation) {
        generation = armed.Generation;
        countedFrom = passed[armed.Way == Direction::Upstream ? 0 : 1];
        reachedHere = false;
      }
      const std::uint64_t due = countedFrom + armed.AfterBytes;
      if (counted && armed.What != Fault::None && !reachedHere && passed[direction] + size >= due) {
        sent = static_cast<std::size_t>(due - passed[direction]);
        if (!SendAll(to, buffer.data(), sent)) {
          clientOpen = serverOpen = false;
          break;
        }
        reachedHere = true;
        const Fault fault = Claim(generation);
        if (fault == Fault::Cut) {
          cut = true;
        } else if (fault == Fault::Stall) {
          stalled = true;
        }
      }
      passed[direction] += size;
      if (!stalled && !cut && !SendAll(to, buffer.data() + sent, size - sent)) {
        clientOpen = serverOpen = false;
      }
    }
    if (cut) break;
  }
  if (cut) {
    Reset(client);
    Reset(server);
  }
  // A stalled connection stays open until the proxy ends, as a hung network leaves it.
  while (stalled && !m_stopping) {
    pollfd wake{m_wake[0], POLLIN, 0};
    ::poll(&wake, 1, -1);
    if ((wake.revents & POLLIN) != 0) break;
  }
  std::lock_guard lock(m_mutex);
  m_open.erase(std::remove_if(m_open.begin(), m_open.end(),
                              [&](int fd) { return fd == client || fd == server; }),
               m_open.end());
  ::close(client);
  ::close(server);
}

}  // namespace brevanto::test
