// Reading what the vendor test server stored, for assertions.
#ifndef ZEL_TESTS_REPORT_REPORT_TEST_UTIL_H_
#define ZEL_TESTS_REPORT_REPORT_TEST_UTIL_H_

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/sandbox.h"

namespace zel::test {

struct StoredPart {
  std::string name;
  bool is_file = false;
  std::string file_name;
  std::string content;
};

struct StoredRequest {
  std::string endpoint;  // online, log, crash, other
  std::vector<StoredPart> parts;

  const StoredPart* Find(const std::string& name) const {
    for (const StoredPart& part : parts) {
      if (part.name == name)
        return &part;
    }
    return nullptr;
  }
  std::string Field(const std::string& name) const {
    const StoredPart* part = Find(name);
    return part != nullptr ? part->content : std::string();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const StoredPart& part : parts)
      names.push_back(part.name);
    return names;
  }
};

// Every complete request under |store|, oldest first.
inline std::vector<StoredRequest> ReadStore(const std::string& store) {
  std::vector<std::filesystem::path> dirs;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(store, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && !name.empty() && name[0] != '.')
      dirs.push_back(entry.path());
  }
  std::sort(dirs.begin(), dirs.end());
  std::vector<StoredRequest> requests;
  for (const auto& dir : dirs) {
    StoredRequest request;
    const std::string name = dir.filename().string();
    request.endpoint = name.substr(name.find('-') + 1);
    std::istringstream index(ReadFile((dir / "parts.txt").string()));
    std::string line;
    while (std::getline(index, line)) {
      std::vector<std::string> cols;
      std::size_t start = 0;
      for (;;) {
        std::size_t tab = line.find('\t', start);
        cols.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
          break;
        start = tab + 1;
      }
      if (cols.size() != 4)
        continue;
      StoredPart part;
      part.name = cols[0];
      part.is_file = cols[1] == "file";
      part.file_name = cols[2];
      part.content = ReadFile((dir / cols[3]).string());
      request.parts.push_back(std::move(part));
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

}  // namespace zel::test

#endif  // ZEL_TESTS_REPORT_REPORT_TEST_UTIL_H_
