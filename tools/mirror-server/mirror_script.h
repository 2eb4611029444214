// What one test mirror serves and which faults it plays, parsed from a
// command-line SCRIPT of comma-separated key[=value] entries.
#ifndef ZEL_TOOLS_MIRROR_SERVER_MIRROR_SCRIPT_H_
#define ZEL_TOOLS_MIRROR_SERVER_MIRROR_SCRIPT_H_

#include <cstdint>
#include <optional>
#include <string>

namespace zel::mirror {

inline constexpr std::uint64_t kUnlimited = ~0ull;

struct MirrorScript {
  unsigned short port = 0;                 // port=N (0: any free port)
  std::string host = "127.0.0.1";          // host=127.A.B.C: loopback address to listen on
  std::uint64_t rate = 0;                  // rate=N[K|M]: bytes/s per connection, 0 unlimited
  std::uint64_t mirror_rate = 0;           // mirror_rate=N[K|M]: bytes/s shared by all connections
  unsigned delay_ms = 0;                   // delay_ms=N before the response head
  std::uint64_t stall_after = kUnlimited;  // stall_after=N bytes of each body
  std::uint64_t stall_total = kUnlimited;  // stall_total=N bytes sent by the whole mirror
  unsigned stall_ms = 600000;              // stall_ms=N: how long a stall holds the connection
  std::uint64_t reset_after = kUnlimited;  // reset_after=N: connection reset after N body bytes
  std::uint64_t corrupt_first = 1;         // corrupt=A-B: inclusive file offsets flipped
  std::uint64_t corrupt_last = 0;
  bool ignore_range = false;                 // ignore_range: 200 with the whole file
  std::uint64_t overrun = 0;                 // overrun=N: N bytes past the range end
  std::optional<std::uint64_t> head_length;  // head_length=N: Content-Length of HEAD
  std::string redirect;                      // redirect=URL for /download/ requests
  int status = 0;                            // status=N: answer downloads with this status
  int get_status = 0;                        // get_status=N: the same for GET only (HEAD answers)
  std::string flag = "10";                   // flag=TEXT body of /flag.php (%XX decoded)
  std::uint64_t faults_for = kUnlimited;     // faults_for=N: faults apply to the first N GETs

  bool Corrupts() const { return corrupt_first <= corrupt_last; }
};

// Parses SCRIPT; on failure returns nothing and puts the reason in |error|.
std::optional<MirrorScript> ParseMirrorScript(const std::string& script, std::string* error);

// "bytes=A-B", "bytes=A-" or "bytes=-N" against a file of |size| bytes.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
};
enum class RangeParse { kNone, kOk, kUnsatisfiable };
RangeParse ParseRange(const std::string& header, std::uint64_t size, ByteRange* out);

}  // namespace zel::mirror

#endif  // ZEL_TOOLS_MIRROR_SERVER_MIRROR_SCRIPT_H_
