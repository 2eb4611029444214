#include "system/registry.h"

#include <cstring>

#include "profile/package_header.h"
#include "profile/product_info.h"
#include "shell/log.h"
#include "system/file_util.h"
#include "system/package_extract.h"

namespace zel {
namespace {

constexpr std::uint32_t kStringBufferSize = 200;
constexpr std::size_t kMaxClassLength = 99;
constexpr std::size_t kMaxSubKeyLength = 255;

// Values the size columns of Windows' list of installed programs show.
constexpr std::uint32_t kEstimatedSize = 227016;   // 0x376C8
constexpr std::uint32_t kEstimatedSize2 = 229986;  // 0x38262

bool IsSingleKeyName(const std::string& key_name) {
  return !key_name.empty() && key_name.find('\\') == std::string::npos;
}

// Opens the product's key with Create; false (and a log line saying why)
// when that is not possible.
bool CreateUninstallKey(const std::string& key_name, CMyRegKey* key) {
  if (!IsSingleKeyName(key_name)) {
    WriteLog("Uninstall key name refused: (%s) is not one key name.", key_name.c_str());
    return false;
  }
  long status = key->Create(kHkeyLocalMachine, kUninstallBranch + key_name);
  if (status != platform::kRegOk) {
    WriteLog("Open uninstall key failed: key(%s), error(%ld).", key_name.c_str(), status);
    return false;
  }
  return true;
}

}  // namespace

CMyRegKey::~CMyRegKey() {
  Close();
}

long CMyRegKey::Create(RegRoot root, const std::string& sub_key) {
  path_ = sub_key;
  return key_.Create(root, sub_key);
}

long CMyRegKey::Open(RegRoot root, const std::string& sub_key, std::uint32_t access) {
  path_ = sub_key;
  return key_.Open(root, sub_key, access);
}

void CMyRegKey::Close() {
  key_.Close();
}

long CMyRegKey::SetString(const std::string& name, const std::string& text) {
  return key_.SetValue(name, platform::kRegSz, text.c_str(),
                       static_cast<std::uint32_t>(text.size() + 1));
}

long CMyRegKey::SetDword(const std::string& name, std::uint32_t value) {
  return key_.SetValue(name, platform::kRegDword, &value, sizeof(value));
}

long CMyRegKey::QueryDword(const std::string& name, std::int32_t* out) {
  if (out == nullptr)
    return platform::kRegInvalidParameter;
  // Zeroed, so data shorter than 4 bytes never reads stale memory.
  std::int32_t value = 0;
  std::uint32_t size = sizeof(value);
  long status = key_.QueryValue(name, nullptr, &value, &size);
  if (status == platform::kRegOk)
    *out = value;
  return status;
}

long CMyRegKey::QueryDwordStrict(const std::string& name, std::int32_t* out) {
  if (out == nullptr)
    return platform::kRegInvalidParameter;
  std::int32_t value = 0;
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(value);
  long status = key_.QueryValue(name, &type, &value, &size);
  if (status != platform::kRegOk)
    return status;
  *out = value;
  return type == platform::kRegDword && size == sizeof(value) ? status : -1;
}

long CMyRegKey::QueryString(const std::string& name, std::string* out) {
  if (out == nullptr)
    return platform::kRegInvalidParameter;
  char buffer[kStringBufferSize] = {};
  std::uint32_t size = sizeof(buffer);
  long status = key_.QueryValue(name, nullptr, buffer, &size);
  if (status != platform::kRegOk)
    return status;
  // The stored text need not be terminated: stop at the data's end.
  out->assign(buffer, strnlen(buffer, size));
  return status;
}

long CMyRegKey::QueryValue(const std::string& name, void* buffer, std::uint32_t* size) {
  std::uint32_t type = 0;
  long status = key_.QueryValue(name, &type, buffer, size);
  if (status != platform::kRegOk)
    return status;
  bool text =
      type == platform::kRegSz || type == platform::kRegExpandSz || type == platform::kRegMultiSz;
  return text ? status : -1;
}

long CMyRegKey::QueryInfo(platform::RegKeyInfo* out) {
  if (out == nullptr)
    return platform::kRegInvalidParameter;
  long status = key_.QueryInfo(out);
  if (status == platform::kRegOk && out->class_name.size() > kMaxClassLength) {
    out->class_name.resize(kMaxClassLength);
  }
  return status;
}

long CMyRegKey::EnumSubKey(std::uint32_t index, std::string* name) {
  if (name == nullptr)
    return platform::kRegInvalidParameter;
  std::string found;
  long status = key_.EnumSubKey(index, &found);
  if (status != platform::kRegOk)
    return status;
  if (found.size() > kMaxSubKeyLength)
    return platform::kRegMoreData;
  *name = found;
  return status;
}

std::string UninstallKeyName(const std::string& product_name, bool is64bit) {
  return is64bit ? product_name + "(x64)" : product_name;
}

int SetUninstallString(const std::string& key_name, const std::string& value_name,
                       const std::string& text) {
  CMyRegKey key;
  if (!CreateUninstallKey(key_name, &key))
    return 0;
  key.SetString(value_name, text);
  key.Close();
  return 1;
}

int SetUninstallDword(const std::string& key_name, const std::string& value_name,
                      std::uint32_t value) {
  CMyRegKey key;
  if (!CreateUninstallKey(key_name, &key))
    return 0;
  key.SetDword(value_name, value);
  key.Close();
  return 1;
}

int ReadCfgFlag(const std::string& key_name, const std::string& value_name, std::int32_t* flags) {
  CMyRegKey key;
  if (flags == nullptr || !CreateUninstallKey(key_name, &key))
    return 0;
  key.QueryDword(value_name, flags);
  key.Close();
  return 1;
}

bool ReadInstallLocation(const std::string& key_name, std::string* out) {
  CMyRegKey key;
  if (out == nullptr || !CreateUninstallKey(key_name, &key))
    return false;
  std::string location;
  bool ok = key.QueryString("InstallLocation", &location) == platform::kRegOk;
  key.Close();
  if (!ok || location.empty())
    return false;
  *out = location;
  return true;
}

bool DeleteUninstallEntry(const std::string& key_name) {
  if (!IsSingleKeyName(key_name))
    return false;
  long status = platform::DeleteKeyTree(kHkeyLocalMachine, kUninstallBranch + key_name);
  return status == platform::kRegOk || status == platform::kRegNotFound;
}

UninstallEntry UninstallEntryFromHeader(const PackageHeader& header) {
  UninstallEntry entry;
  entry.product_name = HeaderText(header.product_name);
  entry.display_name = HeaderText(header.display_name);
  entry.version = HeaderText(header.version);
  entry.release_date = HeaderText(header.release_date);
  entry.web_address = HeaderText(header.web_address);
  entry.publisher = HeaderText(header.publisher);
  entry.is64bit = header.is_x64 != 0;
  return entry;
}

std::string UninstallDisplayName(const UninstallEntry& entry) {
  std::string name = entry.display_name;
  if (entry.is64bit)
    name += " (x64)";
  return name + " (" + entry.release_date + ")";
}

std::string UninstallInstallDate(const std::string& release_date) {
  std::string date;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (i >= release_date.size())
      break;  // the field's terminator ends the text
    date += release_date[i];
  }
  return date;
}

void WriteUninstallEntry(const UninstallEntry& entry, const std::wstring& install_path,
                         const std::string& main_exe, std::int32_t flags) {
  const std::string key = UninstallKeyName(entry.product_name, entry.is64bit);
  const std::string folder = ToNarrow(install_path);
  const std::string icon = ToNarrow(PathJoin(install_path, ToWide(main_exe)));
  // Built piece by piece: GCC 12 at -O3 misreads "x" + s + "x" as overlapping.
  std::string uninstaller = "\"";
  uninstaller += ToNarrow(PathJoin(install_path, kUninstallerName));
  uninstaller += '"';

  SetUninstallString(key, "DisplayIcon", icon);
  SetUninstallString(key, "Version", entry.version);
  SetUninstallString(key, "DisplayVersion", entry.version);
  SetUninstallString(key, "DisplayName", UninstallDisplayName(entry));
  SetUninstallDword(key, "EstimatedSize", kEstimatedSize);
  SetUninstallString(key, "HelpLink", entry.web_address);
  SetUninstallString(key, "InstallDate", UninstallInstallDate(entry.release_date));
  SetUninstallString(key, "InstallLocation", folder);
  SetUninstallDword(key, "NoModify", 1);
  SetUninstallDword(key, "NoRepair", 1);
  SetUninstallString(key, "Publisher", entry.publisher);
  SetUninstallString(key, "QuietUninstallString", uninstaller + " /SILENT");
  SetUninstallDword(key, "sEstimatedSize2", kEstimatedSize2);
  SetUninstallString(key, "UninstallString", uninstaller);
  SetUninstallString(key, "URLInfoAbout", entry.web_address);
  SetUninstallString(key, "URLUpdateInfo", entry.web_address);
  SetUninstallDword(key, kCfgFlagValue, static_cast<std::uint32_t>(flags));
  WriteLog("Write Setup Cfg Flag : %d, root(%s), key(%s).\n", flags, key.c_str(), kCfgFlagValue);
}

void WriteUninstallEntry(const PackageHeader& header, std::int32_t flags) {
  WriteUninstallEntry(UninstallEntryFromHeader(header), GetInstallPath(), MainExeName(), flags);
}

}  // namespace zel
