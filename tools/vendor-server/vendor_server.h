// A stand-in for the vendor's API server on loopback: answers the statistics,
// log and crash endpoints with scripted answers and stores every request it
// receives (form fields and file parts) in a folder, so tests and the demo
// can show what arrived.
//
// Each request is stored as STORE/NNNN-ENDPOINT/ (NNNN counts from 0001,
// ENDPOINT is online, log, crash or other), created complete in one rename:
//   request.txt  method, target and headers
//   parts.txt    one line per form part in order: name TAB field|file TAB
//                file name TAB stored file name
//   <name>       each part's content (".2", ".3" for repeated names)
//   body.bin     the raw body when it is not a multipart form
#ifndef ZEL_TOOLS_VENDOR_SERVER_VENDOR_SERVER_H_
#define ZEL_TOOLS_VENDOR_SERVER_VENDOR_SERVER_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zel::vendor {

// Answers, by name:
//   ok       {"result":{"res":true}}
//   false    {"result":{"res":false}}
//   res1     {"result":{"res":1}}
//   string   {"result":{"res":"true"}}
//   nonjson  an HTML page
//   huge     a valid success answer padded to 8 MiB
//   never    headers, then one byte every 100 ms without end
//   silent   no answer at all; the connection stays open
//   drop     the connection is closed without an answer
bool IsKnownAnswer(const std::string& name);

// A script is a comma-separated list of answers, used one per request in
// order; the last one repeats ("res1,res1,ok").
std::vector<std::string> ParseScript(const std::string& text);

class VendorServer {
 public:
  explicit VendorServer(std::string store_dir);
  ~VendorServer();
  VendorServer(const VendorServer&) = delete;
  VendorServer& operator=(const VendorServer&) = delete;

  // Scripts per endpoint ("online", "log", "crash"); "ok" by default. Set
  // before Start or between requests.
  void SetScript(const std::string& endpoint, std::vector<std::string> answers);

  // Listens on 127.0.0.1:|port| (0: any free port). False with |error| set
  // when the port cannot be bound or the store cannot be made.
  bool Start(std::uint16_t port, std::string* error);
  void Stop();

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string BaseUrl() const;
  // Requests stored so far.
  int RequestCount() const { return stored_.load(); }

  struct Impl;

 private:
  std::string store_dir_;
  std::uint16_t port_ = 0;
  std::atomic<int> stored_{0};
  std::unique_ptr<Impl> impl_;
  std::thread thread_;
};

}  // namespace zel::vendor

#endif  // ZEL_TOOLS_VENDOR_SERVER_VENDOR_SERVER_H_
