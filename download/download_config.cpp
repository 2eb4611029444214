#include "download/download_config.h"

#include <cstdio>
#include <cstring>

#include "download/md5.h"
#include "shell/log.h"

namespace zel {
namespace {

HResult Refuse(DownloadError* error, DownloadError code, HResult result) {
  *error = code;
  return result;
}

bool IsUsableUrl(const std::string& url) {
  static const char kScheme[] = "http://";
  if (url.size() > kMaxUrlLength)
    return false;
  if (url.compare(0, sizeof(kScheme) - 1, kScheme) != 0)
    return false;
  if (url.size() == sizeof(kScheme) - 1 || url[sizeof(kScheme) - 1] == '/')
    return false;
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7F)
      return false;  // no header splitting, no blanks
  }
  return true;
}

}  // namespace

bool TargetPathFits(const std::string& target) {
  return target.size() <= kMaxTargetPath;
}

std::uint32_t ChunkCount(std::uint32_t size) {
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(size) + kChunkSize - 1) /
                                    kChunkSize);
}

HResult LoadDownloadConfig(const IXMLParse* document, const std::string& target,
                           DownloadConfig* config, DownloadError* error) {
  if (document == nullptr) {
    WriteLog("Download_LoadConfig : no document.\n");
    return Refuse(error, DownloadError::ConfigLoadError, kInvalidArg);
  }
  if (!TargetPathFits(target)) {
    WriteLog("Download_LoadConfig : target path of %d bytes is longer than %d.\n",
             static_cast<int>(target.size()), static_cast<int>(kMaxTargetPath));
    return Refuse(error, DownloadError::ConfigLoadError, kInvalidArg);
  }
  *config = DownloadConfig();
  std::memcpy(config->path, target.c_str(), target.size() + 1);
  config->threads_per_url = 2;

  int version = 0;
  if (!document->GetInt("download.version", &version)) {
    WriteLog("Download_LoadConfig : version missing or unreadable.\n");
    return Refuse(error, DownloadError::ConfigLoadVersionError, kAbort);
  }
  if (version >= 2) {
    WriteLog("Download_LoadConfig : version %d is newer than this installer.\n", version);
    return Refuse(error, DownloadError::NeedUpdateDownload, kAbort);
  }
  int size = 0;
  if (!document->GetInt("download.size", &size) || size <= 0) {
    WriteLog("Download_LoadConfig : file size missing or out of range (%d).\n", size);
    return Refuse(error, DownloadError::ConfigLoadFileSizeError, kAbort);
  }
  config->size = size;

  int url_count = 0;
  if (!document->GetInt("download.url.size", &url_count) || url_count < 0) {
    WriteLog("Download_LoadConfig : url count missing or negative (%d).\n", url_count);
    return Refuse(error, DownloadError::ConfigLoadUrlSizeError, kAbort);
  }
  for (int n = 0; n < url_count && n < kMaxConfigUrls; ++n) {
    char path[64];
    std::snprintf(path, sizeof(path), "download.url.item_%d.value", n);
    std::string url;
    if (!document->GetString(path, &url)) {
      WriteLog("Download_LoadConfig : url item %d missing.\n", n);
      return Refuse(error, DownloadError::ConfigLoadUrlError, kAbort);
    }
    if (!IsUsableUrl(url)) {
      WriteLog(
          "Download_LoadConfig : url item %d refused (%d bytes; want http://, at most %d "
          "bytes, no blanks).\n",
          n, static_cast<int>(url.size()), static_cast<int>(kMaxUrlLength));
      return Refuse(error, DownloadError::ConfigLoadUrlError, kAbort);
    }
    std::memcpy(config->urls[n].url, url.c_str(), url.size() + 1);
    config->urls[n].valid = true;
  }

  int hash_count = 0;
  if (!document->GetInt("download.hash.size", &hash_count)) {
    WriteLog("Download_LoadConfig : hash count missing or unreadable.\n");
    return Refuse(error, DownloadError::ConfigLoadHashSizeError, kAbort);
  }
  // Without digests nothing could be verified; a partial chunk list would
  // leave chunks unchecked.
  std::uint32_t chunks = ChunkCount(static_cast<std::uint32_t>(size));
  if (hash_count != 1 &&
      static_cast<std::int64_t>(hash_count) != static_cast<std::int64_t>(chunks) + 1) {
    WriteLog("Download_LoadConfig : hash count %d does not fit %d bytes (want 1 or %u).\n",
             hash_count, size, chunks + 1);
    return Refuse(error, DownloadError::ConfigLoadHashSizeError, kAbort);
  }
  for (int n = 0; n < hash_count; ++n) {
    char path[64];
    std::snprintf(path, sizeof(path), "download.hash.item_%d.value", n);
    std::string digest;
    if (!document->GetString(path, &digest)) {
      WriteLog("Download_LoadConfig : hash item %d missing.\n", n);
      return Refuse(error, DownloadError::ConfigLoadHashError, kAbort);
    }
    if (!IsUpperMd5Hex(digest)) {
      WriteLog("Download_LoadConfig : hash item %d is not 32 upper-case hex digits.\n", n);
      return Refuse(error, DownloadError::ConfigLoadHashError, kAbort);
    }
    if (n == 0) {
      config->file_md5 = digest;
    } else {
      config->chunk_md5.push_back(digest);
    }
  }
  return kOk;
}

}  // namespace zel
