// zel-reg: lists and reads the registry store (platform/registry.h), so a
// user can see what the installer wrote.
//
//   zel-reg list [KEY]          KEY and every key below it, with values
//                               (no KEY: both roots, everything)
//   zel-reg query KEY [VALUE]   the values of KEY, or only VALUE's data
//   zel-reg where               the store files
//
// KEY starts with its root, HKLM (HKEY_LOCAL_MACHINE) or HKCU
// (HKEY_CURRENT_USER), then "\" and the path; quote it in the shell. Exit
// status: 0 done, 1 not found or unreadable store, 2 bad command line.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace {

using zel::platform::RegKey;
using zel::platform::RegRoot;
using zel::platform::RegStatus;
using zel::platform::RegValue;

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;

void Usage(std::FILE* out) {
  std::fputs(
      "usage: zel-reg list [KEY]\n"
      "       zel-reg query KEY [VALUE]\n"
      "       zel-reg where\n"
      "KEY is HKLM\\path or HKCU\\path (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).\n",
      out);
}

const char* RootName(RegRoot root) {
  return root == RegRoot::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z')
      x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z')
      y = static_cast<char>(y - 32);
    if (x != y)
      return false;
  }
  return true;
}

// "HKLM\SOFTWARE\..." into the root and the path below it.
bool ParseKey(std::string_view text, RegRoot* root, std::string* path) {
  std::size_t slash = text.find('\\');
  std::string_view head = text.substr(0, slash);
  if (EqualsNoCase(head, "HKLM") || EqualsNoCase(head, "HKEY_LOCAL_MACHINE")) {
    *root = RegRoot::kLocalMachine;
  } else if (EqualsNoCase(head, "HKCU") || EqualsNoCase(head, "HKEY_CURRENT_USER")) {
    *root = RegRoot::kCurrentUser;
  } else {
    return false;
  }
  *path = slash == std::string_view::npos ? std::string() : std::string(text.substr(slash + 1));
  return true;
}

const char* TypeName(std::uint32_t type) {
  switch (type) {
    case zel::platform::kRegNone:
      return "REG_NONE";
    case zel::platform::kRegSz:
      return "REG_SZ";
    case zel::platform::kRegExpandSz:
      return "REG_EXPAND_SZ";
    case zel::platform::kRegBinary:
      return "REG_BINARY";
    case zel::platform::kRegDword:
      return "REG_DWORD";
    case zel::platform::kRegMultiSz:
      return "REG_MULTI_SZ";
    case zel::platform::kRegQword:
      return "REG_QWORD";
    default:
      return nullptr;
  }
}

// Control bytes as \xHH, so one value stays on one line.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02x", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Hex(std::string_view data) {
  std::string out;
  char byte[4];
  for (char c : data) {
    std::snprintf(byte, sizeof(byte), "%02X", static_cast<unsigned char>(c));
    out += byte;
  }
  return out;
}

// The data as a person reads it: texts without their terminator, numbers in
// hex and decimal, anything else (or anything malformed) as hex bytes.
std::string DataText(const RegValue& v) {
  const std::string& d = v.data;
  switch (v.type) {
    case zel::platform::kRegSz:
    case zel::platform::kRegExpandSz: {
      std::string_view text(d);
      if (!text.empty() && text.back() == '\0')
        text.remove_suffix(1);
      return Printable(text);
    }
    case zel::platform::kRegMultiSz: {
      std::string_view text(d);
      while (!text.empty() && text.back() == '\0')
        text.remove_suffix(1);
      std::string out;
      for (char c : text)
        out += c == '\0' ? std::string("\\0") : Printable(std::string_view(&c, 1));
      return out;
    }
    case zel::platform::kRegDword:
      if (d.size() == 4) {
        std::uint32_t n;
        std::memcpy(&n, d.data(), 4);
        char buffer[40];
        std::snprintf(buffer, sizeof(buffer), "0x%x (%u)", n, n);
        return buffer;
      }
      break;
    case zel::platform::kRegQword:
      if (d.size() == 8) {
        std::uint64_t n;
        std::memcpy(&n, d.data(), 8);
        char buffer[64];
        std::snprintf(buffer, sizeof(buffer), "0x%llx (%llu)", static_cast<unsigned long long>(n),
                      static_cast<unsigned long long>(n));
        return buffer;
      }
      break;
    default:
      break;
  }
  return Hex(d);
}

// The data alone, for scripts: texts as they are, numbers in decimal.
std::string RawDataText(const RegValue& v) {
  if (v.type == zel::platform::kRegDword && v.data.size() == 4) {
    std::uint32_t n;
    std::memcpy(&n, v.data.data(), 4);
    return std::to_string(n);
  }
  return DataText(v);
}

void PrintValue(const RegValue& v) {
  const char* type = TypeName(v.type);
  std::string type_text = type != nullptr ? type : "REG_TYPE_" + std::to_string(v.type);
  std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : Printable(v.name).c_str(),
              type_text.c_str(), DataText(v).c_str());
}

void Complain(const std::string& what, RegStatus status) {
  const char* reason = "error";
  switch (status) {
    case zel::platform::kRegNotFound:
      reason = "not found";
      break;
    case zel::platform::kRegBadDb:
      reason = "the registry store is damaged";
      break;
    case zel::platform::kRegAccessDenied:
      reason = "access denied";
      break;
    case zel::platform::kRegInvalidParameter:
      reason = "not a valid key path";
      break;
    default:
      break;
  }
  std::fprintf(stderr, "zel-reg: %s: %s (%ld)\n", what.c_str(), reason, status);
}

std::string FullName(RegRoot root, const std::string& path) {
  return path.empty() ? std::string(RootName(root)) : std::string(RootName(root)) + "\\" + path;
}

// Prints |path| and everything below it. A key shows when it holds values,
// when it is a leaf, or when it was asked for; an empty root shows nothing.
RegStatus ListTree(RegRoot root, const std::string& path, bool asked) {
  RegKey key;
  RegStatus status = key.Open(root, path, zel::platform::kKeyRead);
  if (status != zel::platform::kRegOk)
    return status;
  std::vector<RegValue> values;
  RegValue v;
  for (std::uint32_t i = 0; key.EnumValue(i, &v) == zel::platform::kRegOk; ++i) {
    values.push_back(v);
  }
  std::vector<std::string> subkeys;
  std::string sub;
  for (std::uint32_t i = 0; key.EnumSubKey(i, &sub) == zel::platform::kRegOk; ++i) {
    subkeys.push_back(sub);
  }
  if (asked || !values.empty() || (subkeys.empty() && !path.empty())) {
    std::printf("%s\n", Printable(FullName(root, path)).c_str());
    for (const RegValue& value : values)
      PrintValue(value);
    std::printf("\n");
  }
  for (const std::string& name : subkeys) {
    status = ListTree(root, path.empty() ? name : path + "\\" + name, false);
    if (status != zel::platform::kRegOk)
      return status;
  }
  return zel::platform::kRegOk;
}

int List(int argc, char** argv) {
  if (argc > 1)
    return Usage(stderr), kExitUsage;
  if (argc == 0) {
    for (RegRoot root : {RegRoot::kLocalMachine, RegRoot::kCurrentUser}) {
      RegStatus status = ListTree(root, "", false);
      if (status != zel::platform::kRegOk && status != zel::platform::kRegNotFound) {
        Complain(RootName(root), status);
        return kExitNotFound;
      }
    }
    return kExitOk;
  }
  RegRoot root;
  std::string path;
  if (!ParseKey(argv[0], &root, &path))
    return Usage(stderr), kExitUsage;
  RegStatus status = ListTree(root, path, true);
  if (status != zel::platform::kRegOk) {
    Complain(argv[0], status);
    return kExitNotFound;
  }
  return kExitOk;
}

int Query(int argc, char** argv) {
  if (argc < 1 || argc > 2)
    return Usage(stderr), kExitUsage;
  RegRoot root;
  std::string path;
  if (!ParseKey(argv[0], &root, &path))
    return Usage(stderr), kExitUsage;
  RegKey key;
  RegStatus status = key.Open(root, path, zel::platform::kKeyRead);
  if (status != zel::platform::kRegOk) {
    Complain(argv[0], status);
    return kExitNotFound;
  }
  RegValue v;
  if (argc == 2) {
    std::string wanted = argv[1];
    for (std::uint32_t i = 0; key.EnumValue(i, &v) == zel::platform::kRegOk; ++i) {
      if (EqualsNoCase(v.name, wanted)) {
        std::printf("%s\n", RawDataText(v).c_str());
        return kExitOk;
      }
    }
    Complain(std::string(argv[0]) + " " + wanted, zel::platform::kRegNotFound);
    return kExitNotFound;
  }
  std::printf("%s\n", Printable(FullName(root, path)).c_str());
  for (std::uint32_t i = 0; key.EnumValue(i, &v) == zel::platform::kRegOk; ++i)
    PrintValue(v);
  return kExitOk;
}

int Where() {
  for (RegRoot root : {RegRoot::kLocalMachine, RegRoot::kCurrentUser}) {
    std::printf("%s    %s\n", RootName(root),
                zel::platform::WideToUtf8(zel::platform::RegistryStorePath(root)).c_str());
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return Usage(stderr), kExitUsage;
  const std::string command = argv[1];
  if (command == "list")
    return List(argc - 2, argv + 2);
  if (command == "query")
    return Query(argc - 2, argv + 2);
  if (command == "where" && argc == 2)
    return Where();
  if (command == "-h" || command == "--help" || command == "help")
    return Usage(stdout), kExitOk;
  Usage(stderr);
  return kExitUsage;
}
