// Reading and validating the download configuration document.
#ifndef ZEL_DOWNLOAD_DOWNLOAD_CONFIG_H_
#define ZEL_DOWNLOAD_DOWNLOAD_CONFIG_H_

#include <cstdint>
#include <string>

#include "download/download_types.h"
#include "support/hresult.h"
#include "support/xml_parse.h"

namespace zel {

// Longest target path and configured URL the fixed fields hold.
inline constexpr std::size_t kMaxTargetPath = kPathBufferSize - 1;
inline constexpr std::size_t kMaxUrlLength = kUrlBufferSize - 1;

// Target paths longer than kMaxTargetPath bytes are refused, never cut.
bool TargetPathFits(const std::string& target);

// Number of 1 MiB chunks of a file of |size| bytes.
std::uint32_t ChunkCount(std::uint32_t size);

// Fills |config| from |document| for |target|, stopping at the first
// failure with its error code in |error| and a log line:
//   no document or an over-long target: ConfigLoadError, kInvalidArg;
//   version missing: ConfigLoadVersionError; version 2 or more:
//   NeedUpdateDownload; size missing or not in 1..2^31-1:
//   ConfigLoadFileSizeError; URL count missing or negative:
//   ConfigLoadUrlSizeError; a URL missing, not "http://", longer than
//   kMaxUrlLength or holding control characters or blanks:
//   ConfigLoadUrlError; hash count missing, or neither 1 nor one more than
//   the chunk count: ConfigLoadHashSizeError; a digest missing or not 32
//   upper-case hex digits: ConfigLoadHashError (all kAbort).
HResult LoadDownloadConfig(const IXMLParse* document, const std::string& target,
                           DownloadConfig* config, DownloadError* error);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_DOWNLOAD_CONFIG_H_
