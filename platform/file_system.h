// The file system calls the installer needs beyond C streams: what a path
// is, folder trees made and removed without following links, and writes at
// a position. Paths are the system's narrow form.
#ifndef ZEL_PLATFORM_FILE_SYSTEM_H_
#define ZEL_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zel::platform {

// True when something (a link counts, even a dangling one) is at |path|.
bool PathExists(const std::string& path);
// Following links, as opening the path would.
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates the folders along |path| one at a time; an existing link, file or
// unreadable folder on the way ends the walk quietly (callers notice when
// they use the folder).
void MakeDirectoriesNoFollow(const std::string& path);
// Removes everything below |folder|, then the folder. Links are removed as
// links, never followed; a folder that is itself a link is left alone. False
// when the folder cannot be opened.
bool RemoveTreeNoFollow(const std::string& folder);

// Writes |count| bytes at |offset| of an open stream in one call, leaving
// the stream's own position alone. The number written, -1 on error (errno
// set).
long WriteStreamAt(std::FILE* stream, std::uint64_t offset, const void* data, std::size_t count);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_FILE_SYSTEM_H_
