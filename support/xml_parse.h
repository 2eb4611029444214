// XML documents over Boost.PropertyTree. Values live in attributes addressed
// by dotted paths; lists and tables are runs of <item> children.
//
// Value paths: the last component names an attribute, so "download.url.size"
// is the attribute size of <url> inside <download>. A value path without a
// "." names no attribute and every value operation on it fails.
//
// Int results are 1 for success and 0 for failure unless noted. No exception
// leaves this layer.
#ifndef ZEL_SUPPORT_XML_PARSE_H_
#define ZEL_SUPPORT_XML_PARSE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "support/hresult.h"

namespace zel {

using XmlTree = boost::property_tree::ptree;

// Table operations: column name -> attribute name on each <item> row.
using XmlColumnMap = std::map<std::string, std::string>;
// One row: column name -> value.
using XmlRow = std::map<std::string, std::string>;
// Rows, keyed by the value of the key column.
using XmlTable = std::map<std::string, XmlRow>;

// Getters signal a missing or unconvertible attribute with these values.
inline constexpr int kXmlIntFailed = -9999999;
inline constexpr float kXmlFloatFailed = -99999.9f;
inline constexpr char kXmlStringFailed[] = "{__see_it_is_read_string_failed_}";

// Deeper documents are refused before parsing: the reader recurses per level.
inline constexpr int kXmlMaxDepth = 256;

class IXMLParse {
 public:
  virtual ~IXMLParse() = default;

  // Copy of the tree, the file path and the from-file flag; null when the
  // copy could not be made.
  virtual std::shared_ptr<IXMLParse> Clone() const = 0;

  // Clear |out|, then append the key attribute of each <item> child of the
  // element at |path|. 0 when the element is missing, or at the first child
  // that is not an <item> or whose key does not convert (|out| keeps the
  // values read before it).
  virtual int GetFloatList(const std::string& path, std::vector<float>* out) const = 0;
  virtual int GetIntList(const std::string& path, std::vector<int>* out) const = 0;
  virtual int GetStringList(const std::string& path, std::vector<std::string>* out) const = 0;

  // Writes the value, or kXmlFloatFailed when missing or unconvertible; fails
  // when the value written equals kXmlFloatFailed.
  virtual int GetFloat(const std::string& path, float* value) const = 0;
  // Writes the value, or kXmlIntFailed when missing or unconvertible; fails
  // when the value written equals kXmlIntFailed.
  virtual int GetInt(const std::string& path, int* value) const = 0;
  // Writes the text on success; on failure (missing, or the text equals
  // kXmlStringFailed) |value| is left as it was.
  virtual int GetString(const std::string& path, std::string* value) const = 0;

  // Replace every <item> child of the existing element at |path| with one
  // <item key="..."> per value, in order.
  virtual int SetIntList(const std::string& path, const std::vector<int>& values) = 0;
  virtual int SetFloatList(const std::string& path, const std::vector<float>& values) = 0;
  virtual int SetStringList(const std::string& path, const std::vector<std::string>& values) = 0;

  // Store the attribute, creating it and any missing elements on the way.
  virtual int SetInt(const std::string& path, int value) = 0;
  virtual int SetFloat(const std::string& path, float value) = 0;
  virtual int SetString(const std::string& path, const std::string& value) = 0;

  // Make sure the element at |path| exists (as AddValueString with empty
  // text), then the matching Set*List.
  virtual int CreateIntList(const std::string& path, const std::vector<int>& values) = 0;
  virtual int CreateFloatList(const std::string& path, const std::vector<float>& values) = 0;
  virtual int CreateStringList(const std::string& path, const std::vector<std::string>& values) = 0;

  // The attribute ends up holding the value: stored in place when it
  // exists, added otherwise.
  virtual int AddInt(const std::string& path, int value) = 0;
  virtual int AddFloat(const std::string& path, float value) = 0;
  virtual int AddString(const std::string& path, const std::string& value) = 0;

  // The element at |path| (no attribute conversion) ends up holding the
  // value as its text: stored in place when it exists, added otherwise.
  virtual int AddValueInt(const std::string& path, int value) = 0;
  virtual int AddValueFloat(const std::string& path, float value) = 0;
  virtual int AddValueString(const std::string& path, const std::string& value) = 0;

  // RemoveNode of the attribute named by the value path.
  virtual int RemoveAttribute(const std::string& path) = 0;
  // Removes the first node named by |path|; succeeds when there is none.
  virtual int RemoveNode(const std::string& path) = 0;

  // Parses the text up to its first NUL byte, and never past |length| bytes
  // when |length| is positive. A text that is not well formed (or nests
  // deeper than kXmlMaxDepth) gives 0 and leaves the tree as it was.
  virtual int ReadFromString(const char* text, int length) = 0;
  // Reads the whole file and parses it as ReadFromString; on success
  // remembers |path| and sets the from-file flag.
  virtual int ReadFromFile(const std::wstring& path) = 0;
  virtual bool IsFromFile() const = 0;

  // SaveToFile with the path of the last successful ReadFromFile.
  virtual int Save() = 0;
  // Writes the document as UTF-8 with a tab indent. 1 when written, kFail
  // when the file cannot be opened or replaced, 0 on other failures (a tree
  // that would not read back, a failed write). The file is replaced as a
  // whole: a failed save leaves the previous file untouched.
  virtual int SaveToFile(const std::wstring& path) = 0;

  // The tree itself, for direct access.
  virtual XmlTree& GetTree() = 0;
  virtual const XmlTree& GetTree() const = 0;

  // Empties |rows|, then reads one row per <item> child of the element at
  // |path|: each column's value comes from the attribute |columns| names,
  // and the row is filed under its |key_column| value. kOk on success;
  // kPointer when |rows| is null; kInvalidArg when |key_column| is not a
  // column; kFail when the element is missing, a row lacks an attribute, a
  // child is not an <item> or two rows share a key (|rows| is then left
  // empty).
  virtual HResult GetItemTable(const std::string& path, const XmlColumnMap& columns, XmlTable* rows,
                               const std::string& key_column) const = 0;
  // Replaces every <item> child of the element at |path| with one <item> per
  // row, one attribute per field. kOk on success; kInvalidArg when a field's
  // column is not in |columns| (nothing is changed); kFail when the element
  // is missing.
  virtual HResult SetItemTable(const std::string& path, const XmlColumnMap& columns,
                               const XmlTable& rows) = 0;

  // Why the last failing read or save failed (parser message with line),
  // for the caller's log; empty after a success.
  virtual std::string LastError() const = 0;
};

class XMLParse : public IXMLParse {
 public:
  XMLParse() = default;
  XMLParse(const XMLParse&) = default;
  XMLParse& operator=(const XMLParse&) = default;
  ~XMLParse() override = default;

  std::shared_ptr<IXMLParse> Clone() const override;

  int GetFloatList(const std::string& path, std::vector<float>* out) const override;
  int GetIntList(const std::string& path, std::vector<int>* out) const override;
  int GetStringList(const std::string& path, std::vector<std::string>* out) const override;
  int GetFloat(const std::string& path, float* value) const override;
  int GetInt(const std::string& path, int* value) const override;
  int GetString(const std::string& path, std::string* value) const override;

  int SetIntList(const std::string& path, const std::vector<int>& values) override;
  int SetFloatList(const std::string& path, const std::vector<float>& values) override;
  int SetStringList(const std::string& path, const std::vector<std::string>& values) override;
  int SetInt(const std::string& path, int value) override;
  int SetFloat(const std::string& path, float value) override;
  int SetString(const std::string& path, const std::string& value) override;

  int CreateIntList(const std::string& path, const std::vector<int>& values) override;
  int CreateFloatList(const std::string& path, const std::vector<float>& values) override;
  int CreateStringList(const std::string& path, const std::vector<std::string>& values) override;

  int AddInt(const std::string& path, int value) override;
  int AddFloat(const std::string& path, float value) override;
  int AddString(const std::string& path, const std::string& value) override;
  int AddValueInt(const std::string& path, int value) override;
  int AddValueFloat(const std::string& path, float value) override;
  int AddValueString(const std::string& path, const std::string& value) override;

  int RemoveAttribute(const std::string& path) override;
  int RemoveNode(const std::string& path) override;

  int ReadFromString(const char* text, int length) override;
  int ReadFromFile(const std::wstring& path) override;
  bool IsFromFile() const override { return from_file_; }
  int Save() override;
  int SaveToFile(const std::wstring& path) override;

  XmlTree& GetTree() override { return tree_; }
  const XmlTree& GetTree() const override { return tree_; }

  HResult GetItemTable(const std::string& path, const XmlColumnMap& columns, XmlTable* rows,
                       const std::string& key_column) const override;
  HResult SetItemTable(const std::string& path, const XmlColumnMap& columns,
                       const XmlTable& rows) override;

  std::string LastError() const override { return last_error_; }

  // True when every component of |path| names a child of the node reached
  // so far, starting at the root (first match per component).
  bool Exists(const std::string& path) const;

  // "a.b.c" -> "a.b.<xmlattr>.c"; false when |path| has no ".".
  static bool ToAttributePath(const std::string& path, std::string* out);

 private:
  XmlTree tree_;
  std::wstring file_path_;
  bool from_file_ = false;
  std::string last_error_;
};

// Allocates a fresh document: kOk, kPointer when |out| is null, kFail when
// the object could not be made (|out| is then reset).
HResult CreateXMLParse(std::shared_ptr<IXMLParse>* out);

}  // namespace zel

#endif  // ZEL_SUPPORT_XML_PARSE_H_
