#include "tests/system/package_fixture.h"

#include <gtest/gtest.h>

#include <boost/process.hpp>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "system/archive_engine.h"
#include "tests/common/sandbox.h"
#include "tools/zel-pack/pack.h"

namespace zel::test {

namespace fs = std::filesystem;
namespace bp = boost::process;

void WriteTree(const std::string& dir, const std::map<std::string, std::string>& files) {
  fs::create_directories(dir);
  for (const auto& [name, content] : files)
    WriteFile(dir + "/" + name, content);
}

std::string ArchiveOf(const std::string& dir, const std::string& extra_switch) {
  static int counter = 0;
  std::string archive = SandboxPath("archive-" + std::to_string(++counter) + ".7z");
  std::vector<std::string> args = {"a", "-t7z", "-mx=1", "-snl", "-bso0", "-bsp0"};
  if (!extra_switch.empty())
    args.push_back(extra_switch);
  args.push_back("--");
  args.push_back(archive);
  args.push_back(extra_switch == "-spf" ? dir : ".");
  const std::string start = extra_switch == "-spf" ? fs::path(dir).parent_path().string() : dir;
  bp::child child(boost::filesystem::path(FindArchiveProgram()), bp::args(args),
                  bp::start_dir(start), (bp::std_in < bp::null), (bp::std_out > bp::null));
  child.wait();
  EXPECT_EQ(child.exit_code(), 0) << "7-Zip could not pack " << dir;
  std::string bytes = ReadFile(archive);
  fs::remove(archive);
  return bytes;
}

PackageHeader TestHeader(bool x64) {
  pack::BuildOptions options;
  options.product_name = "Telviska";
  options.display_name = "Telviska";
  options.short_name = "Brondel";
  options.version = "1.0.0.7";
  options.date = "2024-05-17";
  options.web = "https://www.zel-installer.invalid/";
  options.publisher = "Zel Developers 2024";
  options.x64 = x64;
  return pack::HeaderFor(options);
}

std::string MakePackage(const std::string& path, const std::string& payload,
                        const std::string& uninstaller, PackageHeader header) {
  std::string error;
  EXPECT_TRUE(pack::AssemblePackage(payload, uninstaller, header, path, &error)) << error;
  return path;
}

std::int32_t MakePayloadLastPackage(const std::string& path, const std::string& payload,
                                    const std::string& uninstaller, PackageHeader header) {
  const auto header_offset = static_cast<std::int32_t>(pack::kStubSize + uninstaller.size());
  header.uninstaller_offset = static_cast<std::int32_t>(pack::kStubSize);
  header.uninstaller_size = static_cast<std::int32_t>(uninstaller.size());
  header.payload_offset = header_offset + static_cast<std::int32_t>(kPackageHeaderSize);
  header.payload_size = static_cast<std::int32_t>(payload.size());
  std::string bytes(pack::kStubSize, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  std::memcpy(bytes.data() + 32, &header_offset, 4);
  bytes += uninstaller;
  bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
  bytes += payload;
  WriteFile(path, bytes);
  return header_offset;
}

void PatchBytes(const std::string& path, long offset, const std::string& bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(offset);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void PatchInt32(const std::string& path, long offset, std::int32_t value) {
  PatchBytes(path, offset, std::string(reinterpret_cast<const char*>(&value), 4));
}

std::string ZelPackTool() {
  return ZEL_PACK_TOOL;
}

}  // namespace zel::test
