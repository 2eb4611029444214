#include "tools/vendor-server/vendor_server.h"
#include "platform/text.h"

#include <utility>  // before asio: its coroutine support uses std::exchange

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

namespace zel::vendor {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;

constexpr std::size_t kBodyLimit = 256u * 1024 * 1024;
constexpr std::size_t kHugeAnswerBytes = 8u * 1024 * 1024;

const std::set<std::string>& KnownAnswers() {
  static const std::set<std::string> kAnswers = {"ok",   "false", "res1",   "string", "nonjson",
                                                 "huge", "never", "silent", "drop"};
  return kAnswers;
}

std::string EndpointOf(std::string_view target) {
  std::string_view path = target.substr(0, target.find('?'));
  if (path == "/api/install/online.php")
    return "online";
  if (path == "/api/install/index_log.php")
    return "log";
  if (path == "/api/install/index_crash.php")
    return "crash";
  return "other";
}

const std::string& HugeAnswer() {
  static const std::string kText = [] {
    std::string text = "{\"result\":{\"res\":true},\"pad\":\"";
    text.append(kHugeAnswerBytes, 'x');
    text += "\"}";
    return text;
  }();
  return kText;
}

std::string AnswerBody(const std::string& answer) {
  if (answer == "false")
    return "{\"result\":{\"res\":false}}";
  if (answer == "res1")
    return "{\"result\":{\"res\":1}}";
  if (answer == "string")
    return "{\"result\":{\"res\":\"true\"}}";
  if (answer == "nonjson")
    return "<html><body>Service Unavailable</body></html>";
  if (answer == "huge")
    return HugeAnswer();
  return "{\"result\":{\"res\":true}}";
}

struct Part {
  std::string name;
  std::string file_name;
  bool is_file = false;
  std::string content;
};

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
    ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
    --e;
  return std::string(text.substr(b, e - b));
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "a; k1=v1; k2=\"v2\"" into its parameters (keys lower-cased).
std::map<std::string, std::string> HeaderParams(std::string_view value) {
  std::map<std::string, std::string> params;
  for (const std::string& piece : platform::SplitNonEmpty(value, ';')) {
    std::string item = Trim(piece);
    std::size_t eq = item.find('=');
    if (eq != std::string::npos) {
      std::string v = Trim(std::string_view(item).substr(eq + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
      params[Lower(Trim(std::string_view(item).substr(0, eq)))] = v;
    }
  }
  return params;
}

bool ParseMultipart(std::string_view content_type, const std::string& body,
                    std::vector<Part>* parts) {
  if (Lower(std::string(content_type)).rfind("multipart/form-data", 0) != 0)
    return false;
  std::string boundary = HeaderParams(content_type)["boundary"];
  if (boundary.empty())
    return false;
  const std::string delimiter = "--" + boundary;
  std::size_t pos = body.find(delimiter);
  if (pos == std::string::npos)
    return false;
  for (;;) {
    pos += delimiter.size();
    if (body.compare(pos, 2, "--") == 0)
      return true;
    if (body.compare(pos, 2, "\r\n") != 0)
      return false;
    pos += 2;
    std::size_t header_end = body.find("\r\n\r\n", pos);
    if (header_end == std::string::npos)
      return false;
    Part part;
    std::size_t line_start = pos;
    while (line_start < header_end) {
      std::size_t line_end = body.find("\r\n", line_start);
      if (line_end == std::string::npos || line_end > header_end)
        line_end = header_end;
      std::string line = body.substr(line_start, line_end - line_start);
      std::size_t colon = line.find(':');
      if (colon != std::string::npos &&
          Lower(Trim(std::string_view(line).substr(0, colon))) == "content-disposition") {
        std::map<std::string, std::string> params =
            HeaderParams(std::string_view(line).substr(colon + 1));
        part.name = params["name"];
        if (params.count("filename")) {
          part.is_file = true;
          part.file_name = params["filename"];
        }
      }
      line_start = line_end + 2;
    }
    const std::size_t content_start = header_end + 4;
    std::size_t next = body.find("\r\n" + delimiter, content_start);
    if (next == std::string::npos)
      return false;
    part.content = body.substr(content_start, next - content_start);
    parts->push_back(std::move(part));
    pos = next + 2;
  }
}

// Part names become file names: keep them tame.
std::string SafeName(const std::string& name) {
  std::string out;
  for (char c : name) {
    out +=
        (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') ? c : '_';
  }
  if (out.empty() || out[0] == '.')
    out = "_" + out;
  if (out == "request.txt" || out == "parts.txt" || out == "body.bin")
    out = "_" + out;
  return out;
}

bool WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

}  // namespace

bool IsKnownAnswer(const std::string& name) {
  return KnownAnswers().count(name) != 0;
}

std::vector<std::string> ParseScript(const std::string& text) {
  std::vector<std::string> answers;
  for (const std::string& piece : platform::SplitNonEmpty(text, ',')) {
    std::string item = Trim(piece);
    if (!item.empty())
      answers.push_back(item);
  }
  return answers;
}

struct VendorServer::Impl {
  asio::io_context io;
  tcp::acceptor acceptor{io};
  std::string store;
  std::atomic<int>* stored = nullptr;
  int sequence = 0;  // io thread only

  std::mutex lock;  // scripts are set from other threads
  std::map<std::string, std::vector<std::string>> scripts;
  std::map<std::string, std::size_t> used;

  std::string NextAnswer(const std::string& endpoint) {
    std::lock_guard<std::mutex> hold(lock);
    auto it = scripts.find(endpoint);
    if (it == scripts.end() || it->second.empty())
      return "ok";
    std::size_t& n = used[endpoint];
    const std::string& answer = it->second[std::min(n, it->second.size() - 1)];
    ++n;
    return answer;
  }

  void Store(const std::string& endpoint, const http::request<http::string_body>& request) {
    char prefix[16];
    std::snprintf(prefix, sizeof(prefix), "%04d-", ++sequence);
    const fs::path final_dir = fs::path(store) / (prefix + endpoint);
    const fs::path temp_dir = fs::path(store) / (std::string(".") + prefix + endpoint + ".part");
    std::error_code ec;
    fs::create_directories(temp_dir, ec);
    if (ec) {
      std::fprintf(stderr, "vendor-server: cannot store request: %s\n", ec.message().c_str());
      return;
    }
    std::string head =
        std::string(request.method_string()) + " " + std::string(request.target()) + "\n";
    for (const auto& field : request) {
      head += std::string(field.name_string()) + ": " + std::string(field.value()) + "\n";
    }
    WriteFile(temp_dir / "request.txt", head);
    std::vector<Part> parts;
    const auto type = request[http::field::content_type];
    if (ParseMultipart(std::string_view(type.data(), type.size()), request.body(), &parts)) {
      std::string index;
      std::map<std::string, int> seen;
      for (const Part& part : parts) {
        std::string stored_name = SafeName(part.name);
        if (int n = ++seen[stored_name]; n > 1)
          stored_name += "." + std::to_string(n);
        WriteFile(temp_dir / stored_name, part.content);
        index += part.name + "\t" + (part.is_file ? "file" : "field") + "\t" + part.file_name +
                 "\t" + stored_name + "\n";
      }
      WriteFile(temp_dir / "parts.txt", index);
    } else {
      WriteFile(temp_dir / "body.bin", request.body());
    }
    fs::rename(temp_dir, final_dir, ec);
    if (!ec)
      stored->fetch_add(1);
  }
};

namespace {

asio::awaitable<void> HoldOpen(tcp::socket& socket) {
  char scratch[256];
  for (;;) {
    co_await socket.async_read_some(asio::buffer(scratch), asio::use_awaitable);
  }
}

asio::awaitable<void> Trickle(tcp::socket& socket) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000000000\r\n\r\n{";
  co_await asio::async_write(socket, asio::buffer(head), asio::use_awaitable);
  asio::steady_timer timer(socket.get_executor());
  for (;;) {
    timer.expires_after(std::chrono::milliseconds(100));
    co_await timer.async_wait(asio::use_awaitable);
    co_await asio::async_write(socket, asio::buffer(" ", 1), asio::use_awaitable);
  }
}

asio::awaitable<void> Serve(VendorServer::Impl* impl, tcp::socket socket) {
  try {
    beast::flat_buffer buffer;
    for (;;) {
      http::request_parser<http::string_body> parser;
      parser.body_limit(kBodyLimit);
      co_await http::async_read(socket, buffer, parser, asio::use_awaitable);
      http::request<http::string_body> request = parser.release();
      const std::string endpoint =
          EndpointOf(std::string_view(request.target().data(), request.target().size()));
      impl->Store(endpoint, request);

      http::response<http::string_body> response;
      response.version(request.version());
      response.keep_alive(request.keep_alive());
      response.set(http::field::server, "zel-vendor-server");
      if (endpoint == "other") {
        response.result(http::status::not_found);
        response.set(http::field::content_type, "text/plain");
        response.body() = "not found\n";
      } else {
        const std::string answer = impl->NextAnswer(endpoint);
        if (answer == "drop")
          co_return;
        if (answer == "silent") {
          co_await HoldOpen(socket);
          co_return;
        }
        if (answer == "never") {
          co_await Trickle(socket);
          co_return;
        }
        response.result(http::status::ok);
        response.set(http::field::content_type,
                     answer == "nonjson" ? "text/html" : "application/json");
        response.body() = AnswerBody(answer);
      }
      response.prepare_payload();
      co_await http::async_write(socket, response, asio::use_awaitable);
      if (!response.keep_alive())
        break;
    }
  } catch (const std::exception&) {
    // The client went away or sent garbage: nothing to answer.
  }
  boost::system::error_code ignored;
  socket.shutdown(tcp::socket::shutdown_both, ignored);
}

asio::awaitable<void> AcceptLoop(VendorServer::Impl* impl) {
  for (;;) {
    boost::system::error_code ec;
    tcp::socket socket =
        co_await impl->acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
      if (ec == asio::error::operation_aborted)
        co_return;
      continue;
    }
    asio::co_spawn(impl->io, Serve(impl, std::move(socket)), asio::detached);
  }
}

}  // namespace

VendorServer::VendorServer(std::string store_dir)
    : store_dir_(std::move(store_dir)), impl_(std::make_unique<Impl>()) {
  impl_->store = store_dir_;
  impl_->stored = &stored_;
}

VendorServer::~VendorServer() {
  Stop();
}

void VendorServer::SetScript(const std::string& endpoint, std::vector<std::string> answers) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->scripts[endpoint] = std::move(answers);
  impl_->used[endpoint] = 0;
}

bool VendorServer::Start(std::uint16_t port, std::string* error) {
  std::error_code fs_error;
  fs::create_directories(store_dir_, fs_error);
  if (fs_error || !fs::is_directory(store_dir_)) {
    if (error)
      *error = "cannot create store folder " + store_dir_;
    return false;
  }
  boost::system::error_code ec;
  // Loopback only: this server must never be reachable from elsewhere.
  tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec)
    impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec)
    impl_->acceptor.bind(endpoint, ec);
  if (!ec)
    impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    if (error)
      *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message();
    return false;
  }
  port_ = impl_->acceptor.local_endpoint().port();
  asio::co_spawn(impl_->io, AcceptLoop(impl_.get()), asio::detached);
  thread_ = std::thread([this] { impl_->io.run(); });
  return true;
}

void VendorServer::Stop() {
  if (!thread_.joinable())
    return;
  asio::post(impl_->io, [this] {
    boost::system::error_code ignored;
    impl_->acceptor.close(ignored);
    impl_->io.stop();
  });
  thread_.join();
}

std::string VendorServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace zel::vendor
