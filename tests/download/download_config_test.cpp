#include "download/download_config.h"

#include <gtest/gtest.h>

#include <string>

#include "download/download_types.h"
#include "download/md5.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"
#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

const std::string kDigest(32, 'A');

std::string Items(int count, const std::string& value) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += "<item_" + std::to_string(i) + " value=\"" + value + "\"/>";
  }
  return out;
}

// A document for a 3-chunk file unless the test overrides a part.
struct Doc {
  std::string download = "version=\"1\" size=\"3000000\"";
  std::string url =
      "<url size=\"2\">" + Items(2, "http://mirror.invalid/download/pkg.bin") + "</url>";
  std::string hash = "<hash size=\"4\">" + Items(4, kDigest) + "</hash>";

  std::string Text() const { return "<download " + download + ">" + url + hash + "</download>"; }
};

struct LoadResult {
  HResult hr;
  DownloadError error;
  DownloadConfig config;
};

LoadResult Load(const std::string& text, const std::string& target = "/tmp/pkg.bin") {
  std::shared_ptr<IXMLParse> document;
  EXPECT_EQ(CreateXMLParse(&document), kOk);
  EXPECT_EQ(document->ReadFromString(text.c_str(), static_cast<int>(text.size())), 1) << text;
  LoadResult result{kOk, DownloadError::NoError, {}};
  result.hr = LoadDownloadConfig(document.get(), target, &result.config, &result.error);
  return result;
}

struct BadCase {
  const char* name;
  Doc doc;
  DownloadError error;
};

TEST(DownloadConfigTest, EachValidationFailureHasItsCode) {
  auto doc = [](auto edit) {
    Doc d;
    edit(d);
    return d;
  };
  const std::string long_url = "http://mirror.invalid/download/" + std::string(1010, 'x');
  const BadCase cases[] = {
      {"no version", doc([](Doc& d) { d.download = "size=\"3000000\""; }),
       DownloadError::ConfigLoadVersionError},
      {"version 2", doc([](Doc& d) { d.download = "version=\"2\" size=\"3000000\""; }),
       DownloadError::NeedUpdateDownload},
      {"version text", doc([](Doc& d) { d.download = "version=\"one\" size=\"3000000\""; }),
       DownloadError::ConfigLoadVersionError},
      {"no size", doc([](Doc& d) { d.download = "version=\"1\""; }),
       DownloadError::ConfigLoadFileSizeError},
      {"size 0", doc([](Doc& d) { d.download = "version=\"1\" size=\"0\""; }),
       DownloadError::ConfigLoadFileSizeError},
      {"size negative", doc([](Doc& d) { d.download = "version=\"1\" size=\"-5\""; }),
       DownloadError::ConfigLoadFileSizeError},
      {"size past 2 GiB - 1", doc([](Doc& d) { d.download = "version=\"1\" size=\"2147483648\""; }),
       DownloadError::ConfigLoadFileSizeError},
      {"no url count", doc([](Doc& d) { d.url = "<url/>"; }),
       DownloadError::ConfigLoadUrlSizeError},
      {"negative url count", doc([](Doc& d) { d.url = "<url size=\"-1\"/>"; }),
       DownloadError::ConfigLoadUrlSizeError},
      {"url 3 of 2", doc([](Doc& d) {
         d.url = "<url size=\"3\">" + Items(2, "http://mirror.invalid/download/pkg.bin") + "</url>";
       }),
       DownloadError::ConfigLoadUrlError},
      {"url not http", doc([](Doc& d) {
         d.url = "<url size=\"1\">" + Items(1, "ftp://mirror.invalid/pkg") + "</url>";
       }),
       DownloadError::ConfigLoadUrlError},
      {"url with blank", doc([](Doc& d) {
         d.url = "<url size=\"1\">" + Items(1, "http://mirror.invalid/download/a b") + "</url>";
       }),
       DownloadError::ConfigLoadUrlError},
      {"url too long",
       doc([&long_url](Doc& d) { d.url = "<url size=\"1\">" + Items(1, long_url) + "</url>"; }),
       DownloadError::ConfigLoadUrlError},
      {"no hash count", doc([](Doc& d) { d.hash = "<hash/>"; }),
       DownloadError::ConfigLoadHashSizeError},
      {"no digests", doc([](Doc& d) { d.hash = "<hash size=\"0\"/>"; }),
       DownloadError::ConfigLoadHashSizeError},
      {"fewer digests than chunks",
       doc([](Doc& d) { d.hash = "<hash size=\"3\">" + Items(3, kDigest) + "</hash>"; }),
       DownloadError::ConfigLoadHashSizeError},
      {"more digests than chunks",
       doc([](Doc& d) { d.hash = "<hash size=\"5\">" + Items(5, kDigest) + "</hash>"; }),
       DownloadError::ConfigLoadHashSizeError},
      {"digest missing",
       doc([](Doc& d) { d.hash = "<hash size=\"4\">" + Items(3, kDigest) + "</hash>"; }),
       DownloadError::ConfigLoadHashError},
      {"lower-case digest", doc([](Doc& d) {
         d.hash = "<hash size=\"4\">" + Items(4, std::string(32, 'a')) + "</hash>";
       }),
       DownloadError::ConfigLoadHashError},
      {"short digest",
       doc([](Doc& d) { d.hash = "<hash size=\"4\">" + Items(4, "ABC") + "</hash>"; }),
       DownloadError::ConfigLoadHashError},
  };
  for (const BadCase& c : cases) {
    test::LogCapture log;
    LoadResult result = Load(c.doc.Text());
    EXPECT_EQ(result.hr, c.error == DownloadError::ConfigLoadError ? kInvalidArg : kAbort)
        << c.name;
    EXPECT_EQ(result.error, c.error) << c.name;
    EXPECT_TRUE(log.Contains("Download_LoadConfig : ")) << c.name;
  }
}

TEST(DownloadConfigTest, LoadsUrlsAndDigestsInOrder) {
  Doc doc;
  doc.url = "<url size=\"12\">";
  for (int i = 0; i < 12; ++i) {
    doc.url += "<item_" + std::to_string(i) + " value=\"http://m" + std::to_string(i) +
               ".invalid/download/pkg.bin\"/>";
  }
  doc.url += "</url>";
  doc.hash = "<hash size=\"4\"><item_0 value=\"" + std::string(32, '0') + "\"/><item_1 value=\"" +
             std::string(32, '1') + "\"/><item_2 value=\"" + std::string(32, '2') +
             "\"/><item_3 value=\"" + std::string(32, '3') + "\"/></hash>";
  LoadResult result = Load(doc.Text(), "/tmp/target.exe");
  ASSERT_EQ(result.hr, kOk);
  EXPECT_EQ(result.config.size, 3000000);
  EXPECT_STREQ(result.config.path, "/tmp/target.exe");
  EXPECT_EQ(result.config.threads_per_url, 2);
  for (int i = 0; i < kMaxConfigUrls; ++i) {
    EXPECT_TRUE(result.config.urls[i].valid);
    EXPECT_EQ(std::string(result.config.urls[i].url),
              "http://m" + std::to_string(i) + ".invalid/download/pkg.bin");
  }
  EXPECT_EQ(result.config.file_md5, std::string(32, '0'));
  ASSERT_EQ(result.config.chunk_md5.size(), 3u);
  EXPECT_EQ(result.config.chunk_md5[2], std::string(32, '3'));
}

TEST(DownloadConfigTest, VersionsZeroAndOneAndWholeFileDigestAloneLoad) {
  for (const char* version : {"0", "1"}) {
    Doc doc;
    doc.download = std::string("version=\"") + version + "\" size=\"3000000\"";
    EXPECT_EQ(Load(doc.Text()).hr, kOk) << version;
  }
  Doc whole_only;
  whole_only.hash = "<hash size=\"1\">" + Items(1, kDigest) + "</hash>";
  LoadResult result = Load(whole_only.Text());
  ASSERT_EQ(result.hr, kOk);
  EXPECT_TRUE(result.config.chunk_md5.empty());
}

TEST(DownloadConfigTest, RefusesTargetLongerThanThePathField) {
  test::LogCapture log;
  LoadResult result = Load(Doc().Text(), "/" + std::string(kMaxTargetPath, 'p'));
  EXPECT_EQ(result.hr, kInvalidArg);
  EXPECT_EQ(result.error, DownloadError::ConfigLoadError);
  EXPECT_TRUE(log.Contains("target path of 260 bytes"));
  EXPECT_EQ(Load(Doc().Text(), std::string(kMaxTargetPath, 'p')).hr, kOk);
}

TEST(DownloadConfigTest, NoDocumentIsConfigLoadError) {
  DownloadConfig config;
  DownloadError error = DownloadError::NoError;
  EXPECT_EQ(LoadDownloadConfig(nullptr, "/tmp/x", &config, &error), kInvalidArg);
  EXPECT_EQ(error, DownloadError::ConfigLoadError);
}

TEST(DownloadConfigTest, DefaultPackageShape) {
  // 323361816 bytes: 308 full chunks and a last one of 400408 bytes.
  const int size = 323361816;
  EXPECT_EQ(ChunkCount(size), 309u);
  EXPECT_EQ(size - 308 * static_cast<int>(kChunkSize), 400408);
  Doc doc;
  doc.download = "version=\"1\" size=\"323361816\" name=\"telviska_x64_1005_4504f9a2.exe\"";
  doc.hash = "<hash size=\"310\">" + Items(310, kDigest) + "</hash>";
  LoadResult result = Load(doc.Text());
  ASSERT_EQ(result.hr, kOk);
  EXPECT_EQ(result.config.chunk_md5.size(), 309u);
}

TEST(DownloadErrorTest, NamesAndDigitsOutsideTheTable) {
  EXPECT_EQ(DownloadErrorName(0), "NoError");
  EXPECT_EQ(DownloadErrorName(1), "NoNeedDownload");
  EXPECT_EQ(DownloadErrorName(11), "DownloadCheckUrlError");
  EXPECT_EQ(DownloadErrorName(19), "RepairFailError");
  EXPECT_EQ(DownloadErrorName(21), "CheckHashError");
  EXPECT_EQ(DownloadErrorName(22), "22");
  EXPECT_EQ(DownloadErrorName(-1), "-1");
  EXPECT_EQ(ItemStatusName(0), "E_Status_Runing");
  EXPECT_EQ(ItemStatusName(3), "E_Status_Succeed");
}

TEST(Md5Test, UpperCaseHexOfKnownInputs) {
  EXPECT_EQ(Md5Hex("", 0), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Hex("abc", 3), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_TRUE(IsUpperMd5Hex("900150983CD24FB0D6963F7D28E17F72"));
  EXPECT_FALSE(IsUpperMd5Hex("900150983cd24fb0d6963f7d28e17f72"));
}

TEST(Md5Test, StreamInPiecesMatchesOneDigestAndGoesOnAfterAPeek) {
  std::string data = test::PackageBytes(kChunkSize + 333);
  Md5Stream stream;
  stream.Update(data.data(), 100);
  EXPECT_EQ(stream.PeekHex(), Md5Hex(data.data(), 100));
  stream.Update(data.data() + 100, data.size() - 100);
  EXPECT_EQ(stream.PeekHex(), Md5Hex(data.data(), data.size()));
  stream.Reset();
  EXPECT_EQ(stream.PeekHex(), Md5Hex("", 0));
}

TEST(Md5Test, FileDigestStreamsTheWholeFile) {
  std::string data = test::PackageBytes(3 * kChunkSize + 17);
  std::string path = test::SandboxPath("file.bin");
  test::WriteFile(path, data);
  std::string digest;
  ASSERT_TRUE(Md5HexOfFile(ToWide(path), &digest));
  EXPECT_EQ(digest, Md5Hex(data.data(), data.size()));
  EXPECT_FALSE(Md5HexOfFile(ToWide(test::SandboxPath("missing.bin")), &digest));
}

}  // namespace
}  // namespace zel
