#include "profile/package_header.h"

#include <gtest/gtest.h>

#include <boost/process.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "system/file_util.h"
#include "tests/common/sandbox.h"
#include "tests/system/package_fixture.h"
#include "tools/zel-pack/pack.h"

namespace zel {
namespace {

namespace bp = boost::process;
using test::SandboxPath;

struct ToolRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

ToolRun RunZelPack(const std::vector<std::string>& args) {
  bp::ipstream out;
  bp::ipstream err;
  bp::child child(boost::filesystem::path(test::ZelPackTool()), bp::args(args),
                  (bp::std_in < bp::null), (bp::std_out > out), (bp::std_err > err));
  ToolRun run;
  std::ostringstream o;
  std::ostringstream e;
  o << out.rdbuf();
  e << err.rdbuf();
  child.wait();
  run.exit_code = child.exit_code();
  run.out = o.str();
  run.err = e.str();
  return run;
}

std::string MakeProductFiles() {
  std::string dir = SandboxPath("product");
  test::WriteTree(dir, {{"Brondex.exe", "main program"}, {"data/readme.txt", "hello"}});
  test::WriteFile(SandboxPath("uninstall.exe"), "uninstaller program");
  return dir;
}

TEST(PackageHeaderTest, NewHeaderIsZerosWithTheMarker) {
  PackageHeader header = NewPackageHeader();
  const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 8), "Bexorlin");
  for (std::size_t i = 8; i < kPackageHeaderSize; ++i)
    ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(PackageHeaderTest, ZelPackRoundTripKeepsEveryField) {
  std::string files = MakeProductFiles();
  std::string package = SandboxPath("out/setup.exe");
  std::filesystem::create_directories(SandboxPath("out"));
  ToolRun run = RunZelPack({"build",
                            "--files",
                            files,
                            "--uninstaller",
                            SandboxPath("uninstall.exe"),
                            "--out",
                            package,
                            "--product-name",
                            "Telviska",
                            "--display-name",
                            "Telviska Demo",
                            "--version",
                            "2.3.4.5",
                            "--date",
                            "2024-02-29",
                            "--web",
                            "https://example.invalid/x",
                            "--publisher",
                            "Zel Test 2024",
                            "--x64"});
  ASSERT_EQ(run.exit_code, 0) << run.err;

  PackageHeader header;
  ASSERT_EQ(ReadPackageHeader(ToWide(package).c_str(), &header), kOk);
  EXPECT_EQ(std::string(header.marker, 8), "Bexorlin");
  EXPECT_EQ(HeaderText(header.product_name), "Telviska");
  EXPECT_EQ(HeaderText(header.display_name), "Telviska Demo");
  EXPECT_EQ(HeaderText(header.version), "2.3.4.5");
  EXPECT_EQ(HeaderText(header.short_name), "Brondel");
  EXPECT_EQ(HeaderText(header.release_date), "2024-02-29");
  EXPECT_EQ(HeaderText(header.web_address), "https://example.invalid/x");
  EXPECT_EQ(HeaderText(header.publisher), "Zel Test 2024");
  EXPECT_EQ(header.is_x64, 1);
  EXPECT_TRUE(HeaderTextsTerminated(header));

  std::string bytes = test::ReadFile(package);
  EXPECT_EQ(bytes.substr(0, 2), "MZ");
  // The header is the last 4096 bytes: the boundary case of the reader.
  EXPECT_EQ(
      std::memcmp(bytes.data() + bytes.size() - kPackageHeaderSize, &header, kPackageHeaderSize),
      0);
  EXPECT_EQ(bytes.substr(static_cast<std::size_t>(header.uninstaller_offset),
                         static_cast<std::size_t>(header.uninstaller_size)),
            "uninstaller program");
  EXPECT_EQ(bytes.substr(static_cast<std::size_t>(header.payload_offset), 6), "7z\xBC\xAF\x27\x1C");
}

TEST(PackageHeaderTest, ZelPackDefaultsComeFromTheProfile) {
  std::string files = MakeProductFiles();
  std::string package = SandboxPath("setup.exe");
  ToolRun run = RunZelPack(
      {"build", "--files", files, "--uninstaller", SandboxPath("uninstall.exe"), "--out", package});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  PackageHeader header;
  ASSERT_EQ(ReadPackageHeader(ToWide(package).c_str(), &header), kOk);
  EXPECT_EQ(HeaderText(header.product_name), "Telviska");
  EXPECT_EQ(HeaderText(header.display_name), "Telviska");
  EXPECT_EQ(HeaderText(header.version), "1.0.0.0");
  EXPECT_EQ(HeaderText(header.release_date).size(), 10u);
  EXPECT_EQ(header.is_x64, 0);
}

TEST(PackageHeaderTest, ZelPackRefusesBadInput) {
  std::string files = MakeProductFiles();
  std::string uninstaller = SandboxPath("uninstall.exe");
  std::string out = SandboxPath("bad.exe");
  std::filesystem::create_directories(SandboxPath("empty"));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "no command"},
      {{"pack"}, "unknown command"},
      {{"build", "--files", files, "--out", out}, "needs --files, --uninstaller and --out"},
      {{"build", "--files", SandboxPath("none"), "--uninstaller", uninstaller, "--out", out},
       "is not a folder"},
      {{"build", "--files", SandboxPath("empty"), "--uninstaller", uninstaller, "--out", out},
       "is empty"},
      {{"build", "--files", files, "--uninstaller", SandboxPath("none.exe"), "--out", out},
       "cannot be read"},
      {{"build", "--files", files, "--uninstaller", uninstaller, "--out", out, "--display-name",
        std::string(64, 'd')},
       "--display-name must be shorter than 64 bytes"},
      {{"build", "--files", files, "--uninstaller", uninstaller, "--out", out, "--date",
        "17/08/2020"},
       "--date must read YYYY-MM-DD"},
      {{"build", "--files", files, "--uninstaller", uninstaller, "--out", out, "--product-name",
        "../up"},
       "plain folder name"},
      {{"build", "--files", files, "--uninstaller", uninstaller, "--out", out, "--color"},
       "unknown option"},
      {{"config", uninstaller, "http://127.0.0.1/download/x.exe"}, "is not a setup package"},
      {{"config", SandboxPath("none.exe"), "http://127.0.0.1/x"}, "cannot read"},
      {{"config", uninstaller, "ftp://127.0.0.1/x"}, "not an http URL"},
      {{"config", uninstaller}, "at least one URL"},
  };
  for (const Case& c : cases) {
    ToolRun run = RunZelPack(c.args);
    EXPECT_NE(run.exit_code, 0) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(out + ".partial"));
}

TEST(PackageHeaderTest, ZelPackConfigDescribesThePackage) {
  // Just over two chunks, so the last chunk is short.
  std::string files = SandboxPath("big");
  std::string noise;
  std::uint32_t x = 12345;
  for (int i = 0; i < 2 * 1048576 + 4000; ++i) {
    x = x * 1103515245u + 12345u;
    noise += static_cast<char>(x >> 24);
  }
  test::WriteTree(files, {{"Brondex.exe", noise}});
  test::WriteFile(SandboxPath("uninstall.exe"), "u");
  std::string package = SandboxPath("setup.exe");
  ASSERT_EQ(RunZelPack({"build", "--files", files, "--uninstaller", SandboxPath("uninstall.exe"),
                        "--out", package})
                .exit_code,
            0);
  ToolRun run = RunZelPack({"config", package, "http://127.0.0.1:8080/download/setup.exe",
                            "http://127.0.0.2/download/setup.exe"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << run.out;

  namespace pt = boost::property_tree;
  pt::ptree doc;
  std::istringstream in(run.out);
  pt::read_xml(in, doc);
  std::string bytes = test::ReadFile(package);
  const std::size_t chunks = (bytes.size() + 1048575) / 1048576;
  EXPECT_EQ(doc.get<int>("download.<xmlattr>.version"), 1);
  EXPECT_EQ(doc.get<std::size_t>("download.<xmlattr>.size"), bytes.size());
  EXPECT_EQ(doc.get<std::string>("download.<xmlattr>.name"), "setup.exe");
  EXPECT_EQ(doc.get<int>("download.url.<xmlattr>.size"), 2);
  EXPECT_EQ(doc.get<std::string>("download.url.item_1.<xmlattr>.value"),
            "http://127.0.0.2/download/setup.exe");
  ASSERT_EQ(doc.get<std::size_t>("download.hash.<xmlattr>.size"), 1 + chunks);
  EXPECT_EQ(doc.get<std::string>("download.hash.item_0.<xmlattr>.value"),
            pack::Md5Hex(bytes.data(), bytes.size()));
  for (std::size_t k = 0; k < chunks; ++k) {
    std::size_t start = k * 1048576;
    std::size_t size = std::min<std::size_t>(1048576, bytes.size() - start);
    EXPECT_EQ(
        doc.get<std::string>("download.hash.item_" + std::to_string(k + 1) + ".<xmlattr>.value"),
        pack::Md5Hex(bytes.data() + start, size));
  }
  // Upper-case hex, as the download engine compares it.
  EXPECT_EQ(pack::Md5Hex("", 0), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(PackageHeaderTest, HeaderOffsetBoundaries) {
  std::string path = SandboxPath("setup.exe");
  test::MakePackage(path, "payload", "uninstaller");
  const auto length = static_cast<std::int32_t>(test::ReadFile(path).size());
  struct Case {
    std::int32_t offset;
    HResult expected;
  } cases[] = {
      {length - 4096, kOk},    // exactly the last 4096 bytes
      {length - 4095, kFail},  // one byte more
      {-1, kFail},             // negative
      {INT32_MIN, kFail},      //
      {INT32_MAX, kFail},      // huge
      {0, kOk},                // anywhere inside is fine
  };
  for (const Case& c : cases) {
    test::PatchInt32(path, 32, c.offset);
    PackageHeader header = NewPackageHeader();
    EXPECT_EQ(ReadPackageHeader(ToWide(path).c_str(), &header), c.expected) << c.offset;
  }
}

TEST(PackageHeaderTest, ReadRefusesWhatIsNoPackage) {
  test::WriteFile(SandboxPath("short.exe"), std::string(35, 'M'));
  test::WriteFile(SandboxPath("small.exe"), std::string(4095, '\0'));
  PackageHeader header = NewPackageHeader();
  EXPECT_EQ(ReadPackageHeader(nullptr, &header), kPointer);
  EXPECT_EQ(ReadPackageHeader(L"x", nullptr), kPointer);
  EXPECT_EQ(ReadPackageHeader(ToWide(SandboxPath("none.exe")).c_str(), &header), kFail);
  EXPECT_EQ(ReadPackageHeader(ToWide(SandboxPath("short.exe")).c_str(), &header), kFail);
  // Offset 0 but only 4095 bytes.
  EXPECT_EQ(ReadPackageHeader(ToWide(SandboxPath("small.exe")).c_str(), &header), kFail);
}

TEST(PackageHeaderTest, WriteCreatesFoldersAndWritesTheRecord) {
  PackageHeader header = test::TestHeader();
  std::wstring path = ToWide(SandboxPath("a/b/uninstall.exe.bin"));
  ASSERT_EQ(WritePackageHeader(path.c_str(), header), kOk);
  std::string bytes = test::ReadFile(ToNarrow(path));
  ASSERT_EQ(bytes.size(), kPackageHeaderSize);
  EXPECT_EQ(std::memcmp(bytes.data(), &header, kPackageHeaderSize), 0);
  EXPECT_EQ(WritePackageHeader(nullptr, header), kPointer);
  std::filesystem::create_directories(SandboxPath("dir"));
  EXPECT_EQ(WritePackageHeader(ToWide(SandboxPath("dir")).c_str(), header), kFail);
}

TEST(PackageHeaderTest, TextsStayInsideTheirFields) {
  PackageHeader header = NewPackageHeader();
  SetHeaderText(header.short_name, "Telviska Deluxe Edition");  // longer than 15
  EXPECT_EQ(HeaderText(header.short_name), "Telviska Deluxe");
  SetHeaderText(header.product_name, std::string(100, 'p'));
  EXPECT_EQ(HeaderText(header.product_name), std::string(63, 'p'));
  EXPECT_TRUE(HeaderTextsTerminated(header));

  std::memset(header.version, 'v', sizeof(header.version));  // no terminator
  EXPECT_STREQ(UnterminatedHeaderText(header), "version");
  EXPECT_EQ(HeaderText(header.version), std::string(32, 'v'));
}

TEST(PackageHeaderTest, MarkerStampedRecords) {
  EXPECT_EQ(std::string(ChoiceFlags().marker, 8), "Bexorlin");
  EXPECT_EQ(ChoiceFlags().create_desktop, 1);
  EXPECT_EQ(ChoiceFlags().add_plan, 1);
  EXPECT_EQ(sizeof(ChoiceFlagsRecord), 10u);
  EXPECT_EQ(std::string(HeaderTemplate().marker, 8), "Bexorlin");
  EXPECT_EQ(std::string(LanguageLayoutTable().marker, 8), "Bexorlin");
  EXPECT_EQ(sizeof(LanguageLayoutRecord), 8u + 16u * 6u * 4u);
  const std::int32_t* english = LanguageLayoutWidths(kLayoutEnglish);
  ASSERT_NE(english, nullptr);
  EXPECT_EQ(std::vector<std::int32_t>(english, english + 6),
            (std::vector<std::int32_t>{75, 165, 55, 320, 240, 180}));
  for (int i = 0; i < kLayoutRecordCount; ++i)
    EXPECT_EQ(LanguageLayoutWidths(i)[5], 180);
  EXPECT_EQ(LanguageLayoutWidths(16), nullptr);
  EXPECT_EQ(LanguageLayoutWidths(-1), nullptr);
}

TEST(PackageHeaderTest, VersionLabelReplacesOfficialAndNamesTheDownload) {
  for (bool x64 : {true, false}) {
    InstallerVersionLabel label;
    ASSERT_TRUE(LoadInstallerVersionLabel(x64, L"oficial", &label));
    EXPECT_EQ(label.text, "1.0.0.5 official (17/08/2020)");
    EXPECT_EQ(label.display, L"1.0.0.5 oficial (17/08/2020)");
    EXPECT_EQ(label.file_infix, "(1.0.0.5 )");  // the trailing blank is kept
  }
  EXPECT_FALSE(LoadInstallerVersionLabel(true, L"x", nullptr));
}

}  // namespace
}  // namespace zel
