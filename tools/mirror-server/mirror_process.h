// Starts a mirror-server child process for a test or a benchmark, reads the
// ports it bound and reads its request log. The child watches its standard
// input, so it ends with its parent even when the parent dies.
#ifndef ZEL_TOOLS_MIRROR_SERVER_MIRROR_PROCESS_H_
#define ZEL_TOOLS_MIRROR_SERVER_MIRROR_PROCESS_H_

#include <string>
#include <vector>

namespace zel::mirror {

struct LoggedRequest {
  int mirror = 0;
  std::string method;
  std::string target;
  std::string range;  // "-" when the request had none
};

class MirrorProcess {
 public:
  MirrorProcess() = default;
  MirrorProcess(const MirrorProcess&) = delete;
  MirrorProcess& operator=(const MirrorProcess&) = delete;
  ~MirrorProcess();

  // Serves |file| as "/download/|name|", one mirror per SCRIPT; the request
  // log goes to |log_path|. False (with the reason in error()) when the
  // server did not come up.
  bool Start(const std::string& server_binary, const std::string& file, const std::string& name,
             const std::vector<std::string>& scripts, const std::string& log_path);
  void StopServer();

  unsigned short port(int mirror) const { return ports_.at(static_cast<std::size_t>(mirror)); }
  // The loopback address the mirror listens on (its script's host=, or 127.0.0.1).
  const std::string& host(int mirror) const { return hosts_.at(static_cast<std::size_t>(mirror)); }
  // "http://HOST:PORT/download/NAME".
  std::string Url(int mirror) const;
  // "HOST:PORT", for use as a proxy address.
  std::string HostPort(int mirror) const;
  const std::string& error() const { return error_; }

  std::vector<LoggedRequest> Requests() const;
  // Requests of |mirror| (all mirrors for -1) with |method| ("" for any).
  int CountRequests(int mirror, const std::string& method) const;

 private:
  int pid_ = -1;
  int stdin_fd_ = -1;
  std::string name_;
  std::string log_path_;
  std::vector<unsigned short> ports_;
  std::vector<std::string> hosts_;
  std::string error_;
};

}  // namespace zel::mirror

#endif  // ZEL_TOOLS_MIRROR_SERVER_MIRROR_PROCESS_H_
