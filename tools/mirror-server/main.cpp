// mirror-server: a download mirror for tests and benchmarks, on loopback only.
//
//   mirror-server --file PATH [--name NAME] [--log PATH] [--watch-stdin]
//                 --mirror SCRIPT [--mirror SCRIPT ...]
//
// Every --mirror listens on 127.0.0.1, or the loopback address of its host=
// entry (port=0 picks a free port), and serves PATH as "/download/NAME" (GET
// with one byte range, HEAD) and "/flag.php", playing the faults of its SCRIPT
// (see mirror_script.h). A request in absolute form ("GET http://host/...") is
// answered the same way, so a mirror also stands in for an HTTP proxy. Once
// listening it prints "mirror I port P host H" per mirror, then "ready". The
// log gets one line per request:
//   I METHOD TARGET range=RANGE
// With --watch-stdin the server ends when its standard input closes, so it
// never outlives the test that started it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>  // before Asio: its awaitable.hpp uses std::exchange
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "tools/mirror-server/mirror_script.h"

namespace zel::mirror {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;

struct Mirror {
  int index = 0;
  MirrorScript script;
  std::unique_ptr<tcp::acceptor> acceptor;
  std::atomic<std::uint64_t> sent_total{0};
  std::atomic<std::uint64_t> gets{0};
  std::mutex rate_lock;
  Clock::time_point next_free = Clock::now();
};

struct Server {
  std::string file_path;
  std::string name;
  std::uint64_t size = 0;
  std::mutex log_lock;
  std::FILE* log = nullptr;

  void Log(int mirror, const std::string& method, const std::string& target,
           const std::string& range) {
    if (log == nullptr)
      return;
    std::lock_guard<std::mutex> hold(log_lock);
    std::fprintf(log, "%d %s %s range=%s\n", mirror, method.c_str(), target.c_str(),
                 range.empty() ? "-" : range.c_str());
    std::fflush(log);
  }
};

// The path of a request target, also when it comes in absolute form.
std::string TargetPath(const std::string& target) {
  std::size_t scheme = target.find("://");
  if (scheme == std::string::npos)
    return target;
  std::size_t slash = target.find('/', scheme + 3);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

bool PeerClosed(tcp::socket& socket) {
  beast::error_code ec;
  socket.non_blocking(true, ec);
  char probe[512];
  std::size_t n = socket.read_some(asio::buffer(probe), ec);
  socket.non_blocking(false, ec);
  (void)n;
  if (ec == asio::error::would_block || ec == asio::error::try_again)
    return false;
  return ec.failed();  // eof or reset; stray request bytes are dropped during a stall
}

// Holds the connection open, sending nothing, until the stall ends or the peer goes.
void Stall(tcp::socket& socket, unsigned ms) {
  Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) {
    if (PeerClosed(socket))
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void Reset(tcp::socket& socket) {
  beast::error_code ec;
  socket.set_option(asio::socket_base::linger(true, 0), ec);
  socket.close(ec);
}

void Pace(Mirror& mirror, std::uint64_t rate, Clock::time_point start, std::uint64_t sent,
          std::size_t chunk) {
  if (mirror.script.mirror_rate != 0) {
    Clock::time_point slot;
    {
      std::lock_guard<std::mutex> hold(mirror.rate_lock);
      slot = std::max(Clock::now(), mirror.next_free);
      mirror.next_free =
          slot + std::chrono::nanoseconds(chunk * 1000000000ull / mirror.script.mirror_rate);
    }
    std::this_thread::sleep_until(slot);
  }
  if (rate != 0) {
    std::this_thread::sleep_until(start + std::chrono::nanoseconds(sent * 1000000000ull / rate));
  }
}

// Sends file bytes [first, first + length) (padding with 'X' past the end of
// the file), playing the body faults. False when the connection is gone.
bool SendBody(Server& server, Mirror& mirror, tcp::socket& socket, std::uint64_t first,
              std::uint64_t length, bool faulty) {
  const MirrorScript& script = mirror.script;
  std::ifstream in(server.file_path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(std::min(first, server.size)));
  std::vector<char> chunk(kChunk);
  std::uint64_t rate = faulty ? script.rate : 0;
  std::size_t step = kChunk;
  if (rate != 0)
    step = static_cast<std::size_t>(std::clamp<std::uint64_t>(rate / 50, 1, kChunk));
  Clock::time_point start = Clock::now();
  std::uint64_t sent = 0;
  while (sent < length) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(step, length - sent));
    if (faulty) {
      if (sent >= script.reset_after) {
        Reset(socket);
        return false;
      }
      n = static_cast<std::size_t>(std::min<std::uint64_t>(n, script.reset_after - sent));
      if (sent >= script.stall_after || mirror.sent_total.load() >= script.stall_total) {
        Stall(socket, script.stall_ms);
        return false;
      }
      n = static_cast<std::size_t>(std::min<std::uint64_t>(n, script.stall_after - sent));
      if (script.stall_total != kUnlimited) {
        std::uint64_t total = mirror.sent_total.load();
        n = static_cast<std::size_t>(std::min<std::uint64_t>(
            n, script.stall_total > total ? script.stall_total - total : 1));
      }
    }
    std::uint64_t offset = first + sent;
    std::fill(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n), 'X');
    if (offset < server.size) {
      std::size_t from_file =
          static_cast<std::size_t>(std::min<std::uint64_t>(n, server.size - offset));
      in.read(chunk.data(), static_cast<std::streamsize>(from_file));
    }
    if (faulty && script.Corrupts()) {
      for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t at = offset + i;
        if (at >= script.corrupt_first && at <= script.corrupt_last)
          chunk[i] ^= 0x5A;
      }
    }
    Pace(mirror, rate, start, sent, n);
    beast::error_code ec;
    asio::write(socket, asio::buffer(chunk.data(), n), ec);
    if (ec)
      return false;
    sent += n;
    mirror.sent_total += n;
  }
  return true;
}

template <class Response>
bool WriteHead(tcp::socket& socket, Response& response) {
  beast::error_code ec;
  http::response_serializer<http::empty_body> serializer(response);
  http::write_header(socket, serializer, ec);
  return !ec;
}

// Answers one request; false when the connection must close.
bool Answer(Server& server, Mirror& mirror, tcp::socket& socket,
            const http::request<http::string_body>& request) {
  const MirrorScript& script = mirror.script;
  std::string target(request.target());
  std::string path = TargetPath(target);
  std::string range(request[http::field::range]);
  std::string method(request.method_string());
  server.Log(mirror.index, method, target, range);

  http::response<http::empty_body> head;
  head.version(11);
  head.keep_alive(request.keep_alive());
  head.set(http::field::server, "mirror-server");
  auto send_text = [&](http::status status, const std::string& body) {
    http::response<http::string_body> reply{status, 11};
    reply.keep_alive(request.keep_alive());
    reply.set(http::field::content_type, "text/plain");
    reply.body() = request.method() == http::verb::head ? "" : body;
    reply.content_length(body.size());
    beast::error_code ec;
    http::write(socket, reply, ec);
    return !ec && request.keep_alive();
  };

  if (path == "/flag.php")
    return send_text(http::status::ok, script.flag);
  const std::string prefix = "/download/";
  if (path.compare(0, prefix.size(), prefix) != 0 || path.substr(prefix.size()) != server.name) {
    return send_text(http::status::not_found, "not found");
  }
  if (!script.redirect.empty()) {
    head.result(http::status::found);
    head.set(http::field::location, script.redirect);
    head.content_length(0);
    return WriteHead(socket, head) && request.keep_alive();
  }
  if (script.status != 0)
    return send_text(static_cast<http::status>(script.status), "error");
  if (script.get_status != 0 && request.method() == http::verb::get) {
    return send_text(static_cast<http::status>(script.get_status), "error");
  }

  if (request.method() == http::verb::head) {
    head.result(http::status::ok);
    head.set(http::field::accept_ranges, "bytes");
    head.content_length(script.head_length.value_or(server.size));
    return WriteHead(socket, head) && request.keep_alive();
  }
  if (request.method() != http::verb::get) {
    return send_text(http::status::method_not_allowed, "GET or HEAD");
  }

  bool faulty = mirror.gets.fetch_add(1) < script.faults_for;
  ByteRange wanted{0, server.size == 0 ? 0 : server.size - 1};
  RangeParse parsed = ParseRange(range, server.size, &wanted);
  if (parsed == RangeParse::kUnsatisfiable) {
    head.result(http::status::range_not_satisfiable);
    head.set(http::field::content_range, "bytes */" + std::to_string(server.size));
    head.content_length(0);
    return WriteHead(socket, head) && request.keep_alive();
  }
  bool partial = parsed == RangeParse::kOk && !(faulty && script.ignore_range);
  std::uint64_t first = partial ? wanted.first : 0;
  std::uint64_t length = partial ? wanted.last - wanted.first + 1 : server.size;
  if (partial) {
    head.result(http::status::partial_content);
    head.set(http::field::content_range, "bytes " + std::to_string(wanted.first) + "-" +
                                             std::to_string(wanted.last) + "/" +
                                             std::to_string(server.size));
    if (faulty)
      length += script.overrun;
  } else {
    head.result(http::status::ok);
  }
  head.set(http::field::accept_ranges, "bytes");
  head.content_length(length);
  if (faulty && script.delay_ms != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(script.delay_ms));
  }
  if (!WriteHead(socket, head))
    return false;
  return SendBody(server, mirror, socket, first, length, faulty) && request.keep_alive();
}

void Serve(Server& server, Mirror& mirror, tcp::socket socket) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request<http::string_body> request;
    beast::error_code ec;
    http::read(socket, buffer, request, ec);
    if (ec)
      break;
    if (!Answer(server, mirror, socket, request))
      break;
  }
  beast::error_code ec;
  socket.shutdown(tcp::socket::shutdown_both, ec);
  socket.close(ec);
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "mirror-server: %s\nusage: mirror-server --file PATH [--name NAME] [--log PATH] "
               "[--watch-stdin] --mirror SCRIPT [--mirror SCRIPT ...]\n",
               why);
  return 2;
}

int Main(int argc, char** argv) {
  Server server;
  std::vector<std::unique_ptr<Mirror>> mirrors;
  std::string log_path;
  bool watch_stdin = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--watch-stdin") {
      watch_stdin = true;
      continue;
    }
    const char* v = value();
    if (v == nullptr)
      return Usage(("missing value after " + arg).c_str());
    if (arg == "--file") {
      server.file_path = v;
    } else if (arg == "--name") {
      server.name = v;
    } else if (arg == "--log") {
      log_path = v;
    } else if (arg == "--mirror") {
      std::string error;
      std::optional<MirrorScript> script = ParseMirrorScript(v, &error);
      if (!script)
        return Usage(error.c_str());
      auto mirror = std::make_unique<Mirror>();
      mirror->index = static_cast<int>(mirrors.size());
      mirror->script = *script;
      mirrors.push_back(std::move(mirror));
    } else {
      return Usage(("unknown argument " + arg).c_str());
    }
  }
  if (server.file_path.empty() || mirrors.empty())
    return Usage("--file and --mirror are needed");
  std::error_code fs_error;
  server.size = std::filesystem::file_size(server.file_path, fs_error);
  if (fs_error)
    return Usage(("cannot read " + server.file_path).c_str());
  if (server.name.empty())
    server.name = std::filesystem::path(server.file_path).filename();
  if (!log_path.empty()) {
    server.log = std::fopen(log_path.c_str(), "a");
    if (server.log == nullptr)
      return Usage(("cannot open log " + log_path).c_str());
  }

  asio::io_context io;
  for (auto& mirror : mirrors) {
    beast::error_code ec;
    asio::ip::address_v4 address = asio::ip::make_address_v4(mirror->script.host, ec);
    tcp::endpoint endpoint(address, mirror->script.port);
    mirror->acceptor = std::make_unique<tcp::acceptor>(io);
    if (!ec)
      mirror->acceptor->open(endpoint.protocol(), ec);
    if (!ec)
      mirror->acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
      mirror->acceptor->bind(endpoint, ec);
    if (!ec)
      mirror->acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      std::fprintf(stderr, "mirror-server: cannot listen on %s port %u: %s\n",
                   mirror->script.host.c_str(), mirror->script.port, ec.message().c_str());
      return 1;
    }
    std::printf("mirror %d port %u host %s\n", mirror->index,
                mirror->acceptor->local_endpoint().port(), mirror->script.host.c_str());
  }
  std::printf("ready\n");
  std::fflush(stdout);

  for (auto& mirror : mirrors) {
    std::thread([&server, m = mirror.get()]() {
      for (;;) {
        beast::error_code ec;
        tcp::socket socket = m->acceptor->accept(ec);
        if (ec)
          continue;
        socket.set_option(tcp::no_delay(true), ec);
        std::thread(Serve, std::ref(server), std::ref(*m), std::move(socket)).detach();
      }
    }).detach();
  }

  if (watch_stdin) {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
  } else {
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const beast::error_code&, int) { io.stop(); });
    io.run();
  }
  if (server.log != nullptr)
    std::fflush(server.log);
  std::fflush(stdout);
  // Connection threads may be mid-transfer; end without unwinding under them.
  std::_Exit(0);
}

}  // namespace
}  // namespace zel::mirror

int main(int argc, char** argv) {
  return zel::mirror::Main(argc, argv);
}
