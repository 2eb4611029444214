#include "support/xml_parse.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <locale>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

constexpr char kConfig[] = R"(<?xml version="1.0" encoding="utf-8"?>
<download version="1" size="323361816" name="telviska_x64_1005_4504f9a2.exe">
  <!-- mirrors first -->
  <url size="2">
    <item_0 value="http://127.0.0.1:1/download/a.exe"/>
    <item_1 value="{__see_it_is_read_string_failed_}"/>
  </url>
  <hash size="1" ratio="0.25" bad="-9999999" text="abc" empty="">
    <item_0 value="4504F9A2"/>
  </hash>
</download>
)";

std::wstring Wide(const std::string& text) {
  return platform::Utf8ToWide(text);
}

XMLParse Loaded(const char* text = kConfig) {
  XMLParse doc;
  EXPECT_EQ(doc.ReadFromString(text, 0), 1) << doc.LastError();
  return doc;
}

TEST(XmlParseTest, GetIntReadsAttributesAndReportsFailures) {
  struct Case {
    const char* path;
    int value;
    int result;
  } cases[] = {
      {"download.version", 1, 1},
      {"download.size", 323361816, 1},
      {"download.url.size", 2, 1},
      {"download.hash.bad", kXmlIntFailed, 0},  // the sentinel itself reads as missing
      {"download.hash.text", kXmlIntFailed, 0},
      {"download.hash.ratio", kXmlIntFailed, 0},
      {"download.hash.empty", kXmlIntFailed, 0},
      {"download.missing", kXmlIntFailed, 0},
      {"nothing.here.size", kXmlIntFailed, 0},
      {"download", kXmlIntFailed, 0},  // no "." names no attribute
      {"download..size", kXmlIntFailed, 0},
      {"", kXmlIntFailed, 0},
  };
  XMLParse doc = Loaded();
  for (const Case& c : cases) {
    int value = 42;
    EXPECT_EQ(doc.GetInt(c.path, &value), c.result) << c.path;
    EXPECT_EQ(value, c.value) << c.path;
  }
}

TEST(XmlParseTest, GetIntRejectsOutOfRangeAndTrailingText) {
  for (const char* attr : {"99999999999", "12abc", "0x10", "1 2"}) {
    XMLParse doc = Loaded((std::string("<a v=\"") + attr + "\"/>").c_str());
    int value = 0;
    EXPECT_EQ(doc.GetInt("a.v", &value), 0) << attr;
    EXPECT_EQ(value, kXmlIntFailed) << attr;
  }
}

TEST(XmlParseTest, GetStringLeavesOutputAloneOnFailure) {
  struct Case {
    const char* path;
    const char* value;
    int result;
  } cases[] = {
      {"download.url.item_0.value", "http://127.0.0.1:1/download/a.exe", 1},
      {"download.hash.empty", "", 1},
      {"download.url.item_1.value", "unchanged", 0},  // holds the failure text
      {"download.url.item_9.value", "unchanged", 0},
      {"download", "unchanged", 0},
  };
  XMLParse doc = Loaded();
  for (const Case& c : cases) {
    std::string value = "unchanged";
    EXPECT_EQ(doc.GetString(c.path, &value), c.result) << c.path;
    EXPECT_EQ(value, c.value) << c.path;
  }
}

TEST(XmlParseTest, GetFloatReportsTheDefaultAsFailure) {
  struct Case {
    const char* path;
    float value;
    int result;
  } cases[] = {
      {"download.hash.ratio", 0.25f, 1},          {"download.hash.size", 1.0f, 1},
      {"download.hash.text", kXmlFloatFailed, 0}, {"download.hash.missing", kXmlFloatFailed, 0},
      {"download", kXmlFloatFailed, 0},
  };
  XMLParse doc = Loaded();
  for (const Case& c : cases) {
    float value = 7.0f;
    EXPECT_EQ(doc.GetFloat(c.path, &value), c.result) << c.path;
    EXPECT_EQ(value, c.value) << c.path;
  }
}

TEST(XmlParseTest, NullOutputsFail) {
  XMLParse doc = Loaded();
  EXPECT_EQ(doc.GetInt("download.version", nullptr), 0);
  EXPECT_EQ(doc.GetString("download.name", nullptr), 0);
  EXPECT_EQ(doc.GetFloat("download.version", nullptr), 0);
  EXPECT_EQ(doc.GetIntList("download", nullptr), 0);
  EXPECT_EQ(doc.GetItemTable("download", {{"k", "k"}}, nullptr, "k"), kPointer);
}

// Each of these is refused and the previous document stays in place.
TEST(XmlParseTest, MalformedTextLeavesTreeAsItWas) {
  const std::string deep = std::string(100000, '<') + "a";  // not even tags
  std::string nested;
  for (int i = 0; i < 100000; ++i)
    nested += "<a>";
  const std::string cases[] = {
      "",
      "   \n",
      "plain text",
      "<download version=\"1\">",
      "<download version=\"1\"></dowload>",
      "<a><b></a></b>",
      "<a/><b/>",
      "<a/>trailing",
      "<a x=\"1\" x=\"2\"/>",
      "<a x=1/>",
      "<?xml version=\"1.0\"?>",
      "<!-- only a comment -->",
      "<a><!-- unclosed </a>",
      deep,
      nested,
  };
  XMLParse doc = Loaded();
  const XmlTree before = doc.GetTree();
  for (const std::string& text : cases) {
    EXPECT_EQ(doc.ReadFromString(text.c_str(), static_cast<int>(text.size())), 0)
        << text.substr(0, 60);
    EXPECT_FALSE(doc.LastError().empty()) << text.substr(0, 60);
    EXPECT_TRUE(doc.GetTree() == before) << text.substr(0, 60);
  }
  EXPECT_EQ(doc.ReadFromString(nullptr, 5), 0);
  EXPECT_TRUE(doc.GetTree() == before);
}

TEST(XmlParseTest, AcceptsTheUsualDocumentShapes) {
  const std::string cases[] = {
      "<a v=\"1\"/>",
      "\xEF\xBB\xBF<a v=\"1\"/>",  // byte order mark
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- c -->\n<a v=\"1\"></a>\n<!-- d -->",
      "<!DOCTYPE a [<!ELEMENT a ANY><!ATTLIST a v CDATA \"1\">]><a v=\"1\"/>",
      "<a v=\"1\" w=\"x > y / z\"><![CDATA[<b><b><b>]]></a>",
      "<a v=\"1\"><?pi <b> ?><b/><c></c></a>",
  };
  for (const std::string& text : cases) {
    XMLParse doc;
    ASSERT_EQ(doc.ReadFromString(text.c_str(), 0), 1) << text << ": " << doc.LastError();
    int value = 0;
    EXPECT_EQ(doc.GetInt("a.v", &value), 1) << text;
    EXPECT_EQ(value, 1) << text;
  }
}

TEST(XmlParseTest, NestingLimit) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i)
      text += "<e>";
    for (int i = 0; i < depth; ++i)
      text += "</e>";
    return text;
  };
  XMLParse doc;
  EXPECT_EQ(doc.ReadFromString(nested(kXmlMaxDepth).c_str(), 0), 1) << doc.LastError();
  EXPECT_EQ(doc.ReadFromString(nested(kXmlMaxDepth + 1).c_str(), 0), 0);
}

TEST(XmlParseTest, ReadFromStringStopsAtNulAndAtLength) {
  // No terminator at all: the length bounds the read (AddressSanitizer
  // would catch a read past the buffer).
  const std::string text = "<a v=\"5\"/>";
  std::vector<char> unterminated(text.begin(), text.end());
  XMLParse doc;
  EXPECT_EQ(doc.ReadFromString(unterminated.data(), static_cast<int>(unterminated.size())), 1);

  struct Case {
    const char* text;
    std::size_t size;
    int length;
    int result;
  } cases[] = {
      {"<a v=\"5\"/>\0<b/>", 15, 15, 1},  // the NUL ends the text
      {"<a v=\"5\"/>", 10, 0, 1},         // no length: up to the NUL
      {"<a v=\"5\"/>", 10, -1, 1},
      {"<a v=\"5\"/>", 10, 4, 0},  // "<a v" alone is cut short
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.text, c.text + c.size + 1);
    XMLParse parsed;
    EXPECT_EQ(parsed.ReadFromString(buffer.data(), c.length), c.result) << c.length;
  }
}

TEST(XmlParseTest, ReadFromFileRemembersThePath) {
  const std::string good = zel::test::SandboxPath("cfg/\xC3\xA9t\xC3\xA9.xml");
  zel::test::WriteFile(good, kConfig);
  XMLParse doc;
  EXPECT_FALSE(doc.IsFromFile());
  ASSERT_EQ(doc.ReadFromFile(Wide(good)), 1) << doc.LastError();
  EXPECT_TRUE(doc.IsFromFile());
  int size = 0;
  EXPECT_EQ(doc.GetInt("download.url.size", &size), 1);
  EXPECT_EQ(size, 2);

  // Failed reads leave the document, its path and its flag alone.
  const std::string bad = zel::test::SandboxPath("cfg/bad.xml");
  zel::test::WriteFile(bad, "<download version=\"2\">");
  const XmlTree before = doc.GetTree();
  for (const std::string& path :
       {bad, zel::test::SandboxPath("cfg/missing.xml"), zel::test::SandboxPath("cfg")}) {
    EXPECT_EQ(doc.ReadFromFile(Wide(path)), 0) << path;
    EXPECT_FALSE(doc.LastError().empty()) << path;
    EXPECT_TRUE(doc.GetTree() == before) << path;
    EXPECT_TRUE(doc.IsFromFile());
  }
  ASSERT_EQ(doc.SetInt("download.version", 0), 1);
  ASSERT_EQ(doc.Save(), 1);
  EXPECT_NE(zel::test::ReadFile(good).find("version=\"0\""), std::string::npos);
  EXPECT_EQ(zel::test::ReadFile(bad), "<download version=\"2\">");

  XMLParse fresh;
  EXPECT_EQ(fresh.ReadFromFile(Wide(zel::test::SandboxPath("cfg/missing.xml"))), 0);
  EXPECT_FALSE(fresh.IsFromFile());
}

TEST(XmlParseTest, ReadFromFileStopsAtNul) {
  const std::string path = zel::test::SandboxPath("nul.xml");
  zel::test::WriteFile(path, std::string("<a v=\"3\"/>\0garbage<<<", 21));
  XMLParse doc;
  ASSERT_EQ(doc.ReadFromFile(Wide(path)), 1) << doc.LastError();
  int value = 0;
  EXPECT_EQ(doc.GetInt("a.v", &value), 1);
  EXPECT_EQ(value, 3);
}

TEST(XmlParseTest, SaveAndReadBackGivesTheSameTree) {
  XMLParse doc = Loaded(
      "<download version=\"1\" note=\"a &amp; b &lt;c&gt; &quot;q&quot; 'x'\">\n"
      "  <text>  spaced   words  </text>\n"
      "  <!-- kept -->\n"
      "  <url size=\"1\"><item_0 value=\"http://h/download/f.exe\"/></url>\n"
      "  <name>\xE5\xBE\xAE</name>\n"
      "</download>");
  const std::string path = zel::test::SandboxPath("out/new/doc.xml");
  ASSERT_EQ(doc.SaveToFile(Wide(path)), 1) << doc.LastError();

  const std::string text = zel::test::ReadFile(path);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << text;
  EXPECT_NE(text.find("\n\t<url"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\t\t<item_0"), std::string::npos) << text;

  XMLParse back;
  ASSERT_EQ(back.ReadFromFile(Wide(path)), 1) << back.LastError();
  EXPECT_TRUE(back.GetTree() == doc.GetTree());
  std::string words;
  EXPECT_EQ(back.GetTree().get<std::string>("download.text"), "spaced words");
  EXPECT_EQ(back.GetString("download.note", &words), 1);
  EXPECT_EQ(words, "a & b <c> \"q\" 'x'");

  // No temporary file stays behind.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(zel::test::SandboxPath("out/new"))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(XmlParseTest, SaveFailuresKeepThePreviousFile) {
  const std::string path = zel::test::SandboxPath("keep.xml");
  zel::test::WriteFile(path, "<old/>");

  XMLParse empty;  // would save as a declaration alone
  EXPECT_EQ(empty.SaveToFile(Wide(path)), 0);
  EXPECT_FALSE(empty.LastError().empty());

  XMLParse two_roots;
  ASSERT_EQ(two_roots.SetInt("a.v", 1), 1);
  ASSERT_EQ(two_roots.SetInt("b.v", 2), 1);
  EXPECT_EQ(two_roots.SaveToFile(Wide(path)), 0);

  XMLParse bad_name;
  ASSERT_EQ(bad_name.SetInt("a b.v", 1), 1);
  EXPECT_EQ(bad_name.SaveToFile(Wide(path)), 0);
  EXPECT_EQ(zel::test::ReadFile(path), "<old/>");

  // Cannot be opened or replaced: E_FAIL.
  XMLParse doc = Loaded("<a v=\"1\"/>");
  zel::test::WriteFile(zel::test::SandboxPath("file"), "x");
  std::filesystem::create_directories(zel::test::SandboxPath("dir"));
  EXPECT_EQ(doc.SaveToFile(Wide(zel::test::SandboxPath("file/doc.xml"))), kFail);
  EXPECT_EQ(doc.SaveToFile(Wide(zel::test::SandboxPath("dir"))), kFail);
  EXPECT_EQ(doc.SaveToFile(L""), kFail);
  EXPECT_EQ(doc.Save(), kFail);  // never read from a file
  EXPECT_TRUE(std::filesystem::is_directory(zel::test::SandboxPath("dir")));
}

TEST(XmlParseTest, ListsRoundTrip) {
  XMLParse doc = Loaded("<cfg><ints mode=\"x\"><other/></ints><floats/><texts/></cfg>");
  ASSERT_EQ(doc.SetIntList("cfg.ints", {3, -1, 7}), 1);
  ASSERT_EQ(doc.SetFloatList("cfg.floats", {0.5f, 0.1f}), 1);
  ASSERT_EQ(doc.SetStringList("cfg.texts", {"a b", "", "\xE5\xBE\xAE"}), 1);

  std::vector<float> floats;
  EXPECT_EQ(doc.GetFloatList("cfg.floats", &floats), 1);
  EXPECT_EQ(floats, (std::vector<float>{0.5f, 0.1f}));
  std::vector<std::string> texts;
  EXPECT_EQ(doc.GetStringList("cfg.texts", &texts), 1);
  EXPECT_EQ(texts, (std::vector<std::string>{"a b", "", "\xE5\xBE\xAE"}));

  // <other/> is not an item: the read ends there after nothing read.
  std::vector<int> ints = {99};
  EXPECT_EQ(doc.GetIntList("cfg.ints", &ints), 0);
  EXPECT_TRUE(ints.empty());
  ASSERT_EQ(doc.RemoveNode("cfg.ints.other"), 1);
  EXPECT_EQ(doc.GetIntList("cfg.ints", &ints), 1);
  EXPECT_EQ(ints, (std::vector<int>{3, -1, 7}));
  std::string mode;
  EXPECT_EQ(doc.GetString("cfg.ints.mode", &mode), 1);  // attributes are not items
  EXPECT_EQ(mode, "x");

  // Replacing the list drops the old items; an empty list leaves none.
  ASSERT_EQ(doc.SetIntList("cfg.ints", {8}), 1);
  EXPECT_EQ(doc.GetIntList("cfg.ints", &ints), 1);
  EXPECT_EQ(ints, (std::vector<int>{8}));
  ASSERT_EQ(doc.SetIntList("cfg.ints", {}), 1);
  EXPECT_EQ(doc.GetIntList("cfg.ints", &ints), 1);
  EXPECT_TRUE(ints.empty());
  EXPECT_EQ(doc.GetTree().get_child("cfg.ints").count("item"), 0u);
  EXPECT_EQ(doc.GetString("cfg.ints.mode", &mode), 1);
}

TEST(XmlParseTest, ListReadsStopAtTheFirstBadChild) {
  XMLParse doc = Loaded(
      "<l><!-- c --><item key=\"1\"/><item key=\"2\"/><item key=\"x\"/><item key=\"4\"/>"
      "</l>");
  std::vector<int> ints;
  EXPECT_EQ(doc.GetIntList("l", &ints), 0);
  EXPECT_EQ(ints, (std::vector<int>{1, 2}));
  std::vector<std::string> texts;
  EXPECT_EQ(doc.GetStringList("l", &texts), 1);
  EXPECT_EQ(texts.size(), 4u);

  XMLParse missing_key = Loaded("<l><item key=\"1\"/><item/></l>");
  EXPECT_EQ(missing_key.GetIntList("l", &ints), 0);
  EXPECT_EQ(ints, (std::vector<int>{1}));
}

TEST(XmlParseTest, ListOperationsNeedTheElement) {
  XMLParse doc = Loaded("<cfg/>");
  std::vector<int> ints = {1};
  std::vector<float> floats = {1};
  std::vector<std::string> texts = {"x"};
  EXPECT_EQ(doc.GetIntList("cfg.none", &ints), 0);
  EXPECT_TRUE(ints.empty());
  EXPECT_EQ(doc.GetFloatList("cfg.none", &floats), 0);
  EXPECT_EQ(doc.GetStringList("cfg.none", &texts), 0);
  EXPECT_EQ(doc.SetIntList("cfg.none", {1}), 0);
  EXPECT_EQ(doc.SetFloatList("cfg.none", {1}), 0);
  EXPECT_EQ(doc.SetStringList("cfg.none", {"x"}), 0);
  EXPECT_FALSE(doc.Exists("cfg.none"));

  // The Create forms make the element first.
  EXPECT_EQ(doc.CreateIntList("cfg.ints", {1, 2}), 1);
  EXPECT_EQ(doc.CreateFloatList("cfg.deep.floats", {1.5f}), 1);
  EXPECT_EQ(doc.CreateStringList("cfg.texts", {"x"}), 1);
  EXPECT_EQ(doc.GetIntList("cfg.ints", &ints), 1);
  EXPECT_EQ(ints, (std::vector<int>{1, 2}));
  EXPECT_EQ(doc.GetFloatList("cfg.deep.floats", &floats), 1);
  EXPECT_EQ(floats, (std::vector<float>{1.5f}));
  EXPECT_EQ(doc.GetStringList("cfg.texts", &texts), 1);
  EXPECT_EQ(texts, (std::vector<std::string>{"x"}));
  // Creating again replaces, it does not add a second element.
  EXPECT_EQ(doc.CreateIntList("cfg.ints", {5}), 1);
  EXPECT_EQ(doc.GetTree().get_child("cfg").count("ints"), 1u);
  EXPECT_EQ(doc.GetIntList("cfg.ints", &ints), 1);
  EXPECT_EQ(ints, (std::vector<int>{5}));
}

TEST(XmlParseTest, SetAndAddStoreInPlaceOrCreate) {
  XMLParse doc;
  EXPECT_EQ(doc.SetInt("download.url.size", 3), 1);  // creates both elements
  EXPECT_EQ(doc.SetString("download.name", "f.exe"), 1);
  EXPECT_EQ(doc.SetFloat("download.ratio", 0.75f), 1);
  EXPECT_EQ(doc.SetInt("download.url.size", 4), 1);

  EXPECT_EQ(doc.AddInt("download.version", 1), 1);  // added
  EXPECT_EQ(doc.AddInt("download.version", 2), 1);  // in place, never doubled
  EXPECT_EQ(doc.AddString("download.name", "g.exe"), 1);
  EXPECT_EQ(doc.AddFloat("download.ratio", 0.5f), 1);
  EXPECT_EQ(doc.AddValueString("download.note", "hello"), 1);
  EXPECT_EQ(doc.AddValueString("download.note", "again"), 1);
  EXPECT_EQ(doc.AddValueInt("download.count", 5), 1);
  EXPECT_EQ(doc.AddValueFloat("download.level", 2.5f), 1);

  int value = 0;
  std::string text;
  float number = 0;
  EXPECT_EQ(doc.GetInt("download.url.size", &value), 1);
  EXPECT_EQ(value, 4);
  EXPECT_EQ(doc.GetInt("download.version", &value), 1);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(doc.GetString("download.name", &text), 1);
  EXPECT_EQ(text, "g.exe");
  EXPECT_EQ(doc.GetFloat("download.ratio", &number), 1);
  EXPECT_EQ(number, 0.5f);
  const XmlTree& tree = doc.GetTree();
  EXPECT_EQ(tree.get_child("download.<xmlattr>").count("version"), 1u);
  EXPECT_EQ(tree.get_child("download").count("note"), 1u);
  EXPECT_EQ(tree.get<std::string>("download.note"), "again");
  EXPECT_EQ(tree.get<int>("download.count"), 5);
  EXPECT_EQ(tree.get<float>("download.level"), 2.5f);

  // The document stays savable and reads back to the same text (attributes
  // move ahead of child elements, so the trees differ in order only).
  const std::string path = zel::test::SandboxPath("built.xml");
  const std::string again = zel::test::SandboxPath("again.xml");
  ASSERT_EQ(doc.SaveToFile(Wide(path)), 1) << doc.LastError();
  XMLParse back;
  ASSERT_EQ(back.ReadFromFile(Wide(path)), 1) << back.LastError();
  ASSERT_EQ(back.SaveToFile(Wide(again)), 1);
  EXPECT_EQ(zel::test::ReadFile(again), zel::test::ReadFile(path));
}

TEST(XmlParseTest, ValueOperationsRefuseBadPaths) {
  XMLParse doc = Loaded("<a v=\"1\"/>");
  const XmlTree before = doc.GetTree();
  for (const char* path : {"a", "", ".v", "a.", "a..v"}) {
    EXPECT_EQ(doc.SetInt(path, 1), 0) << path;
    EXPECT_EQ(doc.SetFloat(path, 1), 0) << path;
    EXPECT_EQ(doc.SetString(path, "x"), 0) << path;
    EXPECT_EQ(doc.AddInt(path, 1), 0) << path;
    EXPECT_EQ(doc.AddFloat(path, 1), 0) << path;
    EXPECT_EQ(doc.AddString(path, "x"), 0) << path;
    EXPECT_EQ(doc.RemoveAttribute(path), 0) << path;
  }
  for (const char* path : {"", ".v", "a.", "a..v"}) {
    EXPECT_EQ(doc.AddValueString(path, "x"), 0) << path;
  }
  EXPECT_TRUE(doc.GetTree() == before);
}

TEST(XmlParseTest, ExistsWalksFirstMatches) {
  XMLParse doc = Loaded("<r k=\"1\"><a><b/></a><a><c/></a></r>");
  struct Case {
    const char* path;
    bool exists;
  } cases[] = {
      {"r", true},
      {"r.a", true},
      {"r.a.b", true},
      {"r.a.c", false},  // first <a> only
      {"r.<xmlattr>.k", true},
      {"r.k", false},
      {"x", false},
      {"", false},
      {"r..a", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(doc.Exists(c.path), c.exists) << c.path;
}

TEST(XmlParseTest, RemoveNodeAndAttribute) {
  XMLParse doc = Loaded("<r k=\"1\" j=\"2\"><a n=\"1\"/><a n=\"2\"/></r>");
  EXPECT_EQ(doc.RemoveNode("r.missing.deeper"), 1);  // nothing to do
  EXPECT_EQ(doc.RemoveNode("r.a"), 1);               // first <a> only
  int value = 0;
  EXPECT_EQ(doc.GetInt("r.a.n", &value), 1);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(doc.RemoveAttribute("r.k"), 1);
  EXPECT_EQ(doc.GetInt("r.k", &value), 0);
  EXPECT_EQ(doc.GetInt("r.j", &value), 1);
  EXPECT_EQ(doc.RemoveAttribute("r.k"), 1);  // already gone
  EXPECT_EQ(doc.RemoveNode("r"), 1);         // one component: from the root
  EXPECT_TRUE(doc.GetTree().empty());
}

TEST(XmlParseTest, CloneIsIndependent) {
  const std::string path = zel::test::SandboxPath("clone.xml");
  zel::test::WriteFile(path, "<a v=\"1\"/>");
  XMLParse doc;
  ASSERT_EQ(doc.ReadFromFile(Wide(path)), 1);
  std::shared_ptr<IXMLParse> copy = doc.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->IsFromFile());
  EXPECT_EQ(copy->SetInt("a.v", 2), 1);
  int value = 0;
  EXPECT_EQ(doc.GetInt("a.v", &value), 1);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(copy->Save(), 1);  // to the same file
  EXPECT_NE(zel::test::ReadFile(path).find("v=\"2\""), std::string::npos);
}

TEST(XmlParseTest, FactoryHandsOutDocuments) {
  std::shared_ptr<IXMLParse> doc;
  ASSERT_EQ(CreateXMLParse(&doc), kOk);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->ReadFromString(kConfig, static_cast<int>(sizeof(kConfig))), 1);
  int version = 0;
  EXPECT_EQ(doc->GetInt("download.version", &version), 1);
  EXPECT_EQ(CreateXMLParse(nullptr), kPointer);
}

TEST(XmlParseTest, NumbersIgnoreTheGlobalLocale) {
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
    char do_thousands_sep() const override { return '.'; }
  };
  const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new Comma));
  XMLParse doc = Loaded("<a f=\"1.5\" i=\"1000\"/>");
  float f = 0;
  int i = 0;
  EXPECT_EQ(doc.GetFloat("a.f", &f), 1);
  EXPECT_EQ(doc.GetInt("a.i", &i), 1);
  EXPECT_EQ(doc.SetFloat("a.g", 2.25f), 1);
  EXPECT_EQ(doc.SetInt("a.j", 1234567), 1);
  std::locale::global(previous);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(i, 1000);
  EXPECT_EQ(doc.GetTree().get<std::string>("a.<xmlattr>.g"), "2.25");
  EXPECT_EQ(doc.GetTree().get<std::string>("a.<xmlattr>.j"), "1234567");
}

TEST(XmlParseTest, ItemTablesRoundTrip) {
  XMLParse doc = Loaded("<cfg><mirrors size=\"2\"><item host=\"old\"/><note/></mirrors></cfg>");
  const XmlColumnMap columns = {{"host", "h"}, {"port", "p"}};
  const XmlTable rows = {{"a", {{"host", "a"}, {"port", "80"}}},
                         {"b", {{"host", "b"}, {"port", "8080"}}}};
  ASSERT_EQ(doc.SetItemTable("cfg.mirrors", columns, rows), kOk);
  EXPECT_EQ(doc.GetTree().get_child("cfg.mirrors").count("item"), 2u);
  EXPECT_EQ(doc.GetTree().get_child("cfg.mirrors").count("note"), 1u);
  ASSERT_EQ(doc.RemoveNode("cfg.mirrors.note"), 1);

  XmlTable read = {{"stale", {}}};
  ASSERT_EQ(doc.GetItemTable("cfg.mirrors", columns, &read, "host"), kOk);
  EXPECT_EQ(read, rows);
  int size = 0;
  EXPECT_EQ(doc.GetInt("cfg.mirrors.size", &size), 1);  // attributes are kept
  EXPECT_EQ(size, 2);
}

TEST(XmlParseTest, ItemTableFailures) {
  const XmlColumnMap columns = {{"host", "h"}, {"port", "p"}};
  struct Case {
    const char* xml;
    const char* key;
    HResult result;
  } cases[] = {
      {"<t><item h=\"a\" p=\"1\"/><item h=\"b\"/></t>", "host", kFail},          // field missing
      {"<t><item h=\"a\" p=\"1\"/><item h=\"a\" p=\"2\"/></t>", "host", kFail},  // same key
      {"<t><item h=\"a\" p=\"1\"/><row/></t>", "host", kFail},
      {"<t><item h=\"a\" p=\"1\"/></t>", "name", kInvalidArg},
      {"<u/>", "host", kFail},
  };
  for (const Case& c : cases) {
    XMLParse doc = Loaded(c.xml);
    XmlTable rows = {{"stale", {}}};
    EXPECT_EQ(doc.GetItemTable("t", columns, &rows, c.key), c.result) << c.xml;
    EXPECT_TRUE(rows.empty()) << c.xml;
  }

  XMLParse doc = Loaded("<t><item h=\"a\"/></t>");
  const XmlTree before = doc.GetTree();
  EXPECT_EQ(doc.SetItemTable("t", columns, {{"x", {{"colour", "red"}}}}), kInvalidArg);
  EXPECT_EQ(doc.SetItemTable("missing", columns, {}), kFail);
  EXPECT_TRUE(doc.GetTree() == before);
}

}  // namespace
}  // namespace zel
