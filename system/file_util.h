// Files, folders, well-known locations, resources and text helpers shared by
// the whole installer. Paths are wide strings with "/" as the separator.
#ifndef ZEL_SYSTEM_FILE_UTIL_H_
#define ZEL_SYSTEM_FILE_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace zel {

// A C stream with the installer's open flags. The destructor closes a stream
// left open (owners still call Close, as before).
class JFile {
 public:
  static constexpr unsigned kRead = 0x0001;
  static constexpr unsigned kWrite = 0x0002;  // also creates missing parent folders
  static constexpr unsigned kText = 0x0100;
  static constexpr unsigned kBinary = 0x0200;  // ignored when kText is set

  JFile() = default;
  JFile(const JFile&) = delete;
  JFile& operator=(const JFile&) = delete;
  virtual ~JFile();

  // Mode text from |flags|: w, r, then t or b; "wrt" becomes "at".
  static std::string ModeText(unsigned flags);

  bool Open(const std::wstring& path, unsigned flags);
  void Close();
  int Seek(long offset, int origin);
  int SeekStart() { return Seek(0, SEEK_SET); }
  int SeekEnd() { return Seek(0, SEEK_END); }
  long Read(void* buffer, std::size_t count);
  long Write(const void* buffer, std::size_t count);
  // Seek and write in one call; the stream's position stays where it was.
  long WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);
  std::int32_t Tell();
  std::int32_t Length();
  std::int32_t LastError() const { return last_error_; }
  bool IsOpen() const { return stream_ != nullptr; }

 private:
  std::FILE* stream_ = nullptr;
  std::int32_t last_error_ = 0;
};

// Creates every folder along |path|; false only when |path| is longer than
// 260 characters (nothing is created then). Failures along the way are
// ignored. Never creates anything through a symbolic link that leaves the
// part of the path that already existed as real folders.
bool MakeDirectories(const std::wstring& path);
// MakeDirectories of the folder part of |file_path|.
bool MakeParentDirectories(const std::wstring& file_path);
// Deletes the folder's files and subfolders, then the folder. Symbolic links
// are removed as links, never followed. False when the folder cannot be
// listed.
bool DeleteTree(const std::wstring& folder);

// The program folder + |name| (the native one for a 64-bit product on a
// 64-bit system); with |create| the folders are made and that decides the
// result.
bool DefaultInstallFolder(std::wstring* out, const std::wstring& name, bool create, bool is64bit);
// The parent of Documents + "Downloads" + |sub_folder| [+ |file_name|].
void DownloadsPath(std::wstring* out, const std::wstring& sub_folder, const wchar_t* file_name,
                   bool create);
// Documents + |sub_folder| [+ |file_name|].
void DocumentsPath(std::wstring* out, const std::wstring& sub_folder, const wchar_t* file_name,
                   bool create);
bool AppDataPath(std::wstring* out);
// Free MiB on the volume that holds |path| (truncated); 0 when unknown.
std::int64_t FreeSpaceMiB(const std::wstring& path);

// The program's resource (id, type) as text up to its first zero byte.
bool LoadResourceText(int id, const char* type, std::string* out);

std::wstring ReplaceAll(std::wstring subject, const std::wstring& from, const std::wstring& to);
std::string ReplaceAll(std::string subject, const std::string& from, const std::string& to);
// |a| (at most 260 characters) with |b| appended, one separator between.
std::wstring PathJoin(const std::wstring& a, const std::wstring& b);
std::string ToNarrow(const std::wstring& text);
std::wstring ToWide(const std::string& text);

}  // namespace zel

#endif  // ZEL_SYSTEM_FILE_UTIL_H_
