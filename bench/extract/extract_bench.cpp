// extract_bench [MiB]: installs a package whose product files add up to MiB
// (200 by default) with InstallFromPackage, and extracts the same archive
// with 7-Zip directly, alternating, five rounds each. Prints the median
// times and their ratio (goal: at most 1.10).
#include <stdlib.h>

#include <algorithm>
#include <boost/process.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "system/archive_engine.h"
#include "system/file_util.h"
#include "system/package_extract.h"
#include "tools/zel-pack/pack.h"

namespace {

namespace bp = boost::process;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Product-like files: half of them compress like code and text, half not
// at all.
void MakeFiles(const fs::path& dir, std::size_t mib) {
  fs::create_directories(dir / "bin");
  std::mt19937_64 random(42);
  const std::size_t file_size = 8u << 20;
  std::string block(file_size, '\0');
  const char* words[] = {"install ", "package ", "mirror ", "0x7ffe ", "return ",
                         "struct ",  "const ",   "buffer ", "\n",      "{ }; "};
  for (std::size_t i = 0, made = 0; made < (mib << 20); ++i, made += file_size) {
    if (i % 2 == 0) {
      for (std::size_t j = 0; j < file_size; j += 8) {
        std::uint64_t v = random();
        std::memcpy(block.data() + j, &v, 8);
      }
    } else {
      std::size_t j = 0;
      while (j < file_size) {
        const char* w = words[random() % 10];
        for (; *w != '\0' && j < file_size; ++w)
          block[j++] = *w;
      }
    }
    std::ofstream(dir / "bin" / ("part" + std::to_string(i) + ".dat"), std::ios::binary)
        .write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  std::ofstream(dir / "Brondex.exe") << "main program";
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atol(argv[1])) : 200;
  std::string base_text = (fs::temp_directory_path() / "zel-extract-bench-XXXXXX").string();
  if (::mkdtemp(base_text.data()) == nullptr)
    return 1;
  const fs::path base = base_text;
  ::setenv("TMPDIR", base.c_str(), 1);  // the engine's temporary archive too

  std::printf("extract_bench: making %zu MiB of product files...\n", mib);
  MakeFiles(base / "files", mib);
  zel::pack::BuildOptions options = zel::pack::DefaultBuildOptions();
  options.files_dir = (base / "files").string();
  options.out = (base / "setup.exe").string();
  std::string error;
  std::string payload;
  // One archive for both sides: the package carries exactly payload.7z.
  bool ok = zel::pack::MakeArchive(options.files_dir, (base / "payload.7z").string(), &error) &&
            zel::pack::ReadWholeFile((base / "payload.7z").string(), &payload) &&
            zel::pack::AssemblePackage(payload, "uninstaller", zel::pack::HeaderFor(options),
                                       options.out, &error);
  std::string().swap(payload);
  if (!ok) {
    std::fprintf(stderr, "extract_bench: %s\n", error.c_str());
    return 1;
  }
  std::printf("extract_bench: archive %.1f MiB, package %.1f MiB\n",
              static_cast<double>(fs::file_size(base / "payload.7z")) / 1048576.0,
              static_cast<double>(fs::file_size(base / "setup.exe")) / 1048576.0);

  const std::string program = zel::FindArchiveProgram();
  std::vector<double> direct;
  std::vector<double> ours;
  for (int round = 0; round < 5; ++round) {
    fs::path out = base / "direct";
    Clock::time_point start = Clock::now();
    bp::child child(boost::filesystem::path(program),
                    bp::args({"x", "-y", "-bso0", "-bsp0", "-o" + out.string(), "--",
                              (base / "payload.7z").string()}),
                    (bp::std_in < bp::null), (bp::std_out > bp::null));
    child.wait();
    direct.push_back(Seconds(start));
    if (child.exit_code() != 0)
      return 1;
    fs::remove_all(out);

    out = base / "ours";
    zel::ProgressSink sink = [](int, int, int) { return 1; };
    start = Clock::now();
    zel::HResult hr = zel::InstallFromPackage(zel::ToWide(options.out).c_str(), sink,
                                              zel::ToWide(out.string()).c_str(), true, true);
    ours.push_back(Seconds(start));
    if (hr != zel::kOk) {
      std::fprintf(stderr, "extract_bench: install failed (%s)\n",
                   zel::GetInstallErrorName().c_str());
      return 1;
    }
    fs::remove_all(out);
    std::printf("extract_bench: round %d: 7zz x %.3f s, InstallFromPackage %.3f s\n", round + 1,
                direct.back(), ours.back());
  }
  const double ratio = Median(ours) / Median(direct);
  std::printf(
      "extract_bench: median 7zz x %.3f s, InstallFromPackage %.3f s, ratio %.3f (goal <= 1.10)\n",
      Median(direct), Median(ours), ratio);
  fs::remove_all(base);
  return 0;
}
