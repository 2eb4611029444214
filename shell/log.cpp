#include "shell/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "system/file_util.h"

namespace zel {
namespace {

// Create-if-missing, read, write, text: append text ("at").
constexpr unsigned kAppendText = JFile::kRead | JFile::kWrite | JFile::kText;

constexpr char kHeaderRule[] = "\n\n----------------------------------------\n";
constexpr char kHeaderInit[] = "00:00:00 : Init Log OK.\n";

}  // namespace

ILog& ILog::Instance() {
  static ILog* log = new ILog();  // never destroyed: threads may log during exit
  return *log;
}

bool ILog::Init(const std::wstring& path) {
  std::lock_guard<std::mutex> hold(lock_);
  path_ = path;
  start_tick_ = platform::TickCountMs();
  JFile file;
  if (file.Open(path_, kAppendText)) {
    file.SeekEnd();
    file.Write(kHeaderRule, sizeof(kHeaderRule) - 1);
    file.Write(kHeaderInit, sizeof(kHeaderInit) - 1);
    file.Close();
  }
  return true;
}

ILog& ILog::SetSink(Sink sink) {
  std::lock_guard<std::mutex> hold(lock_);
  sink_ = sink;
  return *this;
}

std::wstring ILog::path() const {
  std::lock_guard<std::mutex> hold(lock_);
  return path_;
}

void ILog::Write(const char* message) {
  if (message == nullptr)
    return;
  Sink sink;
  {
    std::lock_guard<std::mutex> hold(lock_);
    sink = sink_;
    JFile file;
    if (!path_.empty() && file.Open(path_, kAppendText)) {
      std::uint32_t s = (platform::TickCountMs() - start_tick_) / 1000u;
      char prefix[32];
      int n = std::snprintf(prefix, sizeof(prefix), "%02d:%02d:%02d : ", static_cast<int>(s / 3600),
                            static_cast<int>((s % 3600) / 60), static_cast<int>(s % 60));
      file.SeekEnd();
      file.Write(prefix, static_cast<std::size_t>(n));
      file.Write(message, std::strlen(message));
      file.Write("\n", 1);
      file.Close();
    }
  }
  // Outside the lock: the sink may hand the line to another thread.
  if (sink != nullptr)
    sink(message);
}

void WriteLog(const char* format, ...) {
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);  // longer messages are cut
  va_end(args);
  ILog::Instance().Write(buffer);
}

}  // namespace zel
