// The registry key wrapper every registry access of the installer goes
// through, the helpers for the product's Uninstall key, and the uninstall
// registration itself.
//
// The key lives in the platform's registry store (platform/registry.h): on
// POSIX a file under the machine prefix, readable with tools/zel-reg.
#ifndef ZEL_SYSTEM_REGISTRY_H_
#define ZEL_SYSTEM_REGISTRY_H_

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace zel {

struct PackageHeader;

using RegRoot = platform::RegRoot;
inline constexpr RegRoot kHkeyLocalMachine = RegRoot::kLocalMachine;
inline constexpr RegRoot kHkeyCurrentUser = RegRoot::kCurrentUser;

// Results are Windows registry error codes (0 = success) unless stated.
class CMyRegKey {
 public:
  CMyRegKey() = default;
  CMyRegKey(const CMyRegKey&) = delete;
  CMyRegKey& operator=(const CMyRegKey&) = delete;
  virtual ~CMyRegKey();

  // Both remember |sub_key| first and close a key opened before.
  long Create(RegRoot root, const std::string& sub_key);
  long Open(RegRoot root, const std::string& sub_key, std::uint32_t access);
  void Close();
  bool IsOpen() const { return key_.IsOpen(); }
  const std::string& path() const { return path_; }

  // REG_SZ; the data carries the terminating zero.
  long SetString(const std::string& name, const std::string& text);
  long SetDword(const std::string& name, std::uint32_t value);
  // Reads up to 4 bytes whatever the type; longer data fails (kRegMoreData)
  // and leaves |out| alone. Shorter data reads as its bytes, zero-filled.
  long QueryDword(const std::string& name, std::int32_t* out);
  // As QueryDword, but a value that is not a 4-byte REG_DWORD answers -1
  // (|out| is set anyway).
  long QueryDwordStrict(const std::string& name, std::int32_t* out);
  // Reads up to 200 bytes into |out| (up to the first zero); longer values
  // fail and leave |out| alone.
  long QueryString(const std::string& name, std::string* out);
  // Raw read into |buffer| (|*size| in: its size, out: the data size); a
  // success whose type is not REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ
  // answers -1.
  long QueryValue(const std::string& name, void* buffer, std::uint32_t* size);
  // Key information; the class name is at most 99 characters.
  long QueryInfo(platform::RegKeyInfo* out);
  // Name of the subkey at |index| (at most 255 characters).
  long EnumSubKey(std::uint32_t index, std::string* name);

 private:
  platform::RegKey key_;
  std::string path_;
};

inline constexpr char kUninstallBranch[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr char kCfgFlagValue[] = "cfg_flag";

// The product's Uninstall key name: |product_name| followed directly by
// "(x64)" for the 64-bit product.
std::string UninstallKeyName(const std::string& product_name, bool is64bit);

// Each opens kUninstallBranch + |key_name| with CMyRegKey::Create (so even
// reading creates a missing key), does one thing and closes. Each answers 0
// when the key cannot be created, and when |key_name| is not one key name
// (empty, or holding a "\"): the values would land on the Uninstall branch
// itself or on a key of another program.
int SetUninstallString(const std::string& key_name, const std::string& value_name,
                       const std::string& text);  // 1 after the attempt
int SetUninstallDword(const std::string& key_name, const std::string& value_name,
                      std::uint32_t value);  // 1 after the attempt
// 1 after the attempt; |*flags| changes only when the value was read.
int ReadCfgFlag(const std::string& key_name, const std::string& value_name, std::int32_t* flags);
// True when "InstallLocation" was read and is not empty.
bool ReadInstallLocation(const std::string& key_name, std::string* out);
// Removes the product's key with everything in it (the uninstaller's part);
// true when it is gone.
bool DeleteUninstallEntry(const std::string& key_name);

// What the registration takes from the package header.
struct UninstallEntry {
  std::string product_name;
  std::string display_name;
  std::string version;
  std::string release_date;  // year 0-3, month 5-6, day 8-9
  std::string web_address;
  std::string publisher;
  bool is64bit = false;
};
UninstallEntry UninstallEntryFromHeader(const PackageHeader& header);

// The "DisplayName" value: display name, " (x64)" for the 64-bit product,
// then " (" + release date + ")".
std::string UninstallDisplayName(const UninstallEntry& entry);
// The "InstallDate" value: characters 0-3, 5-6 and 8-9 of the release date.
// A shorter date gives what it has up to its end.
std::string UninstallInstallDate(const std::string& release_date);

// Writes every value of the product's Uninstall key, "cfg_flag" (|flags|)
// last, and logs "Write Setup Cfg Flag". |install_path| is the install folder
// (GetInstallPath), |main_exe| the product's main executable name. Failures
// of single values are not reported.
void WriteUninstallEntry(const UninstallEntry& entry, const std::wstring& install_path,
                         const std::string& main_exe, std::int32_t flags);
// The same from the setup controller's header, the extracted install folder
// and the profile's main executable name.
void WriteUninstallEntry(const PackageHeader& header, std::int32_t flags);

}  // namespace zel

#endif  // ZEL_SYSTEM_REGISTRY_H_
