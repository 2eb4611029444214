// Installing a setup package: read its header, settle the install folder,
// extract the 7z payload with the archive engine and write the uninstaller
// and a copy of the header beside it.
//
// An earlier installation in the folder is moved aside first and brought
// back when anything fails, so a failed run never loses a working product;
// a folder that holds no earlier installation and is not the product's own
// is never emptied.
#ifndef ZEL_SYSTEM_PACKAGE_EXTRACT_H_
#define ZEL_SYSTEM_PACKAGE_EXTRACT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "support/hresult.h"

namespace zel {

// (kind, value, extra) -> ignored. Kinds: 0 start, 100 engine progress,
// 101 engine error code, 1 success, 2 failure (value 10002 or 10001).
using ProgressSink = std::function<int(int kind, int value, int extra)>;

inline constexpr int kSinkStart = 0;
inline constexpr int kSinkSuccess = 1;
inline constexpr int kSinkFailure = 2;
inline constexpr int kSinkEngineProgress = 100;
inline constexpr int kSinkEngineError = 101;

// InstallErrorCode values; any other value is the package file's open error.
inline constexpr std::int32_t kInstallNoError = 0;
inline constexpr std::int32_t kInstallPointNull = 10000;
inline constexpr std::int32_t kInstallSetupFileError = 10001;  // also a malformed header
inline constexpr std::int32_t kInstallDirWriteError = 10002;
inline constexpr std::int32_t kInstallMallocError = 10003;
inline constexpr std::int32_t kInstallFileError = 10004;  // earlier installation not movable
inline constexpr std::int32_t kInstallOpenFileError = 10005;
inline constexpr std::int32_t kInstallOffsetError = 10006;
inline constexpr std::int32_t kInstallReadFileError = 10007;
inline constexpr std::int32_t kInstallUnzipFileError = 10008;

inline constexpr wchar_t kUninstallerName[] = L"uninstall.exe";

// Installs |package_path| into |install_folder| (null: the program folder
// named by the header's product name). kPointer when the path is null or the
// sink empty, kFail for every other failure, with the reason in
// GetInstallErrorCode(). Runs one extraction at a time.
HResult InstallFromPackage(const wchar_t* package_path, ProgressSink sink,
                           const wchar_t* install_folder, bool delete_temp, bool write_uninstaller);

// The reason of the last failure (a success leaves it unchanged).
std::int32_t GetInstallErrorCode();
// "NoError", "PointNull", ... or the decimal digits of other values.
std::string GetInstallErrorName();
std::string InstallErrorName(std::int32_t code);
// The folder the last InstallFromPackage call settled on.
std::wstring GetInstallPath();

// Whether the content of |folder| may be replaced: it holds an earlier
// installation (its uninstall.exe) or its last component is the product's
// own folder name.
bool IsProductFolder(const std::wstring& folder, const std::string& product_name);

// Receives the archive engine's notifications.
class I7zFileInfoCallback {
 public:
  virtual ~I7zFileInfoCallback() = default;
  virtual void OnProgress(std::uint32_t low, std::uint32_t high) = 0;
  virtual void OnError(int code) = 0;
};

class C7ZOperator : public I7zFileInfoCallback {
 public:
  C7ZOperator() = default;

  void SetCallback(ProgressSink sink) { sink_ = std::move(sink); }
  void OnProgress(std::uint32_t low, std::uint32_t high) override;
  void OnError(int code) override;
  int last_code() const { return last_code_; }

  // Writes |data| to a private temporary archive and extracts it into
  // |dest_folder|. |error_text| says why on failure.
  bool ExtractFromMemory(const void* data, std::int32_t size, const char* dest_folder,
                         const char* password, std::string* error_text, bool delete_temp);

 private:
  std::int32_t last_code_ = 0;
  ProgressSink sink_;
};

// One extraction: the temporary archive, the engine run, the clean-up.
class C7ZExtractor {
 public:
  explicit C7ZExtractor(I7zFileInfoCallback* callback) : callback_(callback) {}

  bool Extract(const void* data, std::int32_t size, const char* dest_folder, const char* password,
               std::string* error_text, bool delete_temp);

 private:
  static void OnEngineError(void* context, int code);
  static void OnEngineProgress(void* context, std::uint32_t low, std::uint32_t high);
  int RunEngine(const std::string& archive, const std::string& dest_folder, const char* password);

  I7zFileInfoCallback* callback_;  // not owned; may be null
};

// A new folder below the temporary-files folder named by the tick count in
// hex, with a trailing "/".
std::string MakeUniqueTempDir();

// The extractor's folder helpers (narrow paths, "/" separators).
bool ExtractorIsDirectory(const std::string& path);
bool ExtractorMakeFolders(const std::string& path);
enum class RemoveMode { kAll = 0, kFilesOnly = 1, kFoldersOnly = 2 };
// |path| ends in "/". Links are removed as links, never followed.
bool ExtractorRemoveFolder(const std::string& path, RemoveMode mode);

}  // namespace zel

#endif  // ZEL_SYSTEM_PACKAGE_EXTRACT_H_
