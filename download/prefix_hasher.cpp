#include "download/prefix_hasher.h"

#include <algorithm>
#include <cstring>

namespace zel {
namespace {

// The thread is woken once per this many new bytes and hashes at most
// kLongestPiece at a time, so a writer that must wait for it waits briefly.
constexpr std::uint32_t kWakeStep = 1u << 20;
constexpr std::uint32_t kLongestPiece = 8u << 20;

}  // namespace

PrefixHasher::PrefixHasher(std::uint8_t* buffer, std::uint32_t size)
    : buffer_(buffer), size_(size), thread_([this] { Run(); }) {}

PrefixHasher::~PrefixHasher() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void PrefixHasher::Write(std::uint32_t offset, const std::uint8_t* data, std::uint32_t n) {
  if (n == 0)
    return;
  const std::uint32_t first = offset;
  const std::uint32_t end = offset + n;
  // Bytes below the guard may be hashed already or being hashed right now.
  std::uint32_t guard = digested_all_ ? size_ : prefix_end_.load(std::memory_order_relaxed);
  if (offset < guard) {
    std::uint32_t k = std::min(n, guard - offset);
    // Overlapping ranges and repeated blocks usually bring the same bytes.
    if (std::memcmp(buffer_ + offset, data, k) != 0) {
      std::unique_lock<std::mutex> hold(lock_);
      idle_.wait(hold, [this] { return !reading_; });
      std::memcpy(buffer_ + offset, data, k);
      md5_.Reset();
      hashed_ = 0;
      digested_all_ = false;
      wake_.notify_one();
    }
    offset += k;
    data += k;
    n -= k;
  }
  if (n > 0)
    std::memcpy(buffer_ + offset, data, n);
  AddRun(first, end);
}

void PrefixHasher::AddRun(std::uint32_t first, std::uint32_t end) {
  // Merge with every run it overlaps or touches.
  auto next = runs_.upper_bound(first);
  if (next != runs_.begin()) {
    auto before = std::prev(next);
    if (before->second >= first) {
      first = before->first;
      end = std::max(end, before->second);
      next = runs_.erase(before);
    }
  }
  while (next != runs_.end() && next->first <= end) {
    end = std::max(end, next->second);
    next = runs_.erase(next);
  }
  runs_.emplace(first, end);

  if (first != 0)
    return;
  prefix_end_.store(end, std::memory_order_release);
  if (end - notified_end_ >= kWakeStep || end == size_) {
    notified_end_ = end;
    std::lock_guard<std::mutex> hold(lock_);
    wake_.notify_one();
  }
}

std::string PrefixHasher::DigestHex() {
  std::unique_lock<std::mutex> hold(lock_);
  idle_.wait(hold, [this] { return !reading_; });
  if (hashed_ < size_) {
    md5_.Update(buffer_ + hashed_, size_ - hashed_);
    hashed_ = size_;
  }
  digested_all_ = true;
  return md5_.PeekHex();
}

void PrefixHasher::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [this] { return quit_ || PrefixEnd() > hashed_; });
    if (quit_)
      return;
    const std::uint32_t from = hashed_;
    const std::uint32_t to = std::min(PrefixEnd(), from + std::min(kLongestPiece, size_ - from));
    reading_ = true;
    hold.unlock();
    md5_.Update(buffer_ + from, to - from);
    hold.lock();
    reading_ = false;
    hashed_ = to;
    idle_.notify_all();
  }
}

}  // namespace zel
