// A value-style JSON document over cJSON: built member by member, printed
// compactly, and read back from a server's answer. Failures return false (or
// empty text) and leave the reason in LastError(); nothing throws.
#ifndef ZEL_SUPPORT_JSON_OBJECT_H_
#define ZEL_SUPPORT_JSON_OBJECT_H_

#include <cstdint>
#include <memory>
#include <string>

struct cJSON;

namespace zel {

class CJsonObject {
 public:
  CJsonObject() = default;
  // As LoadText.
  explicit CJsonObject(const std::string& text);
  // Copies are deep: each wrapper owns its own tree.
  CJsonObject(const CJsonObject& other);
  CJsonObject& operator=(const CJsonObject& other);
  CJsonObject(CJsonObject&& other) noexcept;
  CJsonObject& operator=(CJsonObject&& other) noexcept;
  virtual ~CJsonObject();

  // Reset, then parse |text| into a new root. On failure the error becomes
  // "prase json string error at " plus the unparsed rest.
  bool LoadText(const std::string& text);
  void Reset();
  bool IsNull() const { return root_ == nullptr; }

  // With no root an empty object is made first; the root must be an object.
  // Members are appended in call order, duplicates included. True when a
  // member of that name can be found afterwards.
  bool AddMember(const std::string& name, std::int32_t value);
  bool AddMember(const std::string& name, const std::string& value);
  // A null |value| adds nothing and fails.
  bool AddMember(const std::string& name, const char* value);
  // Appends a copy of |value|; an empty wrapper fails as unparsable text.
  bool AddMember(const std::string& name, const CJsonObject& value);

  // With no root an empty array is made first; the root must be an array.
  // Appends a copy of |element|.
  bool AppendElement(const CJsonObject& element);

  // Loads a copy of member |name| into |out| (which may be this wrapper).
  bool GetMember(const std::string& name, CJsonObject* out) const;
  // True only when member |name| is the literal true or false.
  bool GetBool(const std::string& name, bool* out) const;

  // The root without any whitespace; empty when there is no root.
  std::string ToCompactText() const;

  // Reason of the last failed operation; empty after a success.
  const std::string& LastError() const { return error_; }

 private:
  struct ItemDeleter {
    void operator()(cJSON* item) const;
  };
  using ItemPtr = std::unique_ptr<cJSON, ItemDeleter>;

  // The source's root printed compactly and parsed again into a fresh tree;
  // null (with the parse error in |error|) when that fails.
  static ItemPtr CopyTree(const CJsonObject& source, std::string* error);
  // Appends |item| under |name| to the object root, creating the root.
  bool AddItem(const std::string& name, ItemPtr item);
  // The member |name| of the object root; null when missing, with error_
  // set when there is no object root to look in.
  const cJSON* FindMember(const std::string& name) const;

  ItemPtr root_;
  mutable std::string error_;
};

}  // namespace zel

#endif  // ZEL_SUPPORT_JSON_OBJECT_H_
