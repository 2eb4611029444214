#include "system/archive_engine.h"

#include <algorithm>
#include <boost/process.hpp>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>

#include "platform/paths.h"
#include "platform/text.h"
#include "shell/log.h"

namespace zel {
namespace {

namespace bp = boost::process;
namespace fs = std::filesystem;

// The engine's notification targets, as the last call left them.
std::mutex g_engine_lock;  // one extraction at a time
void* g_context = nullptr;
ArchiveErrorFn g_error_fn = nullptr;
ArchiveProgressFn g_progress_fn = nullptr;

void ReportError(int code) {
  if (g_error_fn != nullptr)
    g_error_fn(g_context, code);
}

void ReportProgress(std::uint64_t value) {
  if (value != 0 && g_progress_fn != nullptr) {
    g_progress_fn(g_context, static_cast<std::uint32_t>(value),
                  static_cast<std::uint32_t>(value >> 32));
  }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// Leading decimal digits of |text| and what follows them.
std::optional<std::uint64_t> LeadingNumber(std::string_view text, std::string_view* rest) {
  std::uint64_t value = 0;
  std::size_t i = 0;
  while (i < text.size() && i < 19 && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    ++i;
  }
  if (i == 0)
    return std::nullopt;
  if (rest != nullptr)
    *rest = text.substr(i);
  return value;
}

// The count after "label: " in a summary line, 0 when absent.
std::uint64_t SummaryCount(std::string_view line, std::string_view label) {
  std::size_t at = line.find(label);
  if (at == std::string_view::npos)
    return 0;
  std::optional<std::uint64_t> n = LeadingNumber(Trim(line.substr(at + label.size())), nullptr);
  return n.value_or(0);
}

struct ChildResult {
  bool started = false;
  int exit_code = kEngineExitFatal;
};

// Runs |program| with |args| (standard input closed, standard output and
// error on one pipe) and hands each chunk of output to |on_output|.
template <typename OnOutput>
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     OnOutput on_output) {
  ChildResult result;
  std::error_code ec;
  bp::pipe out;
  bp::child child(boost::filesystem::path(program), bp::args(args), (bp::std_in < bp::null),
                  ((bp::std_out & bp::std_err) > out), ec);
  if (ec) {
    WriteLog("ArchiveEngine: cannot start %s: %s.", program.c_str(), ec.message().c_str());
    return result;
  }
  result.started = true;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    int n = out.read(buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0)
      break;
    on_output(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  child.wait(ec);
  result.exit_code = ec ? kEngineExitFatal : child.exit_code();
  return result;
}

// Splits 7-Zip's console stream into pieces at line ends and at the
// backspaces its progress display rewinds with.
class ConsoleParser {
 public:
  void Feed(std::string_view chunk) {
    for (char c : chunk) {
      if (c == '\n' || c == '\r' || c == '\b') {
        Piece();
      } else if (piece_.size() < 4096) {
        piece_ += c;
      }
    }
  }
  void Finish() { Piece(); }

  int data_errors() const { return data_errors_; }
  std::uint64_t archive_errors() const { return archive_errors_; }
  std::uint64_t last_progress() const { return last_progress_; }
  void set_last_progress(std::uint64_t value) { last_progress_ = value; }
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  void Piece() {
    std::string_view piece = Trim(piece_);
    if (!piece.empty())
      Inspect(piece);
    piece_.clear();
  }

  void Inspect(std::string_view piece) {
    // Before this line 7-Zip shows its scan of the drive, which is no
    // extraction progress.
    if (StartsWith(piece, "Extracting archive:"))
      extracting_ = true;
    std::string_view rest;
    std::optional<std::uint64_t> number = LeadingNumber(piece, &rest);
    if (number && extracting_ && StartsWith(rest, "%")) {
      Progress(std::min<std::uint64_t>(*number, 100));
      return;
    }
    if (number && extracting_ && StartsWith(rest, "M ") && !seen_percent_) {
      // The total is unknown: 7-Zip counts MiB instead.
      Progress(*number);
      return;
    }
    if (StartsWith(piece, "ERROR:") || StartsWith(piece, "WARNING:") ||
        piece.find("Error") != std::string_view::npos ||
        piece.find("Can't open as archive") != std::string_view::npos) {
      if (messages_.size() < 20)
        messages_.emplace_back(piece);
    }
    if (StartsWith(piece, "ERROR:") && piece.find(" : ") != std::string_view::npos &&
        (piece.find("Data Error") != std::string_view::npos ||
         piece.find("CRC Failed") != std::string_view::npos ||
         piece.find("Unexpected end") != std::string_view::npos ||
         piece.find("Unsupported Method") != std::string_view::npos)) {
      ++data_errors_;
      ReportError(kEngineDataError);
    }
    archive_errors_ += SummaryCount(piece, "Archives with Errors:");
    archive_errors_ += SummaryCount(piece, "Can't open as archive:");
  }

  void Progress(std::uint64_t value) {
    if (value == last_progress_)
      return;
    seen_percent_ = seen_percent_ || value <= 100;
    last_progress_ = value;
    ReportProgress(value);
  }

  std::string piece_;
  int data_errors_ = 0;
  std::uint64_t archive_errors_ = 0;
  std::uint64_t last_progress_ = 0;
  bool seen_percent_ = false;
  bool extracting_ = false;
  std::vector<std::string> messages_;
};

void LogMessages(const ConsoleParser& parser) {
  for (const std::string& message : parser.messages()) {
    WriteLog("ArchiveEngine: 7-Zip said: %s", message.c_str());
  }
}

// The engine code for a failed 7-Zip run that reported no item or archive
// error of its own.
int CodeForExit(int exit_code) {
  switch (exit_code) {
    case kEngineExitMemory:
      return kEngineOutOfMemory;
    case kEngineExitStopped:
    case kEngineExitCommandLine:
      return kEngineStopped;
    default:
      return kEngineFatalError;
  }
}

int ExitForCode(int code) {
  switch (code) {
    case kEngineOutOfMemory:
      return kEngineExitMemory;
    case kEngineStopped:
      return kEngineExitStopped;
    default:
      return kEngineExitFatal;
  }
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

// The lexical relative path of |path| below |root|, or nothing when it is
// not below it.
std::optional<fs::path> Below(const fs::path& root, const fs::path& path) {
  fs::path rel = path.lexically_relative(root);
  if (rel.empty())
    return std::nullopt;
  if (rel == ".")
    return rel;
  if (*rel.begin() == "..")
    return std::nullopt;
  return rel;
}

// Every link below |root| must resolve inside it both by its text and on
// disk; nothing but folders, files and links may be there.
std::string UnsafeTreeReason(const fs::path& root) {
  std::error_code ec;
  const fs::path real_root = fs::canonical(root, ec);
  if (ec)
    return "staging folder unreadable";
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
  if (ec)
    return "staging folder unreadable";
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec)
      return "staging folder unreadable";
    const fs::path& path = it->path();
    fs::file_status status = fs::symlink_status(path, ec);
    if (ec)
      return "unreadable entry " + path.string();
    std::string name = path.lexically_relative(root).string();
    if (fs::is_symlink(status)) {
      fs::path target = fs::read_symlink(path, ec);
      if (ec)
        return "unreadable link " + name;
      if (target.is_absolute())
        return "link with an absolute target: " + name;
      fs::path lexical = (path.parent_path() / target).lexically_normal();
      if (!Below(root.lexically_normal(), lexical))
        return "link leaving the folder: " + name;
      fs::path resolved = fs::weakly_canonical(path, ec);
      if (ec || !Below(real_root, resolved))
        return "link leaving the folder: " + name;
    } else if (!fs::is_directory(status) && !fs::is_regular_file(status)) {
      return "special file: " + name;
    }
  }
  return std::string();
}

// Moves everything in |from| into |to|, merging real folders and replacing
// anything else of the same name (a link there is replaced, never followed).
bool MergeInto(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  std::vector<fs::path> names;
  for (fs::directory_iterator it(from, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    names.push_back(it->path().filename());
  }
  if (ec)
    return false;
  for (const fs::path& name : names) {
    fs::path source = from / name;
    fs::path target = to / name;
    fs::file_status existing = fs::symlink_status(target, ec);
    if (fs::exists(existing)) {
      bool both_folders =
          fs::is_directory(existing) && fs::is_directory(fs::symlink_status(source, ec));
      if (both_folders) {
        if (!MergeInto(source, target))
          return false;
        fs::remove(source, ec);
        continue;
      }
      fs::remove_all(target, ec);  // links go as links
      if (ec) {
        WriteLog("ArchiveEngine: cannot replace %s: %s.", target.string().c_str(),
                 ec.message().c_str());
        return false;
      }
    }
    fs::rename(source, target, ec);
    if (ec) {
      WriteLog("ArchiveEngine: cannot move %s into place: %s.", target.string().c_str(),
               ec.message().c_str());
      return false;
    }
  }
  return true;
}

// A fresh, empty folder inside |parent| that no one else uses.
std::optional<fs::path> MakeStagingFolder(const fs::path& parent) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const char* digits = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = ".zel-unpack-";
    std::uint64_t bits = random();
    for (int i = 0; i < 12; ++i, bits >>= 4)
      name += digits[bits & 15];
    std::error_code ec;
    if (fs::create_directory(parent / name, ec))
      return parent / name;
    if (ec)
      return std::nullopt;
  }
  return std::nullopt;
}

// Removes the staging folder on every way out of a run.
class StagingFolder {
 public:
  explicit StagingFolder(fs::path path) : path_(std::move(path)) {}
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  ~StagingFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Ends a run that failed before or without 7-Zip's own report.
int Refuse(int code, const char* what, const std::string& detail) {
  WriteLog("ArchiveEngine: %s%s%s.", what, detail.empty() ? "" : ": ", detail.c_str());
  ReportError(code);
  return ExitForCode(code);
}

int RunEngine(int argc, const char* const argv[]) {
  if (argv == nullptr || (argc != 4 && argc != 5) || argv[1] == nullptr || argv[2] == nullptr ||
      argv[3] == nullptr || std::string_view(argv[1]) != "x" || !StartsWith(argv[3], "-o") ||
      std::string_view(argv[3]).size() < 3 || std::string_view(argv[2]).empty() ||
      (argc == 5 && (argv[4] == nullptr || !StartsWith(argv[4], "-p")))) {
    WriteLog("ArchiveEngine: command line rejected.");
    ReportError(kEngineStopped);
    return kEngineExitCommandLine;
  }
  const std::string archive = argv[2];
  const fs::path dest = fs::path(std::string(argv[3] + 2)).lexically_normal();
  const bool has_password = argc == 5;
  const std::string password = has_password ? std::string(argv[4] + 2) : std::string();

  const std::string program = FindArchiveProgram();
  if (program.empty())
    return Refuse(kEngineFatalError, "no 7-Zip program found", "");

  // List first: what the archive would write is checked before anything is.
  std::string listing;
  ConsoleParser list_parser;
  ChildResult listed =
      RunChild(program, {"l", "-slt", "-p" + password, "--", archive}, [&](std::string_view c) {
        if (listing.size() < (std::size_t{256} << 20))
          listing.append(c);
        list_parser.Feed(c);
      });
  list_parser.Finish();
  if (!listed.started)
    return Refuse(kEngineFatalError, "7-Zip did not start", program);
  std::vector<ArchiveEntry> entries = ParseTechnicalListing(listing);
  bool encrypted = std::any_of(entries.begin(), entries.end(),
                               [](const ArchiveEntry& e) { return e.encrypted; }) ||
                   listing.find("encrypted archive") != std::string::npos;
  if (encrypted && !has_password)
    ReportError(kEngineNeedPassword);  // goes on with ""
  if (listed.exit_code != kEngineExitOk) {
    LogMessages(list_parser);
    int code = listed.exit_code == kEngineExitMemory || listed.exit_code == kEngineExitStopped
                   ? CodeForExit(listed.exit_code)
                   : kEngineArchiveErrors;
    return Refuse(code, "archive cannot be listed", archive);
  }
  std::string unsafe = UnsafeEntryReason(entries);
  if (!unsafe.empty())
    return Refuse(kEngineFatalError, "archive refused", unsafe);

  std::uint64_t total = 0;
  for (const ArchiveEntry& entry : entries)
    total += entry.size;
  std::error_code ec;
  fs::create_directories(dest, ec);
  std::optional<unsigned long long> free_bytes =
      platform::FreeBytesOfVolume(platform::Utf8ToWide(dest.string()));
  if (free_bytes && total > *free_bytes) {
    return Refuse(
        kEngineFatalError, "archive does not fit",
        std::to_string(total) + " bytes to unpack, " + std::to_string(*free_bytes) + " bytes free");
  }
  std::optional<fs::path> staging_path = MakeStagingFolder(dest);
  if (!staging_path)
    return Refuse(kEngineFatalError, "cannot create a folder in", dest.string());
  StagingFolder staging(*staging_path);

  ConsoleParser parser;
  ChildResult run = RunChild(program,
                             {"x", "-y", "-bso1", "-bse1", "-bsp1", "-bb0", "-p" + password,
                              "-o" + staging.path().string(), "--", archive},
                             [&](std::string_view c) { parser.Feed(c); });
  parser.Finish();
  if (!run.started)
    return Refuse(kEngineFatalError, "7-Zip did not start", program);
  if (parser.archive_errors() > 0)
    ReportError(kEngineArchiveErrors);
  if (run.exit_code != kEngineExitOk) {
    LogMessages(parser);
    WriteLog("ArchiveEngine: 7-Zip ended with exit code %d.", run.exit_code);
    if (parser.data_errors() == 0 && parser.archive_errors() == 0) {
      ReportError(CodeForExit(run.exit_code));
    }
    return run.exit_code == kEngineExitWarning ? kEngineExitFatal : run.exit_code;
  }
  if (parser.data_errors() > 0 || parser.archive_errors() > 0) {
    LogMessages(parser);
    return kEngineExitFatal;
  }
  unsafe = UnsafeTreeReason(staging.path());
  if (!unsafe.empty())
    return Refuse(kEngineFatalError, "archive refused", unsafe);
  if (!MergeInto(staging.path(), dest)) {
    return Refuse(kEngineFatalError, "cannot move the files into", dest.string());
  }
  // 7-Zip redraws its percentage on a timer, so a quick run may show none:
  // the end is reported once in any case.
  if (parser.last_progress() != 100)
    ReportProgress(EngineProgressValue(1, 1));
  return kEngineExitOk;
}

}  // namespace

int ArchiveEngineMain(int argc, const char* const argv[], void* context, ArchiveErrorFn error_fn,
                      ArchiveProgressFn progress_fn) {
  std::lock_guard<std::mutex> lock(g_engine_lock);
  g_context = context;
  g_error_fn = error_fn;
  g_progress_fn = progress_fn;
  try {
    return RunEngine(argc, argv);
  } catch (const std::bad_alloc&) {
    ReportError(kEngineOutOfMemory);
    return kEngineExitMemory;
  } catch (const std::exception& e) {
    WriteLog("ArchiveEngine: %s.", e.what());
    ReportError(kEngineFatalError);
    return kEngineExitFatal;
  }
}

std::uint64_t EngineProgressValue(std::uint64_t completed, std::uint64_t total) {
  if (total == kEngineUnknownTotal)
    return completed >> 20;
  if (total == 0)
    return 0;
  // completed * 100 without overflow for any completed <= total.
  if (completed <= kEngineUnknownTotal / 100)
    return completed * 100 / total;
  return completed / (total / 100 == 0 ? 1 : total / 100);
}

std::vector<ArchiveEntry> ParseTechnicalListing(std::string_view listing) {
  std::vector<ArchiveEntry> entries;
  std::size_t start = listing.find("\n----------");
  if (start == std::string_view::npos)
    return entries;
  listing.remove_prefix(start + 1);
  // A plain value and a flag rather than std::optional: GCC's -O3 flow
  // analysis reports a false "maybe uninitialized" on the optional's string.
  ArchiveEntry current;
  bool have_current = false;
  auto flush = [&] {
    if (have_current)
      entries.push_back(std::move(current));
    current = ArchiveEntry{};
    have_current = false;
  };
  while (!listing.empty()) {
    std::size_t end = listing.find('\n');
    std::string_view line = listing.substr(0, end);
    listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (StartsWith(line, "Path = ")) {
      flush();
      have_current = true;
      current.path = std::string(line.substr(7));
    } else if (!have_current) {
      continue;
    } else if (StartsWith(line, "Size = ")) {
      current.size = LeadingNumber(line.substr(7), nullptr).value_or(0);
    } else if (StartsWith(line, "Folder = ")) {
      current.is_dir = current.is_dir || line.substr(9) == "+";
    } else if (StartsWith(line, "Encrypted = ")) {
      current.encrypted = line.substr(12) == "+";
    } else if (StartsWith(line, "Attributes = ")) {
      // "D drwxr-xr-x", "A lrwxrwxrwx": Windows letters, then the POSIX mode.
      std::string_view value = line.substr(13);
      std::size_t space = value.find(' ');
      std::string_view letters = value.substr(0, space);
      current.is_dir = current.is_dir || letters.find('D') != std::string_view::npos;
      if (space != std::string_view::npos) {
        std::string_view mode = Trim(value.substr(space + 1));
        if (!mode.empty() && mode.front() == 'l')
          current.is_link = true;
        if (!mode.empty() && mode.front() == 'd')
          current.is_dir = true;
      }
    } else if (StartsWith(line, "Symbolic Link = ") || StartsWith(line, "Hard Link = ")) {
      current.is_link = current.is_link || line.size() > 16;
    }
  }
  flush();
  return entries;
}

std::string UnsafeEntryReason(const std::vector<ArchiveEntry>& entries) {
  std::vector<std::string> links;
  for (const ArchiveEntry& entry : entries) {
    const std::string& path = entry.path;
    if (path.empty())
      return "entry without a name";
    if (path.front() == '/' || path.front() == '\\' ||
        (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))) {
      return "absolute path: " + path;
    }
    for (const std::string& part : SplitPath(path)) {
      if (part == "..")
        return "path with \"..\": " + path;
    }
    if (entry.is_link)
      links.push_back(path);
  }
  // Nothing may be written through a link the archive itself makes.
  for (const ArchiveEntry& entry : entries) {
    for (const std::string& link : links) {
      if (entry.path.size() > link.size() && StartsWith(entry.path, link) &&
          (entry.path[link.size()] == '/' || entry.path[link.size()] == '\\')) {
        return "path below a link: " + entry.path;
      }
    }
  }
  return std::string();
}

std::string FindArchiveProgram() {
  for (const char* name : {"7zz", "7z", "7za"}) {
    boost::filesystem::path found = bp::search_path(name);
    if (!found.empty())
      return found.string();
  }
  return std::string();
}

}  // namespace zel
