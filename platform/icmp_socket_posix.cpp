#include "platform/icmp_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zel::platform {

std::unique_ptr<IcmpSocket> IcmpSocket::Open(int* error) {
  int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd >= 0)
    return std::unique_ptr<IcmpSocket>(new IcmpSocket(fd, true, 0));
  int raw_error = errno;

  fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    if (error != nullptr)
      *error = raw_error;
    return nullptr;
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof(on));
  // The kernel names the echo identifier after the socket's local "port".
  struct sockaddr_in local = {};
  local.sin_family = AF_INET;
  ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
  socklen_t len = sizeof(local);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
  return std::unique_ptr<IcmpSocket>(new IcmpSocket(fd, false, ntohs(local.sin_port)));
}

IcmpSocket::~IcmpSocket() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool IcmpSocket::Send(std::uint32_t ipv4, const std::uint8_t* message, std::size_t length) {
  struct sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ipv4;
  ssize_t sent =
      ::sendto(fd_, message, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof(to));
  return sent == static_cast<ssize_t>(length);
}

int IcmpSocket::Receive(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeout_ms) {
  struct pollfd p = {fd_, POLLIN, 0};
  int ready = ::poll(&p, 1, static_cast<int>(timeout_ms));
  if (ready < 0)
    return errno == EINTR ? 0 : -1;
  if (ready == 0)
    return 0;

  if (raw_) {
    ssize_t n = ::recv(fd_, buffer, capacity, 0);
    return n < 0 ? (errno == EAGAIN || errno == EINTR ? 0 : -1) : static_cast<int>(n);
  }

  // Datagram sockets deliver the ICMP message alone: put a plain 20-byte IP
  // header with the received TTL in front, as a raw socket would.
  constexpr std::size_t kHeader = 20;
  if (capacity < kHeader)
    return -1;
  std::uint8_t payload[1500];
  char control[64];
  struct iovec iov = {payload, sizeof(payload)};
  struct msghdr msg = {};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof(control);
  ssize_t n = ::recvmsg(fd_, &msg, 0);
  if (n < 0)
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
  int ttl = 64;
  for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
      std::memcpy(&ttl, CMSG_DATA(c), sizeof(ttl));
    }
  }
  std::memset(buffer, 0, kHeader);
  buffer[0] = 0x45;  // version 4, five 32-bit words
  buffer[8] = static_cast<std::uint8_t>(ttl);
  buffer[9] = IPPROTO_ICMP;
  std::size_t copy = std::min(static_cast<std::size_t>(n), capacity - kHeader);
  std::memcpy(buffer + kHeader, payload, copy);
  return static_cast<int>(kHeader + copy);
}

std::uint16_t IcmpSocket::ReplyIdentifier(std::uint16_t requested) const {
  return raw_ ? requested : htons(kernel_id_);
}

bool ParseIpv4(const std::string& text, std::uint32_t* ipv4) {
  struct in_addr addr;
  if (text.empty() || ::inet_aton(text.c_str(), &addr) == 0)
    return false;
  if (ipv4 != nullptr)
    *ipv4 = addr.s_addr;
  return true;
}

std::string ResolveIpv4(const std::string& name) {
  struct addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0)
    return "";
  std::string text;
  if (found != nullptr && found->ai_addr != nullptr) {
    char buffer[INET_ADDRSTRLEN] = {};
    auto* in = reinterpret_cast<sockaddr_in*>(found->ai_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, buffer, sizeof(buffer)) != nullptr)
      text = buffer;
  }
  ::freeaddrinfo(found);
  return text;
}

std::uint16_t ProcessIdLow16() {
  return static_cast<std::uint16_t>(::getpid() & 0xFFFF);
}

}  // namespace zel::platform
