#include "support/json_object.h"

#include <cjson/cJSON.h>

#include <mutex>
#include <utility>

namespace zel {
namespace {

constexpr char kNullError[] = "json data is null!";
constexpr char kNotObjectError[] = "not a json object! json array?";
constexpr char kNotArrayError[] = "not a json array! json object?";
constexpr char kParseError[] = "prase json string error at ";

// cJSON records the last parse error in a process-wide variable; reports are
// built on several threads, so parses take turns.
std::mutex g_parse_mutex;

struct TextDeleter {
  void operator()(char* text) const { cJSON_free(text); }
};

std::string Print(const cJSON* item, bool formatted) {
  if (item == nullptr)
    return std::string();
  std::unique_ptr<char, TextDeleter> text(formatted ? cJSON_Print(item)
                                                    : cJSON_PrintUnformatted(item));
  return text ? std::string(text.get()) : std::string();
}

}  // namespace

void CJsonObject::ItemDeleter::operator()(cJSON* item) const {
  cJSON_Delete(item);
}

namespace {

// Parses |text|; on failure |error| names the unparsed rest.
cJSON* Parse(const std::string& text, std::string* error) {
  const char* end = nullptr;
  cJSON* item = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_parse_mutex);
    item = cJSON_ParseWithLengthOpts(text.c_str(), text.size(), &end, 0);
  }
  if (item == nullptr) {
    std::size_t at = text.size();
    if (end != nullptr && end >= text.c_str() && end <= text.c_str() + text.size()) {
      at = static_cast<std::size_t>(end - text.c_str());
    }
    *error = kParseError + text.substr(at);
  }
  return item;
}

}  // namespace

CJsonObject::CJsonObject(const std::string& text) {
  LoadText(text);
}

CJsonObject::CJsonObject(const CJsonObject& other) : error_(other.error_) {
  if (other.root_)
    root_.reset(cJSON_Duplicate(other.root_.get(), 1));
}

CJsonObject& CJsonObject::operator=(const CJsonObject& other) {
  if (this != &other) {
    CJsonObject copy(other);
    *this = std::move(copy);
  }
  return *this;
}

CJsonObject::CJsonObject(CJsonObject&& other) noexcept
    : root_(std::move(other.root_)), error_(std::move(other.error_)) {}

CJsonObject& CJsonObject::operator=(CJsonObject&& other) noexcept {
  if (this != &other) {
    root_ = std::move(other.root_);
    error_ = std::move(other.error_);
  }
  return *this;
}

CJsonObject::~CJsonObject() {
  Reset();
}

bool CJsonObject::LoadText(const std::string& text) {
  Reset();
  error_.clear();
  root_.reset(Parse(text, &error_));
  return root_ != nullptr;
}

void CJsonObject::Reset() {
  root_.reset();
}

CJsonObject::ItemPtr CJsonObject::CopyTree(const CJsonObject& source, std::string* error) {
  return ItemPtr(Parse(Print(source.root_.get(), false), error));
}

bool CJsonObject::AddItem(const std::string& name, ItemPtr item) {
  if (!item)
    return false;
  if (!root_) {
    root_.reset(cJSON_CreateObject());
    if (!root_)
      return false;
  }
  if (!cJSON_IsObject(root_.get())) {
    error_ = kNotObjectError;
    return false;
  }
  if (!cJSON_AddItemToObject(root_.get(), name.c_str(), item.get()))
    return false;
  item.release();  // now owned by the root
  return cJSON_GetObjectItemCaseSensitive(root_.get(), name.c_str()) != nullptr;
}

bool CJsonObject::AddMember(const std::string& name, std::int32_t value) {
  error_.clear();
  return AddItem(name, ItemPtr(cJSON_CreateNumber(value)));
}

bool CJsonObject::AddMember(const std::string& name, const std::string& value) {
  error_.clear();
  return AddItem(name, ItemPtr(cJSON_CreateString(value.c_str())));
}

bool CJsonObject::AddMember(const std::string& name, const char* value) {
  error_.clear();
  if (value == nullptr)
    return false;
  return AddItem(name, ItemPtr(cJSON_CreateString(value)));
}

bool CJsonObject::AddMember(const std::string& name, const CJsonObject& value) {
  error_.clear();
  if (root_ && !cJSON_IsObject(root_.get())) {
    error_ = kNotObjectError;
    return false;
  }
  std::string error;
  ItemPtr copy = CopyTree(value, &error);
  if (!copy) {
    error_ = error;
    return false;
  }
  return AddItem(name, std::move(copy));
}

bool CJsonObject::AppendElement(const CJsonObject& element) {
  error_.clear();
  if (root_ && !cJSON_IsArray(root_.get())) {
    error_ = kNotArrayError;
    return false;
  }
  std::string error;
  ItemPtr copy = CopyTree(element, &error);
  if (!copy) {
    error_ = error;
    return false;
  }
  if (!root_) {
    root_.reset(cJSON_CreateArray());
    if (!root_)
      return false;
  }
  const int before = cJSON_GetArraySize(root_.get());
  if (!cJSON_AddItemToArray(root_.get(), copy.get()))
    return false;
  copy.release();  // now owned by the root
  return cJSON_GetArraySize(root_.get()) > before;
}

const cJSON* CJsonObject::FindMember(const std::string& name) const {
  if (!root_) {
    error_ = kNullError;
    return nullptr;
  }
  if (!cJSON_IsObject(root_.get())) {
    error_ = kNotObjectError;
    return nullptr;
  }
  return cJSON_GetObjectItemCaseSensitive(root_.get(), name.c_str());
}

bool CJsonObject::GetMember(const std::string& name, CJsonObject* out) const {
  error_.clear();
  if (out == nullptr)
    return false;
  const cJSON* member = FindMember(name);
  if (member == nullptr)
    return false;
  // Printed before loading: |out| may be this wrapper.
  const std::string text = Print(member, true);
  return out->LoadText(text);
}

bool CJsonObject::GetBool(const std::string& name, bool* out) const {
  error_.clear();
  if (out == nullptr)
    return false;
  const cJSON* member = FindMember(name);
  if (member == nullptr || !cJSON_IsBool(member))
    return false;
  *out = cJSON_IsTrue(member) != 0;
  return true;
}

std::string CJsonObject::ToCompactText() const {
  if (!root_) {
    error_ = kNullError;
    return std::string();
  }
  error_.clear();
  return Print(root_.get(), false);
}

}  // namespace zel
