#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <utility>

#include "platform/paths.h"
#include "platform/text.h"

namespace zel::platform {
namespace {

// The store file starts with this line; anything else is not ours.
constexpr std::string_view kMagic = "ZELREG 1";
// A store this big is damaged or not ours; refusing it keeps memory bounded.
constexpr off_t kMaxStoreBytes = 64 * 1024 * 1024;

struct Node {
  std::string name;
  std::vector<RegValue> values;
  std::map<std::string, std::unique_ptr<Node>> children;  // by folded name
};

std::string Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  return Fold(a) == Fold(b);
}

// "A\B\C" into components. One trailing "\" is allowed; empty components
// (a leading "\" or "\\") and over-long names are not.
RegStatus SplitPath(std::string_view text, std::vector<std::string>* out) {
  out->clear();
  if (text.empty())
    return kRegOk;
  if (text.back() == '\\')
    text.remove_suffix(1);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\\', start);
    std::string_view part =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty() || part.size() > kMaxKeyNameLength)
      return kRegInvalidParameter;
    out->emplace_back(part);
    if (end == std::string_view::npos)
      break;
    start = end + 1;
  }
  return kRegOk;
}

Node* FindNode(Node* root, const std::vector<std::string>& path) {
  Node* node = root;
  for (const std::string& part : path) {
    auto it = node->children.find(Fold(part));
    if (it == node->children.end())
      return nullptr;
    node = it->second.get();
  }
  return node;
}

// Walks |path|, creating what is missing; |*created| tells whether anything was.
Node* FindOrCreateNode(Node* root, const std::vector<std::string>& path, bool* created) {
  Node* node = root;
  for (const std::string& part : path) {
    std::unique_ptr<Node>& slot = node->children[Fold(part)];
    if (!slot) {
      slot = std::make_unique<Node>();
      slot->name = part;
      if (created != nullptr)
        *created = true;
    }
    node = slot.get();
  }
  return node;
}

RegValue* FindValue(Node* node, std::string_view name) {
  for (RegValue& v : node->values) {
    if (SameName(v.name, name))
      return &v;
  }
  return nullptr;
}

// ---- Store text ----
//
//   ZELREG 1
//   K "SOFTWARE\Vendor"
//   V 4 "EstimatedSize" c8760300
//
// Strings are quoted with \\, \" and \xHH escapes for control bytes; data is
// hexadecimal so every byte survives exactly.

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7f) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendHex(std::string& out, std::string_view data) {
  static const char kHex[] = "0123456789abcdef";
  for (char c : data) {
    unsigned char b = static_cast<unsigned char>(c);
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
}

void SerializeNode(const Node& node, const std::string& path, bool is_root, std::string& out) {
  if (!is_root || !node.values.empty()) {
    out += "K ";
    AppendQuoted(out, path);
    out += '\n';
    for (const RegValue& v : node.values) {
      out += "V ";
      out += std::to_string(v.type);
      out += ' ';
      AppendQuoted(out, v.name);
      out += ' ';
      AppendHex(out, v.data);
      out += '\n';
    }
  }
  for (const auto& [folded, child] : node.children) {
    SerializeNode(*child, is_root ? child->name : path + "\\" + child->name, false, out);
  }
}

std::string Serialize(const Node& root) {
  std::string out(kMagic);
  out += '\n';
  SerializeNode(root, std::string(), true, out);
  return out;
}

// Reads a quoted string at |*pos| of |line|; advances past it.
bool ParseQuoted(std::string_view line, std::size_t* pos, std::string* out) {
  std::size_t i = *pos;
  if (i >= line.size() || line[i] != '"')
    return false;
  ++i;
  out->clear();
  while (i < line.size() && line[i] != '"') {
    char c = line[i++];
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (i >= line.size())
      return false;
    char e = line[i++];
    if (e == '\\' || e == '"') {
      *out += e;
    } else if (e == 'x' && i + 1 < line.size() && HexDigitValue(line[i]) >= 0 &&
               HexDigitValue(line[i + 1]) >= 0) {
      *out += static_cast<char>(HexDigitValue(line[i]) * 16 + HexDigitValue(line[i + 1]));
      i += 2;
    } else {
      return false;
    }
  }
  if (i >= line.size())
    return false;  // no closing quote
  *pos = i + 1;
  return true;
}

bool ParseValueLine(std::string_view line, RegValue* value) {
  // "V <type> <name> <hex>"
  std::size_t i = 2;
  std::size_t digits_end = i;
  while (digits_end < line.size() && line[digits_end] >= '0' && line[digits_end] <= '9') {
    ++digits_end;
  }
  if (digits_end == i || digits_end - i > 10 || digits_end >= line.size() ||
      line[digits_end] != ' ') {
    return false;
  }
  unsigned long long type = 0;
  for (std::size_t k = i; k < digits_end; ++k)
    type = type * 10 + (line[k] - '0');
  if (type > 0xFFFFFFFFull)
    return false;
  value->type = static_cast<std::uint32_t>(type);
  i = digits_end + 1;
  if (!ParseQuoted(line, &i, &value->name))
    return false;
  if (i >= line.size() || line[i] != ' ')
    return false;
  std::string_view hex = line.substr(i + 1);
  if (hex.size() % 2 != 0)
    return false;
  value->data.clear();
  value->data.reserve(hex.size() / 2);
  for (std::size_t k = 0; k < hex.size(); k += 2) {
    int hi = HexDigitValue(hex[k]), lo = HexDigitValue(hex[k + 1]);
    if (hi < 0 || lo < 0)
      return false;
    value->data += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool Parse(std::string_view text, Node* root) {
  std::size_t pos = 0;
  bool first = true;
  Node* current = nullptr;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos)
      return false;  // every line ends in a newline
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kMagic)
        return false;
      first = false;
      continue;
    }
    if (line.size() >= 2 && line[0] == 'K' && line[1] == ' ') {
      std::size_t i = 2;
      std::string path_text;
      std::vector<std::string> path;
      if (!ParseQuoted(line, &i, &path_text) || i != line.size())
        return false;
      if (SplitPath(path_text, &path) != kRegOk)
        return false;
      current = FindOrCreateNode(root, path, nullptr);
    } else if (line.size() >= 2 && line[0] == 'V' && line[1] == ' ') {
      RegValue value;
      if (current == nullptr || !ParseValueLine(line, &value))
        return false;
      if (FindValue(current, value.name) != nullptr)
        return false;
      current->values.push_back(std::move(value));
    } else {
      return false;
    }
  }
  return !first;
}

// ---- Files ----

std::string StoreFile(RegRoot root) {
  return WideToUtf8(RegistryStorePath(root));
}

std::string FolderOf(const std::string& file) {
  std::size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

RegStatus ErrnoStatus(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kRegAccessDenied;
    default:
      return kRegIoFailed;
  }
}

// A missing store is an empty one.
RegStatus LoadStore(const std::string& file, Node* root) {
  if (file.empty())
    return kRegIoFailed;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT ? kRegOk : ErrnoStatus(errno);
  struct stat st;
  RegStatus status = kRegOk;
  std::string text;
  if (::fstat(fd, &st) != 0) {
    status = kRegIoFailed;
  } else if (!S_ISREG(st.st_mode) || st.st_size > kMaxStoreBytes) {
    status = kRegBadDb;
  } else {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      done += static_cast<std::size_t>(n);
    }
    if (done != text.size())
      status = kRegIoFailed;
  }
  ::close(fd);
  if (status != kRegOk)
    return status;
  return Parse(text, root) ? kRegOk : kRegBadDb;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces |file| with |root| so that a crash at any point leaves either the
// old store or the new one. Keeps the old store's owner and mode.
RegStatus SaveStore(const std::string& file, const Node& root) {
  const std::string tmp = file + ".tmp";
  const std::string text = Serialize(root);
  struct stat old;
  bool had_old = ::stat(file.c_str(), &old) == 0;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return ErrnoStatus(errno);
  bool ok = WriteAll(fd, text);
  int err = ok ? 0 : errno;
  if (ok && had_old) {
    // Best effort: an unprivileged writer cannot change the owner.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    }
    ::fchmod(fd, old.st_mode & 07777);
  }
  if (ok && ::fsync(fd) != 0)
    ok = false, err = errno;
  if (::close(fd) != 0 && ok)
    ok = false, err = errno;
  if (ok && ::rename(tmp.c_str(), file.c_str()) != 0)
    ok = false, err = errno;
  if (!ok) {
    ::unlink(tmp.c_str());
    return ErrnoStatus(err);
  }
  // The rename itself must reach the disk too.
  int dir = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return kRegOk;
}

RegStatus MakeFolders(const std::string& folder) {
  std::string path;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    path = folder.substr(0, pos);
    if (path.empty())
      continue;
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
      return ErrnoStatus(errno);
  }
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return kRegIoFailed;
  return kRegOk;
}

// Exclusive lock over one read-modify-write of a store. flock locks belong
// to the open file, so two threads of one process exclude each other too.
class StoreLock {
 public:
  explicit StoreLock(const std::string& file) {
    if (file.empty()) {
      status_ = kRegIoFailed;
      return;
    }
    status_ = MakeFolders(FolderOf(file));
    if (status_ != kRegOk)
      return;
    fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      status_ = ErrnoStatus(errno);
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        status_ = kRegIoFailed;
        return;
      }
    }
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  ~StoreLock() {
    if (fd_ >= 0)
      ::close(fd_);  // closing releases the lock
  }
  RegStatus status() const { return status_; }

 private:
  int fd_ = -1;
  RegStatus status_ = kRegOk;
};

// Runs |change|(root node, &changed) under the store's lock and saves the
// store when it changed something and succeeded.
template <typename Change>
RegStatus ModifyStore(RegRoot root, Change&& change) {
  const std::string file = StoreFile(root);
  StoreLock lock(file);
  if (lock.status() != kRegOk)
    return lock.status();
  Node tree;
  RegStatus status = LoadStore(file, &tree);
  if (status != kRegOk)
    return status;
  bool changed = false;
  status = change(&tree, &changed);
  if (status != kRegOk || !changed)
    return status;
  return SaveStore(file, tree);
}

// Runs |look|(root node) on the current version of the store.
template <typename Look>
RegStatus ReadStore(RegRoot root, Look&& look) {
  Node tree;
  RegStatus status = LoadStore(StoreFile(root), &tree);
  if (status != kRegOk)
    return status;
  return look(&tree);
}

bool StoreWritable(RegRoot root) {
  std::string folder = FolderOf(StoreFile(root));
  return ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace

std::wstring RegistryStorePath(RegRoot root) {
  if (root == RegRoot::kLocalMachine)
    return MachinePrefix() + L"/registry/HKLM.reg";
  std::wstring config = GetSpecialFolder(SpecialFolder::kRoamingAppData);
  if (config.empty())
    return std::wstring();
  return config + L"/zel-registry/HKCU.reg";
}

RegKey::RegKey(RegKey&& other) noexcept {
  *this = std::move(other);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    root_ = other.root_;
    path_ = std::move(other.path_);
    path_text_ = std::move(other.path_text_);
    access_ = other.access_;
    open_ = std::exchange(other.open_, false);
  }
  return *this;
}

RegStatus RegKey::Create(RegRoot root, std::string_view sub_key) {
  Close();
  std::vector<std::string> path;
  RegStatus status = SplitPath(sub_key, &path);
  if (status != kRegOk)
    return status;
  status = ModifyStore(root, [&](Node* tree, bool* changed) {
    FindOrCreateNode(tree, path, changed);
    return kRegOk;
  });
  if (status != kRegOk)
    return status;
  root_ = root;
  path_ = std::move(path);
  path_text_ = std::string(sub_key);
  access_ = kKeyAllAccess;
  open_ = true;
  return kRegOk;
}

RegStatus RegKey::Open(RegRoot root, std::string_view sub_key, std::uint32_t access) {
  Close();
  std::vector<std::string> path;
  RegStatus status = SplitPath(sub_key, &path);
  if (status != kRegOk)
    return status;
  status = ReadStore(
      root, [&](Node* tree) { return FindNode(tree, path) != nullptr ? kRegOk : kRegNotFound; });
  if (status != kRegOk)
    return status;
  if ((access & (kKeySetValue | kKeyCreateSubKey)) != 0 && !StoreWritable(root)) {
    return kRegAccessDenied;
  }
  root_ = root;
  path_ = std::move(path);
  path_text_ = std::string(sub_key);
  access_ = access;
  open_ = true;
  return kRegOk;
}

void RegKey::Close() {
  open_ = false;
  path_.clear();
  path_text_.clear();
  access_ = 0;
}

RegStatus RegKey::SetValue(std::string_view name, std::uint32_t type, const void* data,
                           std::uint32_t size) {
  if (!open_)
    return kRegInvalidHandle;
  if ((access_ & kKeySetValue) == 0)
    return kRegAccessDenied;
  if (data == nullptr && size != 0)
    return kRegInvalidParameter;
  std::string bytes(static_cast<const char*>(data), data == nullptr ? 0 : size);
  return ModifyStore(root_, [&](Node* tree, bool* changed) {
    Node* node = FindNode(tree, path_);
    if (node == nullptr)
      return kRegKeyDeleted;
    RegValue* value = FindValue(node, name);
    if (value == nullptr) {
      node->values.push_back(RegValue{std::string(name), type, bytes});
    } else {
      if (value->type == type && value->data == bytes)
        return kRegOk;
      value->type = type;
      value->data = bytes;
    }
    *changed = true;
    return kRegOk;
  });
}

RegStatus RegKey::QueryValue(std::string_view name, std::uint32_t* type, void* data,
                             std::uint32_t* size) const {
  if (!open_)
    return kRegInvalidHandle;
  if ((access_ & kKeyQueryValue) == 0)
    return kRegAccessDenied;
  if (data != nullptr && size == nullptr)
    return kRegInvalidParameter;
  return ReadStore(root_, [&](Node* tree) {
    Node* node = FindNode(tree, path_);
    if (node == nullptr)
      return kRegKeyDeleted;
    const RegValue* value = FindValue(node, name);
    if (value == nullptr)
      return kRegNotFound;
    if (type != nullptr)
      *type = value->type;
    if (size == nullptr)
      return kRegOk;
    const std::uint32_t needed = static_cast<std::uint32_t>(value->data.size());
    if (data != nullptr) {
      if (*size < needed) {
        *size = needed;
        return kRegMoreData;
      }
      std::memcpy(data, value->data.data(), needed);
    }
    *size = needed;
    return kRegOk;
  });
}

RegStatus RegKey::DeleteValue(std::string_view name) {
  if (!open_)
    return kRegInvalidHandle;
  if ((access_ & kKeySetValue) == 0)
    return kRegAccessDenied;
  return ModifyStore(root_, [&](Node* tree, bool* changed) {
    Node* node = FindNode(tree, path_);
    if (node == nullptr)
      return kRegKeyDeleted;
    for (auto it = node->values.begin(); it != node->values.end(); ++it) {
      if (SameName(it->name, name)) {
        node->values.erase(it);
        *changed = true;
        return kRegOk;
      }
    }
    return kRegNotFound;
  });
}

RegStatus RegKey::QueryInfo(RegKeyInfo* info) const {
  if (!open_)
    return kRegInvalidHandle;
  if (info == nullptr)
    return kRegInvalidParameter;
  if ((access_ & kKeyQueryValue) == 0)
    return kRegAccessDenied;
  return ReadStore(root_, [&](Node* tree) {
    Node* node = FindNode(tree, path_);
    if (node == nullptr)
      return kRegKeyDeleted;
    *info = RegKeyInfo();
    info->subkeys = static_cast<std::uint32_t>(node->children.size());
    for (const auto& [folded, child] : node->children) {
      info->max_subkey_length =
          std::max(info->max_subkey_length, static_cast<std::uint32_t>(child->name.size()));
    }
    info->values = static_cast<std::uint32_t>(node->values.size());
    for (const RegValue& v : node->values) {
      info->max_value_name_length =
          std::max(info->max_value_name_length, static_cast<std::uint32_t>(v.name.size()));
      info->max_value_data_length =
          std::max(info->max_value_data_length, static_cast<std::uint32_t>(v.data.size()));
    }
    return kRegOk;
  });
}

RegStatus RegKey::EnumSubKey(std::uint32_t index, std::string* name) const {
  if (!open_)
    return kRegInvalidHandle;
  if (name == nullptr)
    return kRegInvalidParameter;
  if ((access_ & kKeyEnumerateSubKeys) == 0)
    return kRegAccessDenied;
  return ReadStore(root_, [&](Node* tree) {
    Node* node = FindNode(tree, path_);
    if (node == nullptr)
      return kRegKeyDeleted;
    if (index >= node->children.size())
      return kRegNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    *name = it->second->name;
    return kRegOk;
  });
}

RegStatus RegKey::EnumValue(std::uint32_t index, RegValue* value) const {
  if (!open_)
    return kRegInvalidHandle;
  if (value == nullptr)
    return kRegInvalidParameter;
  if ((access_ & kKeyQueryValue) == 0)
    return kRegAccessDenied;
  return ReadStore(root_, [&](Node* tree) {
    Node* node = FindNode(tree, path_);
    if (node == nullptr)
      return kRegKeyDeleted;
    if (index >= node->values.size())
      return kRegNoMoreItems;
    *value = node->values[index];
    return kRegOk;
  });
}

RegStatus DeleteKeyTree(RegRoot root, std::string_view sub_key) {
  std::vector<std::string> path;
  RegStatus status = SplitPath(sub_key, &path);
  if (status != kRegOk)
    return status;
  if (path.empty())
    return kRegInvalidParameter;
  return ModifyStore(root, [&](Node* tree, bool* changed) {
    std::vector<std::string> parent_path(path.begin(), path.end() - 1);
    Node* parent = FindNode(tree, parent_path);
    if (parent == nullptr || parent->children.erase(Fold(path.back())) == 0)
      return kRegNotFound;
    *changed = true;
    return kRegOk;
  });
}

}  // namespace zel::platform
