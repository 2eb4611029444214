#include "shell/app_values.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(ModuleNameTagsTest, Examples) {
  struct Case {
    const wchar_t* path;
    const char* option;
    const char* source;
  } cases[] = {
      {L"/opt/x/product_setup_web_3_google_ads_x.exe", "setup_web", "google_ads"},
      {L"product.exe", "", ""},
      {L"product_x.exe", "", ""},
      {L"product_a_b_c.exe", "", ""},
      {L"product_3_x.exe", "", ""},
      {L"product_a_3_b_5_c_d.exe", "a", "b_c"},
      {L"Product_Web_1_Ads_X.exe", "web", "ads"},
      {L"product__a__1__b__x.exe", "a", "b"},
      {L"product_a_1.5_b_x.exe", "a", "b"},
      {L"product_a_0x10_b_x.exe", "", ""},  // hex is no decimal number
      {L"product_a_3abc_b_x.exe", "", ""},  // trailing text spoils a marker
      {L"C:\\Users\\u\\Downloads\\product_o_104_s_end.exe", "o", "s"},
  };
  for (const Case& c : cases) {
    std::string option = "", source = "";
    ParseModuleNameTagsOf(c.path, &option, &source);
    EXPECT_EQ(option, c.option) << c.path;
    EXPECT_EQ(source, c.source) << c.path;
  }
}

TEST(ModuleNameTagsTest, NoMarkerLeavesOutputsUntouched) {
  std::string option = "keep", source = "me";
  ParseModuleNameTagsOf(L"product_a_b_c.exe", &option, &source);
  EXPECT_EQ(option, "keep");
  EXPECT_EQ(source, "me");
}

TEST(CrashIdTest, SetOnceThenFixed) {
  EXPECT_EQ(CrashId(), "");
  EXPECT_STREQ(CrashIdForSignalHandler(), "");
  SetCrashIdOnce("");
  EXPECT_EQ(CrashId(), "");
  SetCrashIdOnce("0123456789ABCDEF0123456789ABCDEF");
  SetCrashIdOnce("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_EQ(CrashId(), "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_STREQ(CrashIdForSignalHandler(), "0123456789ABCDEF0123456789ABCDEF");
}

TEST(InstallerVersionTest, Literal) {
  EXPECT_STREQ(kInstallerVersion, "1.0.6.0");
}

}  // namespace
}  // namespace zel
