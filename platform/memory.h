// Large zero-filled blocks straight from the system, for buffers that hold a
// whole file.
#ifndef ZEL_PLATFORM_MEMORY_H_
#define ZEL_PLATFORM_MEMORY_H_

#include <cstddef>
#include <cstdint>

namespace zel::platform {

// Owns one block; zero bytes read as 0 until written. Move-only.
class LargeBlock {
 public:
  LargeBlock() = default;
  ~LargeBlock();
  LargeBlock(LargeBlock&& other) noexcept;
  LargeBlock& operator=(LargeBlock&& other) noexcept;
  LargeBlock(const LargeBlock&) = delete;
  LargeBlock& operator=(const LargeBlock&) = delete;

  // An empty block when the system cannot give `size` bytes (or size is 0).
  static LargeBlock Allocate(std::size_t size);

  // Makes the pages of [offset, offset + length) ready to be written
  // without changing what they hold, so that a later write does not stop
  // for a page fault. Safe while other threads write to the block. False
  // when the system cannot; only a hint.
  bool Prefault(std::size_t offset, std::size_t length) const;

  std::uint8_t* get() const { return data_; }
  std::size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }
  void reset();

 private:
  LargeBlock(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_MEMORY_H_
