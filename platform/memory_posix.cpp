#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace zel::platform {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

LargeBlock LargeBlock::Allocate(std::size_t size) {
  if (size == 0)
    return {};
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED)
    return {};
  // Written once front to back by many small copies: huge pages save one
  // page fault per 4 KiB, which dominates the copy itself. Only a hint.
  if (size >= kHugePage)
    madvise(data, size, MADV_HUGEPAGE);
  return LargeBlock(static_cast<std::uint8_t*>(data), size);
}

bool LargeBlock::Prefault(std::size_t offset, std::size_t length) const {
  if (data_ == nullptr || offset >= size_)
    return false;
  length = std::min(length, size_ - offset);
  // madvise wants a page-aligned start; the pages around the range are ours too.
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t first = offset / page * page;
  return ::madvise(data_ + first, offset + length - first, MADV_POPULATE_WRITE) == 0;
}

LargeBlock::~LargeBlock() {
  reset();
}

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void LargeBlock::reset() {
  if (data_ != nullptr)
    munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace zel::platform
