#pragma once
// A port nobody listens on, for tests of what a refused connection does.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brevanto::test {

// A port on 127.0.0.1 that nobody listens on: bound, then closed again.
inline int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace brevanto::test
