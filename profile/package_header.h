// The setup package's 4096-byte header, the marker-stamped parameter records
// kept in the installer's own data, and the installer's version label.
//
// A package is an executable whose 32-bit little-endian value at file offset
// 32 is the file offset of its PackageHeader; the header locates the 7z
// payload and the uninstaller inside the same file and names the product.
#ifndef ZEL_PROFILE_PACKAGE_HEADER_H_
#define ZEL_PROFILE_PACKAGE_HEADER_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shell/language.h"
#include "support/hresult.h"

namespace zel {

inline constexpr std::size_t kPackageHeaderSize = 4096;
// File offset of the header's own offset inside the package.
inline constexpr long kPackageHeaderOffsetPos = 32;
// Stamped at the front of every record this program creates; never compared.
inline constexpr char kParameterMarker[8] = {'B', 'e', 'x', 'o', 'r', 'l', 'i', 'n'};

// The on-disk layout, byte for byte. Texts are narrow and zero-terminated
// within their field (a package from outside may break that: see
// HeaderTextsTerminated).
struct PackageHeader {
  char marker[8];
  std::int32_t uninstaller_offset;
  std::int32_t uninstaller_size;
  std::int32_t payload_offset;
  std::int32_t payload_size;
  char reserved1[81];
  char product_name[64];  // uninstall key and program-folder name
  char display_name[64];
  char version[32];
  char short_name[16];
  char release_date[16];  // "YYYY-MM-DD": year 0-3, month 5-6, day 8-9
  char web_address[128];
  char publisher[67];
  std::int32_t is_x64;  // non-zero: 64-bit product
  char reserved2[3600];
};

static_assert(std::endian::native == std::endian::little,
              "the header is read and written as little-endian memory");
static_assert(sizeof(PackageHeader) == kPackageHeaderSize);
static_assert(offsetof(PackageHeader, uninstaller_offset) == 8);
static_assert(offsetof(PackageHeader, payload_size) == 20);
static_assert(offsetof(PackageHeader, product_name) == 105);
static_assert(offsetof(PackageHeader, display_name) == 169);
static_assert(offsetof(PackageHeader, version) == 233);
static_assert(offsetof(PackageHeader, short_name) == 265);
static_assert(offsetof(PackageHeader, release_date) == 281);
static_assert(offsetof(PackageHeader, web_address) == 297);
static_assert(offsetof(PackageHeader, publisher) == 425);
static_assert(offsetof(PackageHeader, is_x64) == 492);

// 4096 zero bytes with the marker (from the header template) at offset 0.
PackageHeader NewPackageHeader();

// Reads the header of the package at |path| into |out|. kPointer when either
// is null; kFail when the file cannot be opened, is too short to hold the
// offset, or the offset is negative or leaves fewer than 4096 bytes. |out| is
// changed only on success.
HResult ReadPackageHeader(const wchar_t* path, PackageHeader* out);
// Writes the 4096 header bytes to |path| from offset 0 (missing folders are
// created). kPointer for a null path, kFail when the file cannot be written.
HResult WritePackageHeader(const wchar_t* path, const PackageHeader& header);

// The text of a header field, up to its terminator or the field's end.
template <std::size_t N>
std::string HeaderText(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0')
    ++n;
  return std::string(field, n);
}
// Copies at most N - 1 bytes of |text| into |field| and terminates it; the
// rest of the field is zeroed.
template <std::size_t N>
void SetHeaderText(char (&field)[N], std::string_view text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  for (std::size_t i = 0; i < N; ++i)
    field[i] = i < n ? text[i] : '\0';
}

// Name of the first text field that has no terminator inside it, or null
// when every one has.
const char* UnterminatedHeaderText(const PackageHeader& header);
inline bool HeaderTextsTerminated(const PackageHeader& header) {
  return UnterminatedHeaderText(header) == nullptr;
}

// ---- Marker-stamped records in the installer's data ----
//
// Each record starts with kParameterMarker so that an outside tool can find
// and patch it in the executable; the program reads only what follows.

struct ChoiceFlagsRecord {
  char marker[8];
  std::uint8_t create_desktop;  // the desktop-shortcut box, 0/1
  std::uint8_t add_plan;        // the "Join" box, 0/1
};

// The process-wide record, 1, 1 at start.
ChoiceFlagsRecord& ChoiceFlags();

struct HeaderTemplateRecord {
  char marker[8];
};
const HeaderTemplateRecord& HeaderTemplate();

// One record per language: widths in pixels, indices as GetLayoutWidth uses
// them (5 is unused and 180 everywhere).
inline constexpr int kLayoutWidthCount = 6;
inline constexpr int kLayoutRecordCount = 16;

enum LayoutRecordIndex : int {
  kLayoutSpanish = 0,  // also Catalan
  kLayoutChineseSimplified,
  kLayoutChineseTraditional,
  kLayoutCzech,
  kLayoutGerman,
  kLayoutFrench,
  kLayoutHungarian,
  kLayoutItalian,
  kLayoutJapanese,
  kLayoutDutch,
  kLayoutNorwegian,
  kLayoutPolish,
  kLayoutPortuguese,
  kLayoutRussian,
  kLayoutSwedish,
  kLayoutEnglish,
};

// The record itself belongs to the language selection, which reads it.
using LanguageLayoutRecord = LanguageLayoutRecords;
static_assert(kLayoutRecordCount == kLanguageCount && kLayoutWidthCount == kLanguageWidthCount);
const LanguageLayoutRecord& LanguageLayoutTable();
// The widths of one language; null for an index outside the table.
const std::int32_t* LanguageLayoutWidths(int record);

// ---- Installer version label (resources 503 and 504, type "txt") ----

inline constexpr int kVersionLabelResource32 = 503;
inline constexpr int kVersionLabelResource64 = 504;

struct InstallerVersionLabel {
  std::string text;        // unchanged narrow label; the statistics send it
  std::wstring display;    // with every "official" replaced; empty when the
                           // label is 5 characters or shorter
  std::string file_infix;  // "(" + first 8 characters + ")", or empty
};

// Loads resource 504 (64-bit build) or 503 as narrow text. False when the
// resource is missing or empty: the caller switches to its error state.
// |official| is the localized word that replaces "official" in the display
// form.
bool LoadInstallerVersionLabel(bool is64bit, const std::wstring& official,
                               InstallerVersionLabel* out);

}  // namespace zel

#endif  // ZEL_PROFILE_PACKAGE_HEADER_H_
