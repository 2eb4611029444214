#include "support/json_object.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace zel {
namespace {

TEST(JsonObjectTest, FreshWrapperBuildsAnObject) {
  CJsonObject json;
  EXPECT_TRUE(json.IsNull());
  EXPECT_TRUE(json.AddMember("version", 1015));
  EXPECT_FALSE(json.IsNull());
  EXPECT_EQ(json.ToCompactText(), "{\"version\":1015}");
  EXPECT_TRUE(json.LastError().empty());
}

TEST(JsonObjectTest, MembersKeepCallOrderAndDuplicates) {
  CJsonObject json;
  EXPECT_TRUE(json.AddMember("version", 1015));
  EXPECT_TRUE(json.AddMember("user_id", std::string("00-11-22")));
  EXPECT_TRUE(json.AddMember("min", INT32_MIN));
  EXPECT_TRUE(json.AddMember("max", INT32_MAX));
  EXPECT_TRUE(json.AddMember("", "nameless"));
  EXPECT_TRUE(json.AddMember("user_id", std::string("again")));
  EXPECT_FALSE(json.AddMember("null", static_cast<const char*>(nullptr)));
  EXPECT_EQ(json.ToCompactText(),
            "{\"version\":1015,\"user_id\":\"00-11-22\",\"min\":-2147483648,"
            "\"max\":2147483647,\"\":\"nameless\",\"user_id\":\"again\"}");
}

TEST(JsonObjectTest, StringsAreEscapedByteForByte) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "plain"},
      {"q\"b\\s/", "q\\\"b\\\\s/"},
      {"\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {std::string("\x01\x1f\x7f", 3), "\\u0001\\u001f\x7f"},
      {"\xE5\xBE\xAE", "\xE5\xBE\xAE"},  // UTF-8 passes through
      {"\xB2\xE2\xFF", "\xB2\xE2\xFF"},  // so do code-page bytes
  };
  for (const Case& c : cases) {
    CJsonObject json;
    ASSERT_TRUE(json.AddMember("s", c.in));
    EXPECT_EQ(json.ToCompactText(), "{\"s\":\"" + c.out + "\"}") << c.in;
  }
}

TEST(JsonObjectTest, LoadTextFailuresNameTheRest) {
  struct Case {
    std::string text;
    std::string rest;
  } cases[] = {
      {"", ""},        {"{\"a\":}", "}"}, {"{\"a\" 1}", "1}"},
      {"[1,2,]", "]"}, {"nul", "nul"},    {"{\"result\":{\"res\":tru}}", "tru}}"},
  };
  for (const Case& c : cases) {
    CJsonObject json("{\"old\":1}");
    ASSERT_FALSE(json.IsNull());
    EXPECT_FALSE(json.LoadText(c.text)) << c.text.substr(0, 40);
    EXPECT_TRUE(json.IsNull()) << c.text.substr(0, 40);
    EXPECT_EQ(json.ToCompactText(), "") << c.text.substr(0, 40);
    EXPECT_EQ(json.LastError(), "json data is null!");
    json.LoadText(c.text);
    EXPECT_EQ(json.LastError(), "prase json string error at " + c.rest) << c.text.substr(0, 40);
  }
}

TEST(JsonObjectTest, DeepNestingFailsCleanly) {
  const std::string text(100000, '[');
  CJsonObject json;
  EXPECT_FALSE(json.LoadText(text));
  EXPECT_TRUE(json.IsNull());
  const std::string prefix = "prase json string error at [";
  EXPECT_EQ(json.LastError().compare(0, prefix.size(), prefix), 0);
  EXPECT_LT(json.LastError().size(), prefix.size() + text.size());
}

TEST(JsonObjectTest, LoadTextAcceptsWhitespaceAndPrintsCompactly) {
  CJsonObject json(" {\n\t\"a\" : [ 1 , 2.5 , \"x\" ] ,\r\n \"b\" : { \"c\" : null } } ");
  ASSERT_FALSE(json.IsNull()) << json.LastError();
  EXPECT_EQ(json.ToCompactText(), "{\"a\":[1,2.5,\"x\"],\"b\":{\"c\":null}}");
}

TEST(JsonObjectTest, GetBoolTakesOnlyTheLiterals) {
  struct Case {
    const char* name;
    bool result;
    bool value;
  } cases[] = {
      {"t", true, true},         {"f", true, false},  {"one", false, false}, {"text", false, false},
      {"null", false, false},    {"T", false, false},  // names compare exactly
      {"missing", false, false},
  };
  CJsonObject json(R"({"t":true,"f":false,"one":1,"text":"true","null":null})");
  for (const Case& c : cases) {
    bool value = false;
    EXPECT_EQ(json.GetBool(c.name, &value), c.result) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
  EXPECT_FALSE(json.GetBool("t", nullptr));
}

TEST(JsonObjectTest, WrongRootsGiveTheirErrors) {
  CJsonObject empty;
  bool flag = false;
  CJsonObject member;
  EXPECT_FALSE(empty.GetBool("a", &flag));
  EXPECT_EQ(empty.LastError(), "json data is null!");
  EXPECT_FALSE(empty.GetMember("a", &member));
  EXPECT_EQ(empty.LastError(), "json data is null!");

  CJsonObject array("[1,2]");
  EXPECT_FALSE(array.AddMember("a", 1));
  EXPECT_EQ(array.LastError(), "not a json object! json array?");
  EXPECT_FALSE(array.AddMember("a", CJsonObject("{}")));
  EXPECT_EQ(array.LastError(), "not a json object! json array?");
  EXPECT_FALSE(array.GetBool("a", &flag));
  EXPECT_EQ(array.LastError(), "not a json object! json array?");
  EXPECT_FALSE(array.GetMember("a", &member));
  EXPECT_EQ(array.LastError(), "not a json object! json array?");
  EXPECT_EQ(array.ToCompactText(), "[1,2]");

  CJsonObject object("{\"a\":1}");
  EXPECT_FALSE(object.AppendElement(CJsonObject("{}")));
  EXPECT_EQ(object.LastError(), "not a json array! json object?");
  EXPECT_EQ(object.ToCompactText(), "{\"a\":1}");
}

TEST(JsonObjectTest, ArraysAndNestedObjects) {
  CJsonObject list;
  for (int i = 0; i < 2; ++i) {
    CJsonObject entry;
    ASSERT_TRUE(entry.AddMember("invalid", i));
    ASSERT_TRUE(entry.AddMember("domain", "m" + std::to_string(i) + ".example"));
    ASSERT_TRUE(list.AppendElement(entry));
  }
  CJsonObject report;
  ASSERT_TRUE(report.AddMember("version", 1015));
  ASSERT_TRUE(report.AddMember("all_url_info", list));
  EXPECT_EQ(report.ToCompactText(),
            "{\"version\":1015,\"all_url_info\":[{\"invalid\":0,\"domain\":\"m0.example\"},"
            "{\"invalid\":1,\"domain\":\"m1.example\"}]}");

  // Copies, not links: changing the source later changes nothing here.
  ASSERT_TRUE(list.AppendElement(CJsonObject("3")));
  EXPECT_EQ(report.ToCompactText().find("3]"), std::string::npos);

  // Appending or adding oneself copies the state before the call.
  ASSERT_TRUE(list.AppendElement(list));
  EXPECT_EQ(list.ToCompactText().rfind(",3]]"), list.ToCompactText().size() - 4);
}

TEST(JsonObjectTest, EmptySourcesFailWithoutChangingTheTarget) {
  CJsonObject nothing;
  CJsonObject object;
  EXPECT_FALSE(object.AddMember("a", nothing));
  EXPECT_EQ(object.LastError(), "prase json string error at ");
  EXPECT_TRUE(object.IsNull());
  CJsonObject array;
  EXPECT_FALSE(array.AppendElement(nothing));
  EXPECT_EQ(array.LastError(), "prase json string error at ");
  EXPECT_TRUE(array.IsNull());
}

TEST(JsonObjectTest, GetMemberReadsTheServerAnswer) {
  CJsonObject answer(R"({"result":{"res":true,"msg":"ok"},"code":"0"})");
  CJsonObject result;
  ASSERT_TRUE(answer.GetMember("result", &result));
  bool res = false;
  EXPECT_TRUE(result.GetBool("res", &res));
  EXPECT_TRUE(res);
  EXPECT_EQ(result.ToCompactText(), "{\"res\":true,\"msg\":\"ok\"}");

  CJsonObject code;
  ASSERT_TRUE(answer.GetMember("code", &code));
  EXPECT_EQ(code.ToCompactText(), "\"0\"");
  EXPECT_FALSE(code.GetBool("res", &res));  // a string, not an object

  CJsonObject untouched("{\"x\":1}");
  EXPECT_FALSE(answer.GetMember("Result", &untouched));
  EXPECT_EQ(untouched.ToCompactText(), "{\"x\":1}");
  EXPECT_FALSE(answer.GetMember("result", nullptr));

  // Into itself.
  ASSERT_TRUE(answer.GetMember("result", &answer));
  EXPECT_EQ(answer.ToCompactText(), "{\"res\":true,\"msg\":\"ok\"}");
}

TEST(JsonObjectTest, CopiesAndMovesOwnTheirTrees) {
  CJsonObject original("{\"a\":1}");
  CJsonObject copy(original);
  ASSERT_TRUE(copy.AddMember("b", 2));
  EXPECT_EQ(original.ToCompactText(), "{\"a\":1}");
  EXPECT_EQ(copy.ToCompactText(), "{\"a\":1,\"b\":2}");

  CJsonObject assigned;
  assigned = copy;
  assigned = assigned;
  EXPECT_EQ(assigned.ToCompactText(), "{\"a\":1,\"b\":2}");

  CJsonObject moved(std::move(copy));
  EXPECT_EQ(moved.ToCompactText(), "{\"a\":1,\"b\":2}");
  original = std::move(moved);
  EXPECT_EQ(original.ToCompactText(), "{\"a\":1,\"b\":2}");

  original.Reset();
  EXPECT_TRUE(original.IsNull());
  EXPECT_EQ(original.ToCompactText(), "");
}

}  // namespace
}  // namespace zel
