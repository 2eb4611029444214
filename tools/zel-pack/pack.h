// Building setup packages and their download configuration documents.
//
// A package is laid out as: a 512-byte executable stub whose 32-bit value at
// offset 32 locates the header, the 7z payload, the uninstaller, and the
// 4096-byte PackageHeader as the last bytes of the file.
#ifndef ZEL_TOOLS_ZEL_PACK_PACK_H_
#define ZEL_TOOLS_ZEL_PACK_PACK_H_

#include <string>
#include <vector>

#include "profile/package_header.h"

namespace zel::pack {

inline constexpr std::size_t kStubSize = 512;
inline constexpr std::size_t kChunkSize = 1048576;

struct BuildOptions {
  std::string files_dir;    // becomes the payload, its content at the top
  std::string uninstaller;  // written out as uninstall.exe by the installer
  std::string out;
  std::string product_name;
  std::string display_name;
  std::string short_name;
  std::string version;
  std::string date;  // YYYY-MM-DD
  std::string web;
  std::string publisher;
  bool x64 = false;
};

// Texts from the product profile, today's date, 32-bit product.
BuildOptions DefaultBuildOptions();

// Checks the texts against their header fields and the date's form; the
// message names the offending option.
bool ValidateOptions(const BuildOptions& options, std::string* error);
// The header for |options| with zero offsets and sizes.
PackageHeader HeaderFor(const BuildOptions& options);

// Packs the content of |dir| into a new 7z archive at |archive_path|.
bool MakeArchive(const std::string& dir, const std::string& archive_path, std::string* error);

// Writes the package file; the header's offsets and sizes are filled in.
// The file appears under |out| only once it is complete.
bool AssemblePackage(const std::string& payload, const std::string& uninstaller,
                     PackageHeader header, const std::string& out, std::string* error);

// MakeArchive + AssemblePackage for |options|.
bool BuildPackage(const BuildOptions& options, std::string* error);

// The download configuration document for the package at |package|: its
// size, the upper-case MD5 of the whole file and of every 1 MiB chunk, and
// |urls| as items.
bool ConfigDocument(const std::string& package, const std::vector<std::string>& urls,
                    std::string* xml, std::string* error);

// Upper-case hex MD5 of |size| bytes at |data|.
std::string Md5Hex(const void* data, std::size_t size);

bool ReadWholeFile(const std::string& path, std::string* out);

}  // namespace zel::pack

#endif  // ZEL_TOOLS_ZEL_PACK_PACK_H_
