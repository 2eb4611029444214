#include "platform/file_system.h"
#include "platform/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace zel::platform {
namespace {

// Owns one descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(-1); }
  void Reset(int fd) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Removes everything below the folder open at |dir| without following
// links; true when every entry went.
bool ClearFolderAt(int dir) {
  Fd listing(::dup(dir));
  if (listing.get() < 0)
    return false;
  DIR* stream = ::fdopendir(listing.get());
  if (stream == nullptr)
    return false;
  listing.Release();  // the stream owns it now
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(stream)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(std::move(name));
  }
  ::closedir(stream);

  bool all_gone = true;
  for (const std::string& name : names) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    if (S_ISDIR(st.st_mode)) {
      Fd child(::openat(dir, name.c_str(), kFolderFlags));
      if (child.get() >= 0)
        ClearFolderAt(child.get());
      if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0)
        all_gone = false;
    } else if (::unlinkat(dir, name.c_str(), 0) != 0) {  // files and links alike
      all_gone = false;
    }
  }
  return all_gone;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirectoriesNoFollow(const std::string& path) {
  // Walk with descriptors so that an existing link (or one swapped in
  // meanwhile) never redirects the walk: creation stops at it.
  Fd dir(::open(!path.empty() && path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0)
    return;
  for (const std::string& part : SplitNonEmpty(path, '/')) {
    if (part == ".")
      continue;
    int next = ::openat(dir.get(), part.c_str(), kFolderFlags);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(dir.get(), part.c_str(), 0755) != 0 && errno != EEXIST)
        return;
      next = ::openat(dir.get(), part.c_str(), kFolderFlags);
    }
    if (next < 0)
      return;
    dir.Reset(next);
  }
}

bool RemoveTreeNoFollow(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  if (path.empty())
    return false;
  Fd dir(::open(path.c_str(), kFolderFlags));
  if (dir.get() < 0)
    return false;
  ClearFolderAt(dir.get());
  dir.Reset(-1);
  ::rmdir(path.c_str());  // fails quietly when something stayed
  return true;
}

long WriteStreamAt(std::FILE* stream, std::uint64_t offset, const void* data, std::size_t count) {
  if (stream == nullptr || std::fflush(stream) != 0)
    return -1;
  const int fd = ::fileno(stream);
  const char* from = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(fd, from + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return done > 0 ? static_cast<long>(done) : -1;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

}  // namespace zel::platform
