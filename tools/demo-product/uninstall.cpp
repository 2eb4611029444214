// uninstall.exe: removes what the installer made for the demo product, from
// the install folder it sits in: the shortcuts, the Uninstall registry entry
// and the folder's files. "/SILENT" skips the question and the report.
//
// It only works on a folder the installer filled: the header copy
// uninstall.exe.bin must be beside it, and it names the product.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/paths.h"
#include "platform/text.h"
#include "profile/package_header.h"
#include "profile/product_info.h"
#include "system/file_util.h"
#include "system/registry.h"
#include "system/shortcuts.h"

namespace {

namespace fs = std::filesystem;

bool IsSilent(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    for (char& c : arg)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (arg.find("/SILENT") != std::string::npos)
      return true;
  }
  return false;
}

bool ReadHeaderCopy(const fs::path& path, zel::PackageHeader* header) {
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(header), sizeof(*header));
  return in.gcount() == static_cast<std::streamsize>(sizeof(*header)) &&
         zel::HeaderTextsTerminated(*header);
}

}  // namespace

int main(int argc, char** argv) {
  const bool silent = IsSilent(argc, argv);
  const fs::path self(zel::platform::WideToUtf8(zel::platform::ModuleFileName()));
  const fs::path folder = self.parent_path();

  zel::PackageHeader header;
  if (!ReadHeaderCopy(folder / "uninstall.exe.bin", &header)) {
    std::fprintf(stderr, "uninstall: %s holds no installation (uninstall.exe.bin is missing)\n",
                 folder.c_str());
    return 1;
  }
  const std::string product = zel::HeaderText(header.product_name);
  const bool x64 = header.is_x64 != 0;
  const std::string menu_name = zel::ProductDisplayName() + (x64 ? " (x64)" : "");

  if (!silent) {
    std::printf("Remove %s from %s? [y/N] ", menu_name.c_str(), folder.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y")) {
      std::printf("Nothing removed.\n");
      return 1;
    }
  }

  // Shortcuts: the desktop launcher and the product's menu folders.
  std::wstring place;
  if (zel::GetShortcutFolder(zel::kShortcutDesktop, &place)) {
    std::error_code ec;
    fs::remove(fs::path(zel::ToNarrow(place)) / (menu_name + ".desktop"), ec);
  }
  for (int kind : {zel::kShortcutPrograms, zel::kShortcutCommonPrograms}) {
    if (zel::GetShortcutFolder(kind, &place)) {
      zel::DeleteTree(zel::PathJoin(place, zel::ToWide(menu_name)));
    }
  }

  // The registry entry, unless it now belongs to an installation elsewhere.
  const std::string key = zel::UninstallKeyName(product, x64);
  std::string location;
  bool ours = !zel::ReadInstallLocation(key, &location) ||
              fs::weakly_canonical(location) == fs::weakly_canonical(folder);
  if (ours)
    zel::DeleteUninstallEntry(key);

  // The files; links inside are removed as links.
  bool removed = zel::DeleteTree(zel::ToWide(folder.string())) && !fs::exists(folder);
  if (!silent) {
    std::printf("%s %s.\n", menu_name.c_str(), removed ? "removed" : "removed in part");
  }
  return removed ? 0 : 1;
}
