#include "profile/package_header.h"

#include <cstring>

#include "system/file_util.h"

namespace zel {
namespace {

// Initialised data, so that each record sits in the executable image with
// its marker in front and an outside tool can patch the values.
ChoiceFlagsRecord g_choice_flags = {{'B', 'e', 'x', 'o', 'r', 'l', 'i', 'n'}, 1, 1};

const HeaderTemplateRecord g_header_template = {{'B', 'e', 'x', 'o', 'r', 'l', 'i', 'n'}};

template <std::size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

}  // namespace

PackageHeader NewPackageHeader() {
  PackageHeader header;
  std::memset(&header, 0, sizeof(header));
  std::memcpy(header.marker, HeaderTemplate().marker, sizeof(header.marker));
  return header;
}

HResult ReadPackageHeader(const wchar_t* path, PackageHeader* out) {
  if (path == nullptr || out == nullptr)
    return kPointer;
  JFile file;
  if (!file.Open(path, JFile::kRead | JFile::kBinary))
    return kFail;
  // 64-bit arithmetic: the offset is untrusted and may be anywhere in
  // the int32 range.
  const std::int64_t length = file.Length();
  std::int32_t offset = -1;
  bool ok =
      length >= kPackageHeaderOffsetPos + 4 && file.Seek(kPackageHeaderOffsetPos, SEEK_SET) == 0 &&
      file.Read(&offset, sizeof(offset)) == static_cast<long>(sizeof(offset)) && offset >= 0 &&
      static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(kPackageHeaderSize) <= length;
  PackageHeader header;
  ok = ok && file.Seek(offset, SEEK_SET) == 0 &&
       file.Read(&header, sizeof(header)) == static_cast<long>(sizeof(header));
  file.Close();
  if (!ok)
    return kFail;
  *out = header;
  return kOk;
}

HResult WritePackageHeader(const wchar_t* path, const PackageHeader& header) {
  if (path == nullptr)
    return kPointer;
  JFile file;
  if (!file.Open(path, JFile::kWrite | JFile::kBinary))
    return kFail;
  bool ok = file.Write(&header, sizeof(header)) == static_cast<long>(sizeof(header));
  file.Close();
  return ok ? kOk : kFail;
}

const char* UnterminatedHeaderText(const PackageHeader& header) {
  if (!Terminated(header.product_name))
    return "product name";
  if (!Terminated(header.display_name))
    return "display name";
  if (!Terminated(header.version))
    return "version";
  if (!Terminated(header.short_name))
    return "short name";
  if (!Terminated(header.release_date))
    return "release date";
  if (!Terminated(header.web_address))
    return "web address";
  if (!Terminated(header.publisher))
    return "publisher";
  return nullptr;
}

ChoiceFlagsRecord& ChoiceFlags() {
  return g_choice_flags;
}

const HeaderTemplateRecord& HeaderTemplate() {
  return g_header_template;
}

const LanguageLayoutRecord& LanguageLayoutTable() {
  return LanguageLayoutRecordTable();
}

const std::int32_t* LanguageLayoutWidths(int record) {
  if (record < 0 || record >= kLayoutRecordCount)
    return nullptr;
  return LanguageLayoutRecordTable().widths[record];
}

bool LoadInstallerVersionLabel(bool is64bit, const std::wstring& official,
                               InstallerVersionLabel* out) {
  if (out == nullptr)
    return false;
  std::string text;
  if (!LoadResourceText(is64bit ? kVersionLabelResource64 : kVersionLabelResource32, "txt",
                        &text) ||
      text.empty()) {
    return false;
  }
  InstallerVersionLabel label;
  label.text = text;
  if (text.size() > 5)
    label.display = ReplaceAll(ToWide(text), L"official", official);
  if (text.size() > 8) {
    // Piece by piece: "(" + substr + ")" trips GCC 12's -Wrestrict at -O3.
    label.file_infix += '(';
    label.file_infix.append(text, 0, 8);
    label.file_infix += ')';
  }
  *out = std::move(label);
  return true;
}

}  // namespace zel
