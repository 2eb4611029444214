// The registry: a tree of keys under two roots, each key holding named values
// of a type (REG_SZ, REG_DWORD, ...), kept across runs.
//
// On POSIX each root is one store file:
//   HKEY_LOCAL_MACHINE  MachinePrefix() + "/registry/HKLM.reg"
//   HKEY_CURRENT_USER   the user's config folder (XDG_CONFIG_HOME, else
//                       ~/.config) + "/zel-registry/HKCU.reg"
// Per-user state stays with the user, machine state with the machine prefix,
// as on Windows.
//
// Every change locks the store (flock on "<store>.lock", so two processes or
// two threads never interleave a read-modify-write), rewrites the whole store
// into "<store>.tmp", fsyncs it and renames it over the store: a crash leaves
// either the old or the new store, never half of one. Readers take no lock;
// the rename gives them a whole version. A store that cannot be parsed is
// never overwritten: every call on it answers kRegBadDb.
//
// Key and value names compare case-insensitively (ASCII letters) and keep
// the case they were created with. Subkeys enumerate in name order, values in
// the order they were first set. There is one view: no 32/64-bit redirection.
// A handle names its key by path; when the key is deleted under it, calls
// answer kRegKeyDeleted.
#ifndef ZEL_PLATFORM_REGISTRY_H_
#define ZEL_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel::platform {

// Windows system error codes, as the registry functions return them.
using RegStatus = long;
inline constexpr RegStatus kRegOk = 0;
inline constexpr RegStatus kRegNotFound = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr RegStatus kRegAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr RegStatus kRegInvalidHandle = 6;      // ERROR_INVALID_HANDLE
inline constexpr RegStatus kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr RegStatus kRegMoreData = 234;         // ERROR_MORE_DATA
inline constexpr RegStatus kRegNoMoreItems = 259;      // ERROR_NO_MORE_ITEMS
inline constexpr RegStatus kRegBadDb = 1009;           // ERROR_BADDB
inline constexpr RegStatus kRegIoFailed = 1016;        // ERROR_REGISTRY_IO_FAILED
inline constexpr RegStatus kRegKeyDeleted = 1018;      // ERROR_KEY_DELETED

enum class RegRoot { kLocalMachine, kCurrentUser };

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// Access rights.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

// Longest key name component, in bytes.
inline constexpr std::size_t kMaxKeyNameLength = 255;

// What RegQueryInfoKey reports; lengths exclude terminators. Keys have no
// class here, so the class fields are always empty and 0.
struct RegKeyInfo {
  std::string class_name;
  std::uint32_t class_length = 0;
  std::uint32_t subkeys = 0;
  std::uint32_t max_subkey_length = 0;
  std::uint32_t max_class_length = 0;
  std::uint32_t values = 0;
  std::uint32_t max_value_name_length = 0;
  std::uint32_t max_value_data_length = 0;
};

struct RegValue {
  std::string name;
  std::uint32_t type = kRegNone;
  std::string data;  // raw bytes; REG_SZ data carries its terminating zero
};

// An open key. Move-only; Close() or destruction releases it.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  ~RegKey() = default;

  // Creates |sub_key| (and every missing key above it) or opens it when it
  // exists, with all access. Components are separated by "\"; an empty path
  // is the root itself. A store that cannot be written gives
  // kRegAccessDenied, even when the key exists.
  RegStatus Create(RegRoot root, std::string_view sub_key);
  // Opens an existing key with |access|.
  RegStatus Open(RegRoot root, std::string_view sub_key, std::uint32_t access);
  void Close();
  bool IsOpen() const { return open_; }
  // The key's path below its root, as it was spelt when opened.
  const std::string& path() const { return path_text_; }
  RegRoot root() const { return root_; }

  RegStatus SetValue(std::string_view name, std::uint32_t type, const void* data,
                     std::uint32_t size);
  // RegQueryValueEx rules: |type| and |data| may be null; with |data| null
  // |*size| receives the data size; a buffer smaller than the data gives
  // kRegMoreData with |*size| set to the size needed and nothing copied.
  RegStatus QueryValue(std::string_view name, std::uint32_t* type, void* data,
                       std::uint32_t* size) const;
  RegStatus DeleteValue(std::string_view name);
  RegStatus QueryInfo(RegKeyInfo* info) const;
  // Name of the subkey at |index|; kRegNoMoreItems past the last.
  RegStatus EnumSubKey(std::uint32_t index, std::string* name) const;
  // The value at |index| in setting order; kRegNoMoreItems past the last.
  RegStatus EnumValue(std::uint32_t index, RegValue* value) const;

 private:
  RegRoot root_ = RegRoot::kLocalMachine;
  std::vector<std::string> path_;  // components
  std::string path_text_;
  std::uint32_t access_ = 0;
  bool open_ = false;
};

// Deletes |sub_key| with all its subkeys and values (RegDeleteTree plus the
// key itself). kRegNotFound when it does not exist; the root itself cannot be
// deleted (kRegInvalidParameter).
RegStatus DeleteKeyTree(RegRoot root, std::string_view sub_key);

// Where the store of |root| lives (for diagnostics and tools).
std::wstring RegistryStorePath(RegRoot root);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_REGISTRY_H_
