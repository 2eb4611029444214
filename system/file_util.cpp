#include "system/file_util.h"

#include <cerrno>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/resources.h"
#include "platform/system_info.h"
#include "platform/text.h"

namespace zel {
namespace {

constexpr wchar_t kSep = platform::kPathSeparator;

bool FileExists(const std::wstring& path) {
  return platform::PathExists(ToNarrow(path));
}

}  // namespace

// --- JFile ---------------------------------------------------------------

JFile::~JFile() {
  Close();
}

std::string JFile::ModeText(unsigned flags) {
  std::string mode;
  if (flags & kWrite)
    mode += 'w';
  if (flags & kRead)
    mode += 'r';
  if (flags & kText) {
    mode += 't';
  } else if (flags & kBinary) {
    mode += 'b';
  }
  if (mode == "wrt")
    mode = "at";
  return mode;
}

bool JFile::Open(const std::wstring& path, unsigned flags) {
  if (!FileExists(path)) {
    if (flags & kWrite) {
      MakeParentDirectories(path);
    } else {
      Close();
      last_error_ = -1;
      return false;
    }
  }
  Close();
  std::string mode = ModeText(flags);
  // The C library here has no text mode; "t" would be an invalid mode letter.
  std::string c_mode;
  for (char c : mode) {
    if (c != 't')
      c_mode += c;
  }
  c_mode += 'e';  // O_CLOEXEC: children started later must not inherit it
  stream_ = std::fopen(ToNarrow(path).c_str(), c_mode.c_str());
  last_error_ = stream_ != nullptr ? 0 : errno;
  return stream_ != nullptr;
}

void JFile::Close() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
}

int JFile::Seek(long offset, int origin) {
  if (stream_ == nullptr)
    return -1;
  return std::fseek(stream_, offset, origin) == 0 ? 0 : -1;
}

long JFile::Read(void* buffer, std::size_t count) {
  if (stream_ == nullptr || buffer == nullptr)
    return -1;
  return static_cast<long>(std::fread(buffer, 1, count, stream_));
}

long JFile::Write(const void* buffer, std::size_t count) {
  if (stream_ == nullptr || buffer == nullptr)
    return -1;
  return static_cast<long>(std::fwrite(buffer, 1, count, stream_));
}

long JFile::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
  if (stream_ == nullptr || buffer == nullptr)
    return -1;
  long written = platform::WriteStreamAt(stream_, offset, buffer, count);
  if (written < 0)
    last_error_ = errno;
  return written;
}

std::int32_t JFile::Tell() {
  if (stream_ == nullptr)
    return -1;
  return static_cast<std::int32_t>(std::ftell(stream_));
}

std::int32_t JFile::Length() {
  if (stream_ == nullptr)
    return -1;
  long here = std::ftell(stream_);
  std::fseek(stream_, 0, SEEK_END);
  long length = std::ftell(stream_);
  std::fseek(stream_, here, SEEK_SET);
  return static_cast<std::int32_t>(length);
}

// --- Folders ---------------------------------------------------------------

bool MakeDirectories(const std::wstring& path) {
  if (path.size() > platform::kMaxPath)
    return false;
  platform::MakeDirectoriesNoFollow(ToNarrow(path));
  return true;
}

bool MakeParentDirectories(const std::wstring& file_path) {
  std::size_t slash = file_path.find_last_of(kSep);
  if (slash == std::wstring::npos)
    return false;
  if (slash == 0)
    return true;  // the root exists
  return MakeDirectories(file_path.substr(0, slash));
}

bool DeleteTree(const std::wstring& folder) {
  return platform::RemoveTreeNoFollow(ToNarrow(folder));
}

// --- Well-known locations --------------------------------------------------

bool DefaultInstallFolder(std::wstring* out, const std::wstring& name, bool create, bool is64bit) {
  if (out == nullptr)
    return false;
  std::uint16_t arch = platform::NativeProcessorArchitecture();
  bool os64 = arch == platform::kArchAmd64 || arch == platform::kArchIa64;
  // The native program folder stands for ProgramW6432, which a 32-bit
  // installer needs to see past its own view.
  std::wstring base =
      platform::GetSpecialFolder(is64bit && os64 ? platform::SpecialFolder::kProgramFilesNative
                                                 : platform::SpecialFolder::kProgramFiles);
  *out = PathJoin(base, name);
  if (out->empty())
    return false;
  return create ? MakeDirectories(*out) : true;
}

void DownloadsPath(std::wstring* out, const std::wstring& sub_folder, const wchar_t* file_name,
                   bool create) {
  if (out == nullptr)
    return;
  std::wstring documents = platform::GetSpecialFolder(platform::SpecialFolder::kDocuments);
  std::size_t slash = documents.find_last_of(kSep);
  std::wstring parent = slash == std::wstring::npos ? documents : documents.substr(0, slash);
  std::wstring path = PathJoin(PathJoin(parent, L"Downloads"), sub_folder);
  if (create)
    MakeDirectories(path);
  if (file_name != nullptr)
    path = PathJoin(path, file_name);
  *out = path;
}

void DocumentsPath(std::wstring* out, const std::wstring& sub_folder, const wchar_t* file_name,
                   bool create) {
  if (out == nullptr)
    return;
  std::wstring path =
      PathJoin(platform::GetSpecialFolder(platform::SpecialFolder::kDocuments), sub_folder);
  if (create)
    MakeDirectories(path);
  if (file_name != nullptr)
    path = PathJoin(path, file_name);
  *out = path;
}

bool AppDataPath(std::wstring* out) {
  if (out == nullptr)
    return false;
  *out = platform::GetSpecialFolder(platform::SpecialFolder::kRoamingAppData);
  return !out->empty();
}

std::int64_t FreeSpaceMiB(const std::wstring& path) {
  std::optional<unsigned long long> bytes = platform::FreeBytesOfVolume(path);
  if (!bytes)
    return 0;
  return static_cast<std::int64_t>(static_cast<double>(*bytes) / 1024.0 / 1024.0);
}

// --- Resources and strings --------------------------------------------------

bool LoadResourceText(int id, const char* type, std::string* out) {
  if (out == nullptr || type == nullptr)
    return false;
  std::span<const std::uint8_t> data = platform::FindResource(id, type);
  if (data.empty())
    return false;
  std::string text(reinterpret_cast<const char*>(data.data()), data.size());
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos)
    text.resize(zero);
  *out = std::move(text);
  return true;
}

template <typename String>
static String ReplaceAllImpl(String subject, const String& from, const String& to) {
  if (from.empty())
    return subject;
  std::size_t pos = 0;
  while ((pos = subject.find(from, pos)) != String::npos) {
    subject.replace(pos, from.size(), to);
    pos += to.size();  // the inserted text is not searched again
  }
  return subject;
}

std::wstring ReplaceAll(std::wstring subject, const std::wstring& from, const std::wstring& to) {
  return ReplaceAllImpl(std::move(subject), from, to);
}

std::string ReplaceAll(std::string subject, const std::string& from, const std::string& to) {
  return ReplaceAllImpl(std::move(subject), from, to);
}

std::wstring PathJoin(const std::wstring& a, const std::wstring& b) {
  if (a.size() > platform::kMaxPath)
    return std::wstring();
  std::wstring tail = b;
  while (!tail.empty() && tail.front() == kSep)
    tail.erase(tail.begin());
  std::wstring result = a;
  if (!tail.empty()) {
    if (!result.empty() && result.back() != kSep)
      result += kSep;
    result += tail;
  }
  if (result.size() > platform::kMaxPath)
    return std::wstring();
  return result;
}

std::string ToNarrow(const std::wstring& text) {
  return platform::WideToUtf8(text);
}

std::wstring ToWide(const std::string& text) {
  return platform::Utf8ToWide(text);
}

}  // namespace zel
