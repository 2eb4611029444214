#include "system/package_extract.h"

#include <atomic>
#include <boost/interprocess/file_mapping.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "profile/package_header.h"
#include "shell/log.h"
#include "system/archive_engine.h"
#include "system/file_util.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

std::atomic<std::int32_t> g_install_error_code{kInstallNoError};
std::mutex g_install_path_lock;
std::wstring g_install_path;
std::mutex g_install_lock;  // one installation at a time

void SetInstallPath(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(g_install_path_lock);
  g_install_path = path;
}

fs::path FsPath(const std::wstring& path) {
  return fs::path(ToNarrow(path));
}

// A folder name the header may give for the default install folder: one
// plain path component.
bool UsableFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

// The earlier installation, moved into a hidden folder inside the install
// folder while the new one is unpacked. Staying inside the folder keeps the
// moves on one volume and needs no rights on the parent.
class EarlierInstallation {
 public:
  EarlierInstallation() = default;
  EarlierInstallation(const EarlierInstallation&) = delete;
  EarlierInstallation& operator=(const EarlierInstallation&) = delete;
  ~EarlierInstallation() {
    if (active_)
      Restore();
  }

  bool MoveAside(const fs::path& folder) {
    folder_ = folder;
    std::error_code ec;
    std::vector<fs::path> names;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      names.push_back(it->path().filename());
    }
    if (ec)
      return false;
    if (names.empty())
      return true;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100 && backup_.empty(); ++attempt) {
      fs::path candidate = folder / (".zel-previous-" + std::to_string(random() % 1000000000));
      if (fs::create_directory(candidate, ec))
        backup_ = candidate;
      if (ec)
        return false;
    }
    if (backup_.empty())
      return false;
    active_ = true;
    for (const fs::path& name : names) {
      fs::rename(folder / name, backup_ / name, ec);  // a link moves as a link
      if (ec) {
        WriteLog("Cannot move %s aside: %s.", (folder / name).string().c_str(),
                 ec.message().c_str());
        Restore();
        return false;
      }
    }
    WriteLog("Earlier installation moved aside to %s.", backup_.string().c_str());
    return true;
  }

  // Removes what the failed run left and puts the earlier files back.
  void Restore() {
    if (!active_)
      return;
    active_ = false;
    std::error_code ec;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(folder_, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      if (it->path() != backup_)
        leftovers.push_back(it->path());
    }
    for (const fs::path& path : leftovers)
      fs::remove_all(path, ec);
    std::vector<fs::path> names;
    for (fs::directory_iterator it(backup_, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      names.push_back(it->path().filename());
    }
    bool all_back = true;
    for (const fs::path& name : names) {
      fs::rename(backup_ / name, folder_ / name, ec);
      if (ec)
        all_back = false;
    }
    if (all_back) {
      fs::remove(backup_, ec);
      WriteLog("Earlier installation restored.");
    } else {
      WriteLog("Earlier installation partly restored; the rest is in %s.",
               backup_.string().c_str());
    }
  }

  void Discard() {
    if (!active_)
      return;
    active_ = false;
    DeleteTree(ToWide(backup_.string()));
  }

 private:
  fs::path folder_;
  fs::path backup_;
  bool active_ = false;
};

// The common end of every failure after the argument check.
HResult Fail(const ProgressSink& sink, std::int32_t code, int sink_value = kInstallSetupFileError) {
  g_install_error_code = code;
  sink(kSinkFailure, sink_value, 0);
  return kFail;
}

bool RangeInside(std::int32_t offset, std::int32_t size, std::int64_t length) {
  return offset >= 0 && size >= 0 &&
         static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(size) <= length;
}

}  // namespace

HResult InstallFromPackage(const wchar_t* package_path, ProgressSink sink,
                           const wchar_t* install_folder, bool delete_temp,
                           bool write_uninstaller) {
  if (package_path == nullptr || !sink) {
    g_install_error_code = kInstallPointNull;
    return kPointer;
  }
  std::lock_guard<std::mutex> serial(g_install_lock);
  sink(kSinkStart, 0, 0);

  JFile package;
  if (!package.Open(package_path, JFile::kRead | JFile::kBinary)) {
    std::int32_t error = package.LastError();
    sink(kSinkFailure, kInstallSetupFileError, 0);
    g_install_error_code = error;
    WriteLog("Open file error %d.\n", error);
    return kFail;
  }

  const std::int64_t length = package.Length();
  std::int32_t offset = -1;
  if (length < kPackageHeaderOffsetPos + 4 ||
      package.Seek(kPackageHeaderOffsetPos, SEEK_SET) != 0 ||
      package.Read(&offset, sizeof(offset)) != static_cast<long>(sizeof(offset))) {
    offset = -1;
  }
  PackageHeader header = NewPackageHeader();
  // A negative offset is refused as well: it would be read from before the
  // file's start.
  if (offset < 0 ||
      static_cast<std::int64_t>(offset) > length - static_cast<std::int64_t>(kPackageHeaderSize) ||
      package.Seek(offset, SEEK_SET) != 0 ||
      package.Read(&header, sizeof(header)) != static_cast<long>(sizeof(header))) {
    package.Close();
    g_install_error_code = kInstallOffsetError;
    sink(kSinkFailure, kInstallSetupFileError, 0);
    WriteLog("Offset error %d  Offset - %d  file length- %d.\n", kInstallOffsetError, offset,
             static_cast<int>(length));
    return kFail;
  }
  // Texts that run past their field would name folders and keys with
  // whatever follows them.
  if (const char* field = UnterminatedHeaderText(header)) {
    package.Close();
    WriteLog("Package header error: the %s has no terminator.", field);
    return Fail(sink, kInstallSetupFileError);
  }

  std::wstring folder;
  if (install_folder != nullptr) {
    folder = install_folder;
    MakeDirectories(folder);
    SetInstallPath(folder);
    WriteLog("StrCpyW lpszProgram. \n");
  } else {
    std::string product_name = HeaderText(header.product_name);
    if (!UsableFolderName(product_name)) {
      package.Close();
      WriteLog("Package header error: the product name \"%s\" cannot name a folder.",
               product_name.c_str());
      return Fail(sink, kInstallSetupFileError);
    }
    DefaultInstallFolder(&folder, ToWide(product_name), true, header.is_x64 != 0);
    SetInstallPath(folder);
    WriteLog("GetProgramPath lpszProgram. \n");
  }
  WriteLog("lpszProgram path :%s \n", ToNarrow(folder).c_str());

  std::error_code ec;
  if (folder.empty() || !fs::is_directory(FsPath(folder), ec)) {
    package.Close();
    WriteLog("Install folder cannot be created: %s.", ToNarrow(folder).c_str());
    return Fail(sink, kInstallDirWriteError, kInstallDirWriteError);
  }

  if (!RangeInside(header.payload_offset, header.payload_size, length) ||
      (write_uninstaller &&
       !RangeInside(header.uninstaller_offset, header.uninstaller_size, length))) {
    package.Close();
    WriteLog("Package ranges outside the file: payload %d+%d, uninstaller %d+%d, length %d.",
             header.payload_offset, header.payload_size, header.uninstaller_offset,
             header.uninstaller_size, static_cast<int>(length));
    return Fail(sink, kInstallReadFileError);
  }

  // The payload is mapped rather than copied: the package is already in the
  // page cache after its download, and faulting in a fresh buffer of the
  // payload's size costs more than the copy itself. A package that cannot be
  // mapped is read into a buffer instead.
  std::optional<boost::interprocess::mapped_region> mapped;
  std::vector<std::uint8_t> buffer;
  const std::uint8_t* payload = nullptr;
  if (header.payload_size > 0) {
    try {
      boost::interprocess::file_mapping mapping(ToNarrow(package_path).c_str(),
                                                boost::interprocess::read_only);
      mapped.emplace(mapping, boost::interprocess::read_only, header.payload_offset,
                     static_cast<std::size_t>(header.payload_size));
      payload = static_cast<const std::uint8_t*>(mapped->get_address());
    } catch (const boost::interprocess::interprocess_exception&) {
      mapped.reset();
    }
  }
  if (payload == nullptr) {
    try {
      buffer.assign(static_cast<std::size_t>(header.payload_size) + 1, 0);
    } catch (const std::bad_alloc&) {
      package.Close();
      WriteLog("No memory for a payload of %d bytes.", header.payload_size);
      return Fail(sink, kInstallMallocError);
    }
    long read = -1;
    if (package.Seek(header.payload_offset, SEEK_SET) == 0) {
      read = package.Read(buffer.data(), static_cast<std::size_t>(header.payload_size));
    }
    if (read != static_cast<long>(header.payload_size)) {
      package.Close();
      WriteLog("Payload read error: %ld of %d bytes.", read, header.payload_size);
      return Fail(sink, kInstallReadFileError);
    }
    payload = buffer.data();
  }
  WriteLog("Buffer Info: Start(%d), size(%d), pBuffer(%08X).\n", header.payload_offset,
           header.payload_size, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(payload)));

  EarlierInstallation earlier;
  if (IsProductFolder(folder, HeaderText(header.product_name)) &&
      !earlier.MoveAside(FsPath(folder))) {
    package.Close();
    WriteLog("Cannot move the earlier installation aside in %s.", ToNarrow(folder).c_str());
    return Fail(sink, kInstallFileError);
  }

  C7ZOperator unpacker;
  unpacker.SetCallback(sink);
  const std::string dest_folder = ToNarrow(folder);
  std::string error_text;
  WriteLog("Begin unpack file.\n");
  if (!unpacker.ExtractFromMemory(payload, header.payload_size, dest_folder.c_str(), nullptr,
                                  &error_text, delete_temp)) {
    WriteLog("Failed unpack file.\n");
    WriteLog("Install path %s.\n", dest_folder.c_str());
    WriteLog("UnZip error :%s.\n", error_text.c_str());
    package.Close();
    earlier.Restore();
    return Fail(sink, kInstallUnzipFileError);
  }
  WriteLog("Finish unpack file.\n");
  const std::wstring uninstaller = PathJoin(folder, kUninstallerName);
  mapped.reset();
  std::vector<std::uint8_t>().swap(buffer);

  if (write_uninstaller) {
    std::vector<std::uint8_t> program(static_cast<std::size_t>(header.uninstaller_size));
    long got = -1;
    if (package.Seek(header.uninstaller_offset, SEEK_SET) == 0) {
      got = package.Read(program.data(), program.size());
    }
    package.Close();
    WriteLog("Write uninstall file.\n");
    JFile out;
    bool written = got == static_cast<long>(program.size()) &&
                   out.Open(uninstaller, JFile::kWrite | JFile::kBinary) &&
                   out.Write(program.data(), program.size()) == static_cast<long>(program.size());
    out.Close();
    if (!written)
      WriteLog("Uninstaller not written: %s.", ToNarrow(uninstaller).c_str());
    // Windows runs any .exe; here the program needs its execute bits.
    fs::permissions(FsPath(uninstaller),
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    WriteLog("Write uninstall bin.\n");
    if (WritePackageHeader((uninstaller + L".bin").c_str(), header) != kOk) {
      WriteLog("Header copy not written.");
    }
  } else {
    package.Close();
  }
  earlier.Discard();
  sink(kSinkSuccess, 0, 0);
  return kOk;
}

std::int32_t GetInstallErrorCode() {
  return g_install_error_code;
}

std::string InstallErrorName(std::int32_t code) {
  switch (code) {
    case kInstallNoError:
      return "NoError";
    case kInstallPointNull:
      return "PointNull";
    case kInstallSetupFileError:
      return "SetupFileError";
    case kInstallDirWriteError:
      return "DirWriteError";
    case kInstallMallocError:
      return "MallocBrror";
    case kInstallFileError:
      return "InstallFileError";
    case kInstallOpenFileError:
      return "OpenFileError";
    case kInstallOffsetError:
      return "OffsetError";
    case kInstallReadFileError:
      return "ReadFileError";
    case kInstallUnzipFileError:
      return "UnzipFileError";
    default:
      return std::to_string(code);
  }
}

std::string GetInstallErrorName() {
  return InstallErrorName(g_install_error_code);
}

std::wstring GetInstallPath() {
  std::lock_guard<std::mutex> lock(g_install_path_lock);
  return g_install_path;
}

bool IsProductFolder(const std::wstring& folder, const std::string& product_name) {
  std::error_code ec;
  fs::path path = FsPath(folder);
  if (fs::is_regular_file(fs::symlink_status(path / ToNarrow(kUninstallerName), ec)))
    return true;
  fs::path last = path.lexically_normal();
  if (!last.has_filename())
    last = last.parent_path();
  return !product_name.empty() && last.filename().string() == product_name;
}

// ---- C7ZOperator -----------------------------------------------------------

void C7ZOperator::OnProgress(std::uint32_t low, std::uint32_t /*high*/) {
  if (sink_)
    sink_(kSinkEngineProgress, static_cast<int>(low), 0);
}

void C7ZOperator::OnError(int code) {
  last_code_ = code;
  if (sink_)
    sink_(kSinkEngineError, code, 0);
}

bool C7ZOperator::ExtractFromMemory(const void* data, std::int32_t size, const char* dest_folder,
                                    const char* password, std::string* error_text,
                                    bool delete_temp) {
  C7ZExtractor extractor(this);
  return extractor.Extract(data, size, dest_folder, password, error_text, delete_temp);
}

// ---- C7ZExtractor ----------------------------------------------------------

bool C7ZExtractor::Extract(const void* data, std::int32_t size, const char* dest_folder,
                           const char* password, std::string* error_text, bool delete_temp) {
  if (data == nullptr || dest_folder == nullptr)
    return false;
  std::string ignored;
  std::string& why = error_text != nullptr ? *error_text : ignored;
  auto fail = [&](std::string text) {
    if (callback_ != nullptr)
      callback_->OnError(kEngineExtractorFailed);
    why = std::move(text);
    return false;
  };

  const std::string base = MakeUniqueTempDir();
  if (base.empty())
    return fail("Write 7z file error");
  const std::string folder = base + "zelmora_7z/";
  ExtractorMakeFolders(folder);
  const std::string archive = folder + "Zel7ZFile.7z";

  JFile out;
  bool written = size >= 0 && out.Open(ToWide(archive), JFile::kWrite | JFile::kBinary);
  // A short write (a full disk) would hand the engine a truncated archive.
  written = written && out.Write(data, static_cast<std::size_t>(size)) == static_cast<long>(size);
  out.Close();
  if (!written) {
    ExtractorRemoveFolder(folder, RemoveMode::kAll);
    return fail("Write 7z file error");
  }
  std::error_code ec;
  if (!fs::exists(archive, ec))
    return fail("File path not exists : " + archive);

  if (RunEngine(archive, dest_folder, password) != kEngineExitOk) {
    ExtractorRemoveFolder(folder, RemoveMode::kAll);
    return fail("Read 7z file error");
  }
  if (delete_temp)
    ExtractorRemoveFolder(base, RemoveMode::kAll);
  return true;
}

int C7ZExtractor::RunEngine(const std::string& archive, const std::string& dest_folder,
                            const char* password) {
  std::vector<std::string> args = {ToNarrow(platform::ModuleFileName()), "x", archive,
                                   "-o" + dest_folder};
  if (password != nullptr && *password != '\0')
    args.push_back(std::string("-p") + password);
  std::vector<const char*> argv;
  for (const std::string& arg : args)
    argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return ArchiveEngineMain(static_cast<int>(args.size()), argv.data(), this, &OnEngineError,
                           &OnEngineProgress);
}

void C7ZExtractor::OnEngineError(void* context, int code) {
  auto* self = static_cast<C7ZExtractor*>(context);
  if (self != nullptr && self->callback_ != nullptr)
    self->callback_->OnError(code);
}

void C7ZExtractor::OnEngineProgress(void* context, std::uint32_t low, std::uint32_t high) {
  auto* self = static_cast<C7ZExtractor*>(context);
  if (self != nullptr && self->callback_ != nullptr)
    self->callback_->OnProgress(low, high);
}

// ---- Folder helpers --------------------------------------------------------

std::string MakeUniqueTempDir() {
  std::error_code ec;
  std::string base = fs::temp_directory_path(ec).string();
  if (ec || base.empty() || base.size() > platform::kMaxPath)
    return std::string();
  for (char& c : base) {
    if (c == '\\')
      c = '/';
  }
  if (base.back() != '/')
    base += '/';
  ExtractorMakeFolders(base);
  for (;;) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%" PRIx32, platform::TickCountMs());
    std::string candidate = base + hex + "/";
    // create_directory tells "made now" from "already there", so two
    // extractions never share a folder.
    if (fs::create_directory(candidate, ec))
      return candidate;
    if (ec)
      return std::string();
    std::this_thread::yield();
  }
}

bool ExtractorIsDirectory(const std::string& path) {
  if (path.size() < 2)
    return false;
  std::string p = path;
  if (p.size() == 2 && p[1] == ':')
    p += '/';
  if (p.size() > 1 && p.back() == '/')
    p.pop_back();
  std::error_code ec;
  return fs::is_directory(p, ec);
}

bool ExtractorMakeFolders(const std::string& path) {
  if (path.size() > platform::kMaxPath)
    return false;
  bool result = true;
  std::size_t pos = 0;
  for (;;) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos)
      next = path.find('\\', pos);
    if (next == std::string::npos)
      break;
    std::string prefix = path.substr(0, next);
    if (!prefix.empty()) {
      std::error_code ec;
      fs::create_directory(prefix, ec);
      result = !ec;
    }
    pos = next + 1;
  }
  return result;
}

bool ExtractorRemoveFolder(const std::string& path, RemoveMode mode) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(path, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    entries.push_back(*it);
  }
  if (ec)
    return false;
  bool result = true;
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    fs::file_status status = fs::symlink_status(entry.path(), ec);
    if (fs::is_directory(status)) {
      result = ExtractorRemoveFolder(path + name + "/", mode);
    } else if (mode != RemoveMode::kFoldersOnly) {
      if (!fs::is_symlink(status)) {
        fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::add, ec);
      }
      result = fs::remove(entry.path(), ec) && !ec;
    }
  }
  if (mode != RemoveMode::kFilesOnly) {
    std::string self = path;
    while (self.size() > 1 && self.back() == '/')
      self.pop_back();
    fs::remove(self, ec);
  }
  return result;
}

}  // namespace zel
