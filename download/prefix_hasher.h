// The whole-file digest, worked out while the file is still arriving.
//
// Blocks land anywhere in the buffer in any order. A thread of its own hashes
// the buffer's leading bytes as soon as they are all written, so that when
// the last byte arrives only the tail is left to hash. Writes go through
// Write(); Write() and DigestHex() must be serialized by the caller (the
// engine lock). A write that changes bytes already hashed (a repaired chunk)
// starts the digest over.
#ifndef ZEL_DOWNLOAD_PREFIX_HASHER_H_
#define ZEL_DOWNLOAD_PREFIX_HASHER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "download/md5.h"

namespace zel {

class PrefixHasher {
 public:
  // |buffer| holds |size| bytes and must outlive the hasher.
  PrefixHasher(std::uint8_t* buffer, std::uint32_t size);
  // Stops the thread; the buffer may be released afterwards.
  ~PrefixHasher();
  PrefixHasher(const PrefixHasher&) = delete;
  PrefixHasher& operator=(const PrefixHasher&) = delete;

  // Copies |n| bytes into the buffer at |offset|; offset + n <= size.
  void Write(std::uint32_t offset, const std::uint8_t* data, std::uint32_t n);
  // MD5 of all size bytes as they are now (unwritten ones are whatever the
  // buffer held), as Md5Hex writes it.
  std::string DigestHex();

  // Bytes from the start that are all written.
  std::uint32_t PrefixEnd() const { return prefix_end_.load(std::memory_order_acquire); }

 private:
  void Run();
  void AddRun(std::uint32_t first, std::uint32_t end);

  std::uint8_t* const buffer_;
  const std::uint32_t size_;

  // Writer side (caller-serialized): written runs [first, end), disjoint and
  // never touching, and whether the last digest covered the whole buffer.
  std::map<std::uint32_t, std::uint32_t> runs_;
  std::uint32_t notified_end_ = 0;
  bool digested_all_ = false;
  // Only the writer raises it, after the bytes are in place.
  std::atomic<std::uint32_t> prefix_end_{0};

  std::mutex lock_;
  std::condition_variable wake_;  // the hashing thread waits for bytes
  std::condition_variable idle_;  // a writer waits for a piece in flight
  bool quit_ = false;
  bool reading_ = false;  // the thread hashes [hashed_, in_flight_end) unlocked
  std::uint32_t hashed_ = 0;
  Md5Stream md5_;  // the digest of [0, hashed_); the thread's while reading_
  std::thread thread_;
};

}  // namespace zel

#endif  // ZEL_DOWNLOAD_PREFIX_HASHER_H_
