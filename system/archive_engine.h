// The 7z archive engine behind package extraction: an entry with the
// argument vector of 7-Zip's console front end ("x", archive, "-o" folder,
// optional "-p" password) that reports progress and errors through two
// notification functions.
//
// It drives 7-Zip's command-line program as a child process, and on top of it
// refuses archives that would write outside the output folder: entries with
// absolute paths, ".." components or paths below a link entry, and links that
// resolve outside the folder. Everything is unpacked into a private staging
// folder inside the output folder first and moved into place only when the
// whole run succeeded, so a failed run adds nothing to the output folder.
#ifndef ZEL_SYSTEM_ARCHIVE_ENGINE_H_
#define ZEL_SYSTEM_ARCHIVE_ENGINE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

using ArchiveErrorFn = void (*)(void* context, int code);
using ArchiveProgressFn = void (*)(void* context, std::uint32_t low, std::uint32_t high);

// Codes given to the error function.
inline constexpr int kEngineFatalError = 2;
inline constexpr int kEngineOutOfMemory = 8;
inline constexpr int kEngineStopped = 255;  // break, abort or rejected command line
inline constexpr int kEngineNeedPassword = 260;
inline constexpr int kEngineDataError = 261;      // once per damaged item
inline constexpr int kEngineArchiveErrors = 262;  // at the end, when an archive had errors
// Raised by the extractor around the engine, never by the engine.
inline constexpr int kEngineExtractorFailed = 263;

// Exit codes, as 7-Zip's own.
inline constexpr int kEngineExitOk = 0;
inline constexpr int kEngineExitWarning = 1;
inline constexpr int kEngineExitFatal = 2;
inline constexpr int kEngineExitCommandLine = 7;
inline constexpr int kEngineExitMemory = 8;
inline constexpr int kEngineExitStopped = 255;

// argv: [0] program path (unused), [1] "x", [2] archive, [3] "-o" + folder,
// [4] optional "-p" + password. The context and both functions are kept in
// process-wide variables until the next call; calls are serialised, so a
// second caller waits for the first extraction to end. Either function may
// be null.
int ArchiveEngineMain(int argc, const char* const argv[], void* context, ArchiveErrorFn error_fn,
                      ArchiveProgressFn progress_fn);

// The value handed to the progress function: percent when |total| is
// known, MiB processed when it is unknown (all bits set), 0 for a total of 0.
std::uint64_t EngineProgressValue(std::uint64_t completed, std::uint64_t total);
inline constexpr std::uint64_t kEngineUnknownTotal = ~std::uint64_t{0};

// One entry of 7-Zip's technical listing ("l -slt").
struct ArchiveEntry {
  std::string path;
  std::uint64_t size = 0;
  bool is_dir = false;
  bool is_link = false;
  bool encrypted = false;
};

// Parses the entries after the listing's "----------" line.
std::vector<ArchiveEntry> ParseTechnicalListing(std::string_view listing);

// Why these entries may not be extracted ("absolute path: /etc/x"), or
// empty when every entry stays inside the output folder.
std::string UnsafeEntryReason(const std::vector<ArchiveEntry>& entries);

// The path of 7-Zip's command-line program (7zz, 7z or 7za on the search
// path), or empty when there is none.
std::string FindArchiveProgram();

}  // namespace zel

#endif  // ZEL_SYSTEM_ARCHIVE_ENGINE_H_
