// zel-pack: builds setup packages and prints their download configuration.
//
//   zel-pack build --files DIR --uninstaller FILE --out PACKAGE
//                  [--product-name TEXT] [--display-name TEXT] [--version TEXT]
//                  [--date YYYY-MM-DD] [--web URL] [--publisher TEXT] [--x64]
//   zel-pack config PACKAGE URL...
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tools/zel-pack/pack.h"

namespace {

int Usage(const std::string& why) {
  std::fprintf(stderr, "zel-pack: %s\n", why.c_str());
  std::fprintf(stderr,
               "usage: zel-pack build --files DIR --uninstaller FILE --out PACKAGE\n"
               "                      [--product-name TEXT] [--display-name TEXT] "
               "[--version TEXT]\n"
               "                      [--date YYYY-MM-DD] [--web URL] [--publisher TEXT] "
               "[--x64]\n"
               "       zel-pack config PACKAGE URL...\n");
  return 2;
}

int Build(const std::vector<std::string>& args) {
  zel::pack::BuildOptions options = zel::pack::DefaultBuildOptions();
  const std::map<std::string, std::string*> valued = {
      {"--files", &options.files_dir},
      {"--uninstaller", &options.uninstaller},
      {"--out", &options.out},
      {"--product-name", &options.product_name},
      {"--display-name", &options.display_name},
      {"--version", &options.version},
      {"--date", &options.date},
      {"--web", &options.web},
      {"--publisher", &options.publisher},
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--x64") {
      options.x64 = true;
      continue;
    }
    auto it = valued.find(args[i]);
    if (it == valued.end())
      return Usage("unknown option " + args[i]);
    if (i + 1 >= args.size())
      return Usage(args[i] + " needs a value");
    *it->second = args[++i];
  }
  if (options.files_dir.empty() || options.uninstaller.empty() || options.out.empty()) {
    return Usage("build needs --files, --uninstaller and --out");
  }
  std::string error;
  if (!zel::pack::BuildPackage(options, &error)) {
    std::fprintf(stderr, "zel-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int Config(const std::vector<std::string>& args) {
  if (args.size() < 2)
    return Usage("config needs a package and at least one URL");
  std::string xml;
  std::string error;
  std::vector<std::string> urls(args.begin() + 1, args.end());
  if (!zel::pack::ConfigDocument(args[0], urls, &xml, &error)) {
    std::fprintf(stderr, "zel-pack: %s\n", error.c_str());
    return 1;
  }
  std::cout << xml;
  return std::cout.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty())
    return Usage("no command");
  std::string command = args.front();
  args.erase(args.begin());
  if (command == "build")
    return Build(args);
  if (command == "config")
    return Config(args);
  return Usage("unknown command " + command);
}
