// The install log: one process-wide file that every part of the installer
// appends to, one line per message, each prefixed with the time since the
// log was opened ("HH:MM:SS : ").
#ifndef ZEL_SHELL_LOG_H_
#define ZEL_SHELL_LOG_H_

#include <cstdint>
#include <mutex>
#include <string>

namespace zel {

class ILog {
 public:
  using Sink = int (*)(const char* message);

  // The single log, created empty on first use and kept until exit.
  static ILog& Instance();

  virtual ~ILog() = default;

  // Stores the path, records the start tick and appends the run header.
  // Returns true even when the file cannot be opened.
  bool Init(const std::wstring& path);
  // Replaces the observer that sees every message; returns the log.
  ILog& SetSink(Sink sink);
  // Appends one line for an already formatted message, then tells the sink.
  void Write(const char* message);

  std::wstring path() const;

 private:
  ILog() = default;

  mutable std::mutex lock_;  // keeps whole lines from interleaving
  std::wstring path_;
  std::uint32_t start_tick_ = 0;
  Sink sink_ = nullptr;
};

// Longest formatted message, terminator included; longer ones are cut.
inline constexpr std::size_t kLogBufferSize = 13000;

// printf-style: formats one message and writes it to the log.
void WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zel

#endif  // ZEL_SHELL_LOG_H_
