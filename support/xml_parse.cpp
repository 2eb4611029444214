#include "support/xml_parse.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <type_traits>

#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/stream_translator.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "platform/text.h"

namespace zel {
namespace {

namespace pt = boost::property_tree;
namespace rx = boost::property_tree::detail::rapidxml;

constexpr char kAttrKey[] = "<xmlattr>";
constexpr char kCommentKey[] = "<xmlcomment>";
constexpr char kItemKey[] = "item";
constexpr char kItemValuePath[] = "<xmlattr>.key";

// Numbers are written and read the same way whatever the global locale says.
template <typename T>
pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T> Translator() {
  return pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T>(
      std::locale::classic());
}

template <typename T>
std::optional<T> GetAs(const XmlTree& tree, const std::string& path) {
  boost::optional<T> value;
  if constexpr (std::is_same_v<T, std::string>) {
    value = tree.get_optional<std::string>(path);
  } else {
    value = tree.get_optional<T>(path, Translator<T>());
  }
  if (!value)
    return std::nullopt;
  return *value;
}

template <typename T>
void PutAs(XmlTree* tree, const std::string& path, const T& value, bool add) {
  if constexpr (std::is_same_v<T, std::string>) {
    add ? tree->add(path, value) : tree->put(path, value);
  } else {
    add ? tree->add(path, value, Translator<T>()) : tree->put(path, value, Translator<T>());
  }
}

// Non-empty components only: an empty name would be written as a nameless
// element or attribute that no reader accepts.
bool IsValidPath(std::string_view path) {
  if (path.empty() || path.front() == '.' || path.back() == '.')
    return false;
  return path.find("..") == std::string_view::npos;
}

bool IsMarkupChild(const std::string& name) {
  return name == kAttrKey || name == kCommentKey;
}

std::filesystem::path ToFsPath(const std::wstring& path) {
  const std::string utf8 = platform::WideToUtf8(path);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The XML reader recurses once per nesting level, so a deep enough text
// would exhaust the stack. This scan follows the reader's tokens closely
// enough never to count fewer levels than the reader would enter.
bool DepthWithin(std::string_view text, int limit) {
  const std::size_t n = text.size();
  auto past = [&](std::string_view mark, std::size_t from) {
    std::size_t at = text.find(mark, from);
    return at == std::string_view::npos ? n : at + mark.size();
  };
  int depth = 0;
  std::size_t i = 0;
  while (i < n) {
    std::size_t lt = text.find('<', i);
    if (lt == std::string_view::npos)
      break;
    std::string_view rest = text.substr(lt);
    if (rest.starts_with("<!--")) {
      i = past("-->", lt + 4);
    } else if (rest.starts_with("<![CDATA[")) {
      i = past("]]>", lt + 9);
    } else if (rest.starts_with("<?")) {
      i = past("?>", lt + 2);
    } else if (rest.starts_with("<!DOCTYPE")) {
      std::size_t j = lt + 9;
      int brackets = 0;
      for (; j < n; ++j) {
        if (text[j] == '[') {
          ++brackets;
        } else if (text[j] == ']') {
          --brackets;
        } else if (text[j] == '>' && brackets <= 0) {
          break;
        }
      }
      i = j + 1;
    } else if (rest.starts_with("<!") || rest.starts_with("</")) {
      if (rest[1] == '/')
        --depth;
      i = past(">", lt + 2);
    } else {
      std::size_t j = lt + 1;
      char quote = 0;
      for (; j < n; ++j) {
        char c = text[j];
        if (quote != 0) {
          if (c == quote)
            quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      bool self_closing = j < n && text[j - 1] == '/';
      if (!self_closing && ++depth > limit)
        return false;
      i = j + 1;
    }
  }
  return true;
}

// What the property tree's reader lets through but XML forbids: closing tags
// that do not match, other than one root element, repeated attributes.
bool CheckWellFormed(std::string_view text, std::string* error) {
  if (!DepthWithin(text, kXmlMaxDepth)) {
    *error = "elements nested deeper than " + std::to_string(kXmlMaxDepth);
    return false;
  }
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  rx::xml_document<char> doc;
  try {
    doc.parse<rx::parse_non_destructive | rx::parse_validate_closing_tags>(buffer.data());
  } catch (const rx::parse_error& e) {
    const char* where = e.where<char>();
    long line = 1 + std::count(static_cast<const char*>(buffer.data()), where, '\n');
    *error = "line " + std::to_string(line) + ": " + e.what();
    return false;
  }
  int roots = 0;
  std::vector<rx::xml_node<char>*> pending;
  for (rx::xml_node<char>* node = doc.first_node(); node; node = node->next_sibling()) {
    if (node->type() != rx::node_element)
      continue;
    ++roots;
    pending.push_back(node);
  }
  if (roots != 1) {
    *error = roots == 0 ? "no root element" : "more than one root element";
    return false;
  }
  while (!pending.empty()) {
    rx::xml_node<char>* node = pending.back();
    pending.pop_back();
    std::set<std::string_view> names;
    for (auto* attr = node->first_attribute(); attr; attr = attr->next_attribute()) {
      if (!names.emplace(attr->name(), attr->name_size()).second) {
        *error = "attribute " + std::string(attr->name(), attr->name_size()) +
                 " repeated in element " + std::string(node->name(), node->name_size());
        return false;
      }
    }
    for (auto* child = node->first_node(); child; child = child->next_sibling()) {
      if (child->type() == rx::node_element)
        pending.push_back(child);
    }
  }
  return true;
}

// Parses |text| into |tree| (untouched on failure).
bool ParseInto(std::string_view text, XmlTree* tree, std::string* error) {
  try {
    if (!CheckWellFormed(text, error))
      return false;
    std::istringstream in{std::string(text)};
    XmlTree parsed;
    pt::read_xml(in, parsed, pt::xml_parser::trim_whitespace);
    tree->swap(parsed);
    return true;
  } catch (const std::exception& e) {
    *error = e.what();
  } catch (...) {
    *error = "unknown parser failure";
  }
  return false;
}

template <typename T>
int GetList(const XmlTree& tree, const std::string& path, std::vector<T>* out) {
  if (out == nullptr)
    return 0;
  out->clear();
  try {
    if (!IsValidPath(path))
      return 0;
    auto node = tree.get_child_optional(path);
    if (!node)
      return 0;
    for (const auto& [name, child] : *node) {
      if (IsMarkupChild(name))
        continue;
      if (name != kItemKey)
        return 0;
      std::optional<T> value = GetAs<T>(child, kItemValuePath);
      if (!value)
        return 0;
      out->push_back(*value);
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

// Works on a copy of the element so a failure halfway leaves it untouched.
template <typename T>
int SetList(XmlTree* tree, const std::string& path, const std::vector<T>& values) {
  try {
    if (!IsValidPath(path))
      return 0;
    auto node = tree->get_child_optional(path);
    if (!node)
      return 0;
    XmlTree updated = *node;
    for (auto it = updated.begin(); it != updated.end();) {
      it = it->first == kItemKey ? updated.erase(it) : std::next(it);
    }
    for (const T& value : values) {
      XmlTree item;
      PutAs(&item, kItemValuePath, value, false);
      updated.push_back(XmlTree::value_type(kItemKey, std::move(item)));
    }
    node->swap(updated);
    return 1;
  } catch (...) {
    return 0;
  }
}

std::string RandomSuffix() {
  std::random_device device;
  std::ostringstream out;
  out << std::hex << device() << device();
  return out.str();
}

}  // namespace

bool XMLParse::ToAttributePath(const std::string& path, std::string* out) {
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || !IsValidPath(path))
    return false;
  *out = path.substr(0, dot) + "." + kAttrKey + path.substr(dot);
  return true;
}

bool XMLParse::Exists(const std::string& path) const {
  if (!IsValidPath(path))
    return false;
  const XmlTree* node = &tree_;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = path.find('.', start);
    std::string name = path.substr(start, dot == std::string::npos ? dot : dot - start);
    auto it = node->find(name);
    if (it == node->not_found())
      return false;
    node = &it->second;
    if (dot == std::string::npos)
      return true;
    start = dot + 1;
  }
}

std::shared_ptr<IXMLParse> XMLParse::Clone() const {
  try {
    return std::make_shared<XMLParse>(*this);
  } catch (...) {
    return nullptr;
  }
}

int XMLParse::GetFloatList(const std::string& path, std::vector<float>* out) const {
  return GetList(tree_, path, out);
}

int XMLParse::GetIntList(const std::string& path, std::vector<int>* out) const {
  return GetList(tree_, path, out);
}

int XMLParse::GetStringList(const std::string& path, std::vector<std::string>* out) const {
  return GetList(tree_, path, out);
}

int XMLParse::GetFloat(const std::string& path, float* value) const {
  if (value == nullptr)
    return 0;
  float result = kXmlFloatFailed;
  try {
    std::string attr;
    if (ToAttributePath(path, &attr))
      result = GetAs<float>(tree_, attr).value_or(kXmlFloatFailed);
  } catch (...) {
    result = kXmlFloatFailed;
  }
  *value = result;
  return result == kXmlFloatFailed ? 0 : 1;
}

int XMLParse::GetInt(const std::string& path, int* value) const {
  if (value == nullptr)
    return 0;
  int result = kXmlIntFailed;
  try {
    std::string attr;
    if (ToAttributePath(path, &attr))
      result = GetAs<int>(tree_, attr).value_or(kXmlIntFailed);
  } catch (...) {
    result = kXmlIntFailed;
  }
  *value = result;
  return result == kXmlIntFailed ? 0 : 1;
}

int XMLParse::GetString(const std::string& path, std::string* value) const {
  if (value == nullptr)
    return 0;
  try {
    std::string attr;
    if (!ToAttributePath(path, &attr))
      return 0;
    std::optional<std::string> text = GetAs<std::string>(tree_, attr);
    if (!text || *text == kXmlStringFailed)
      return 0;
    *value = std::move(*text);
    return 1;
  } catch (...) {
    return 0;
  }
}

int XMLParse::SetIntList(const std::string& path, const std::vector<int>& values) {
  return SetList(&tree_, path, values);
}

int XMLParse::SetFloatList(const std::string& path, const std::vector<float>& values) {
  return SetList(&tree_, path, values);
}

int XMLParse::SetStringList(const std::string& path, const std::vector<std::string>& values) {
  return SetList(&tree_, path, values);
}

namespace {

template <typename T>
int SetValue(XmlTree* tree, const std::string& path, const T& value) {
  try {
    std::string attr;
    if (!XMLParse::ToAttributePath(path, &attr))
      return 0;
    PutAs(tree, attr, value, false);
    return 1;
  } catch (...) {
    return 0;
  }
}

// Stored in place when |path| exists, so an attribute is never doubled.
template <typename T>
int AddValue(const XMLParse& doc, XmlTree* tree, const std::string& path, const T& value) {
  try {
    if (!IsValidPath(path))
      return 0;
    PutAs(tree, path, value, !doc.Exists(path));
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // namespace

int XMLParse::SetInt(const std::string& path, int value) {
  return SetValue(&tree_, path, value);
}

int XMLParse::SetFloat(const std::string& path, float value) {
  return SetValue(&tree_, path, value);
}

int XMLParse::SetString(const std::string& path, const std::string& value) {
  return SetValue(&tree_, path, value);
}

int XMLParse::CreateIntList(const std::string& path, const std::vector<int>& values) {
  return AddValueString(path, std::string()) == 1 ? SetIntList(path, values) : 0;
}

int XMLParse::CreateFloatList(const std::string& path, const std::vector<float>& values) {
  return AddValueString(path, std::string()) == 1 ? SetFloatList(path, values) : 0;
}

int XMLParse::CreateStringList(const std::string& path, const std::vector<std::string>& values) {
  return AddValueString(path, std::string()) == 1 ? SetStringList(path, values) : 0;
}

int XMLParse::AddInt(const std::string& path, int value) {
  std::string attr;
  return ToAttributePath(path, &attr) ? AddValue(*this, &tree_, attr, value) : 0;
}

int XMLParse::AddFloat(const std::string& path, float value) {
  std::string attr;
  return ToAttributePath(path, &attr) ? AddValue(*this, &tree_, attr, value) : 0;
}

int XMLParse::AddString(const std::string& path, const std::string& value) {
  std::string attr;
  return ToAttributePath(path, &attr) ? AddValue(*this, &tree_, attr, value) : 0;
}

int XMLParse::AddValueInt(const std::string& path, int value) {
  return AddValue(*this, &tree_, path, value);
}

int XMLParse::AddValueFloat(const std::string& path, float value) {
  return AddValue(*this, &tree_, path, value);
}

int XMLParse::AddValueString(const std::string& path, const std::string& value) {
  return AddValue(*this, &tree_, path, value);
}

int XMLParse::RemoveAttribute(const std::string& path) {
  std::string attr;
  return ToAttributePath(path, &attr) ? RemoveNode(attr) : 0;
}

int XMLParse::RemoveNode(const std::string& path) {
  try {
    if (!Exists(path))
      return 1;
    std::size_t dot = path.rfind('.');
    XmlTree& parent = dot == std::string::npos ? tree_ : tree_.get_child(path.substr(0, dot));
    auto it = parent.find(dot == std::string::npos ? path : path.substr(dot + 1));
    if (it != parent.not_found())
      parent.erase(parent.to_iterator(it));
    return 1;
  } catch (...) {
    return 0;
  }
}

int XMLParse::ReadFromString(const char* text, int length) {
  last_error_.clear();
  if (text == nullptr) {
    last_error_ = "no text";
    return 0;
  }
  std::size_t size = 0;
  if (length > 0) {
    const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(length));
    size = nul != nullptr ? static_cast<const char*>(nul) - text : static_cast<std::size_t>(length);
  } else {
    size = std::strlen(text);
  }
  return ParseInto(std::string_view(text, size), &tree_, &last_error_) ? 1 : 0;
}

int XMLParse::ReadFromFile(const std::wstring& path) {
  last_error_.clear();
  try {
    const std::filesystem::path file = ToFsPath(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
      last_error_ = "not a readable file: " + platform::WideToUtf8(path);
      return 0;
    }
    std::ifstream in(file, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
      last_error_ = "cannot read " + platform::WideToUtf8(path);
      return 0;
    }
    // Stops at the first NUL byte, as the text reader does.
    if (!ParseInto(std::string_view(data.c_str()), &tree_, &last_error_))
      return 0;
    file_path_ = path;
    from_file_ = true;
    return 1;
  } catch (const std::exception& e) {
    last_error_ = e.what();
    return 0;
  }
}

int XMLParse::Save() {
  if (file_path_.empty()) {
    last_error_ = "document has no file";
    return kFail;
  }
  return SaveToFile(file_path_);
}

int XMLParse::SaveToFile(const std::wstring& path) {
  last_error_.clear();
  try {
    std::ostringstream out;
    pt::write_xml(out, tree_, pt::xml_writer_make_settings<std::string>('\t', 1, "utf-8"));
    const std::string text = out.str();
    // Never leave a file behind that the next run could not read.
    XmlTree probe;
    std::string why;
    if (!ParseInto(text, &probe, &why)) {
      last_error_ = "document would not read back: " + why;
      return 0;
    }
    if (path.empty()) {
      last_error_ = "no file path";
      return kFail;
    }
    const std::filesystem::path target = ToFsPath(path);
    std::error_code ec;
    if (target.has_parent_path())
      std::filesystem::create_directories(target.parent_path(), ec);
    // Written beside the target and renamed over it: a failed save keeps the
    // previous file whole.
    std::filesystem::path temp = target;
    temp += ".tmp-" + RandomSuffix();
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
      last_error_ = "cannot open " + platform::WideToUtf8(path);
      return kFail;
    }
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (file.fail()) {
      std::filesystem::remove(temp, ec);
      last_error_ = "cannot write " + platform::WideToUtf8(path);
      return 0;
    }
    std::filesystem::rename(temp, target, ec);
    if (ec) {
      std::filesystem::remove(temp, ec);
      last_error_ = "cannot replace " + platform::WideToUtf8(path);
      return kFail;
    }
    return 1;
  } catch (const std::exception& e) {
    last_error_ = e.what();
    return 0;
  }
}

HResult XMLParse::GetItemTable(const std::string& path, const XmlColumnMap& columns, XmlTable* rows,
                               const std::string& key_column) const {
  if (rows == nullptr)
    return kPointer;
  rows->clear();
  if (columns.find(key_column) == columns.end())
    return kInvalidArg;
  try {
    if (!IsValidPath(path))
      return kFail;
    const XmlTree& node = tree_.get_child(path);
    XmlTable table;
    for (const auto& [name, child] : node) {
      if (IsMarkupChild(name))
        continue;
      if (name != kItemKey)
        return kFail;
      XmlRow row;
      for (const auto& [column, attribute] : columns) {
        row[column] = child.get<std::string>(std::string(kAttrKey) + "." + attribute);
      }
      std::string key = row[key_column];
      if (!table.emplace(std::move(key), std::move(row)).second)
        return kFail;
    }
    rows->swap(table);
    return kOk;
  } catch (...) {
    return kFail;
  }
}

HResult XMLParse::SetItemTable(const std::string& path, const XmlColumnMap& columns,
                               const XmlTable& rows) {
  for (const auto& [key, row] : rows) {
    for (const auto& field : row) {
      auto column = columns.find(field.first);
      if (column == columns.end() || !IsValidPath(column->second) ||
          column->second.find('.') != std::string::npos) {
        return kInvalidArg;
      }
    }
  }
  try {
    if (!IsValidPath(path))
      return kFail;
    XmlTree& node = tree_.get_child(path);
    XmlTree updated = node;
    for (auto it = updated.begin(); it != updated.end();) {
      it = it->first == kItemKey ? updated.erase(it) : std::next(it);
    }
    for (const auto& [key, row] : rows) {
      XmlTree item;
      for (const auto& [column, value] : row) {
        item.put(std::string(kAttrKey) + "." + columns.at(column), value);
      }
      updated.push_back(XmlTree::value_type(kItemKey, std::move(item)));
    }
    node.swap(updated);
    return kOk;
  } catch (...) {
    return kFail;
  }
}

HResult CreateXMLParse(std::shared_ptr<IXMLParse>* out) {
  if (out == nullptr)
    return kPointer;
  try {
    *out = std::make_shared<XMLParse>();
    return kOk;
  } catch (...) {
    out->reset();
    return kFail;
  }
}

}  // namespace zel
