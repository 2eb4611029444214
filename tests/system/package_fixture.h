// Packages made on the fly for the extraction tests.
#ifndef ZEL_TESTS_SYSTEM_PACKAGE_FIXTURE_H_
#define ZEL_TESTS_SYSTEM_PACKAGE_FIXTURE_H_

#include <cstdint>
#include <map>
#include <string>

#include "profile/package_header.h"

namespace zel::test {

// Writes |files| (relative path -> content) below |dir|.
void WriteTree(const std::string& dir, const std::map<std::string, std::string>& files);

// A 7z archive of |dir|'s content (links stored as links), as bytes.
std::string ArchiveOf(const std::string& dir, const std::string& extra_switch = "");

// A header named like the demo product.
PackageHeader TestHeader(bool x64 = true);

// zel-pack's layout: stub, payload, uninstaller, header at the very end.
std::string MakePackage(const std::string& path, const std::string& payload,
                        const std::string& uninstaller, PackageHeader header = TestHeader());

// Payload last: stub, uninstaller, header, payload ending at the last byte.
// Returns the header offset.
std::int32_t MakePayloadLastPackage(const std::string& path, const std::string& payload,
                                    const std::string& uninstaller,
                                    PackageHeader header = TestHeader());

// Overwrites 4 bytes at |offset| of the file.
void PatchInt32(const std::string& path, long offset, std::int32_t value);
void PatchBytes(const std::string& path, long offset, const std::string& bytes);

// The zel-pack program built with the tests.
std::string ZelPackTool();

}  // namespace zel::test

#endif  // ZEL_TESTS_SYSTEM_PACKAGE_FIXTURE_H_
