// Sending ICMP echo requests and reading what comes back, over IPv4.
//
// A raw socket is tried first (it needs privileges); when it is refused, an
// unprivileged ICMP datagram socket is used instead. Either way Receive hands
// back whole IPv4 packets, IP header first, so callers parse one format.
#ifndef ZEL_PLATFORM_ICMP_SOCKET_H_
#define ZEL_PLATFORM_ICMP_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zel::platform {

class IcmpSocket {
 public:
  // nullptr when neither kind of socket can be had; |error| gets the errno.
  static std::unique_ptr<IcmpSocket> Open(int* error);

  IcmpSocket(const IcmpSocket&) = delete;
  IcmpSocket& operator=(const IcmpSocket&) = delete;
  ~IcmpSocket();

  // Sends one ICMP message to |ipv4| (network byte order). False on error.
  bool Send(std::uint32_t ipv4, const std::uint8_t* message, std::size_t length);
  // Waits up to |timeout_ms| for a packet and copies at most |capacity|
  // bytes of it. Returns the length, 0 when nothing arrived, -1 on error.
  int Receive(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeout_ms);
  // The identifier replies will carry for requests sent with |requested|:
  // the kernel picks its own on datagram sockets.
  std::uint16_t ReplyIdentifier(std::uint16_t requested) const;
  bool is_raw() const { return raw_; }

 private:
  IcmpSocket(int fd, bool raw, std::uint16_t kernel_id)
      : fd_(fd), raw_(raw), kernel_id_(kernel_id) {}

  int fd_;
  bool raw_;
  std::uint16_t kernel_id_;
};

// inet_addr: a dotted IPv4 text to an address in network byte order.
bool ParseIpv4(const std::string& text, std::uint32_t* ipv4);
// The first IPv4 address of |name| as dotted text; "" when it has none.
std::string ResolveIpv4(const std::string& name);
// Low 16 bits of the process id.
std::uint16_t ProcessIdLow16();

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_ICMP_SOCKET_H_
