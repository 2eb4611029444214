#include "profile/product_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace zel {
namespace {

const std::string kApiHost = ZEL_TEST_API_HOST;
const std::string kWebHost = ZEL_TEST_WEB_HOST;

std::string Narrow(const std::wstring& text) {
  return platform::WideToUtf8(text);
}

std::shared_ptr<IProductInfo> Make(int edition) {
  std::shared_ptr<IProductInfo> info;
  EXPECT_EQ(CreateProductInfo(&info, edition), kOk);
  return info;
}

struct GetterCase {
  const char* getter;
  std::function<std::string(const IProductInfo&)> read;
  const char* x64;
  const char* x86;
};

const std::vector<GetterCase>& GetterCases() {
  static const std::vector<GetterCase> cases = {
      {"GetProductGuid", [](const IProductInfo& p) { return std::string(p.GetProductGuid()); },
       "{6D2E41A7-3B90-4C55-8E1F-2A7C90B3D514}", "{6D2E41A7-3B90-4C55-8E1F-2A7C90B3D514}"},
      {"GetRegistryName", [](const IProductInfo& p) { return std::string(p.GetRegistryName()); },
       "Telviskan_x64", "Telviskan"},
      {"GetConfigUrl", [](const IProductInfo& p) { return std::string(p.GetConfigUrl()); }, "", ""},
      {"GetAuxString", [](const IProductInfo& p) { return std::string(p.GetAuxString()); }, "", ""},
      {"IsX64Edition",
       [](const IProductInfo& p) { return std::string(p.IsX64Edition() ? "true" : "false"); },
       "true", "false"},
      {"GetProductName", [](const IProductInfo& p) { return std::string(p.GetProductName()); },
       "Telviska", "Telviska"},
      {"GetInstallName", [](const IProductInfo& p) { return std::string(p.GetInstallName()); },
       "Telviska", "Telviska"},
      {"GetDisplayTitle", [](const IProductInfo& p) { return std::string(p.GetDisplayTitle()); },
       "Telviska (x64)", "Telviska"},
      {"GetVersion", [](const IProductInfo& p) { return std::string(p.GetVersion()); }, "1.0.0.0",
       "1.0.0.0"},
      {"GetLegalNotice", [](const IProductInfo& p) { return std::string(p.GetLegalNotice()); },
       "Copyright (C) 2020 Telviska Software Ltd. All rights reserved.",
       "Copyright (C) 2020 Telviska Software Ltd. All rights reserved."},
      {"GetSubtitle", [](const IProductInfo& p) { return Narrow(p.GetSubtitle()); }, "", ""},
      {"GetLogoBitmapId", [](const IProductInfo& p) { return std::to_string(p.GetLogoBitmapId()); },
       "187", "138"},
      {"GetLogoAltBitmapId",
       [](const IProductInfo& p) { return std::to_string(p.GetLogoAltBitmapId()); }, "188", "139"},
      {"GetFullName", [](const IProductInfo& p) { return std::string(p.GetFullName()); },
       "Telviska", "Telviska"},
  };
  return cases;
}

TEST(ProductInfoTest, EveryGetterOfBothEditions) {
  const auto x64 = Make(kEditionZelX64);
  const auto x86 = Make(kEditionZelX86);
  ASSERT_TRUE(x64 && x86);
  ASSERT_EQ(GetterCases().size(), 14u);
  for (const GetterCase& c : GetterCases()) {
    EXPECT_EQ(c.read(*x64), c.x64) << c.getter << " of the 64-bit edition";
    EXPECT_EQ(c.read(*x86), c.x86) << c.getter << " of the 32-bit edition";
  }
}

TEST(ProductInfoTest, EditionsDifferOnlyWhereTheyShould) {
  const auto x64 = Make(kEditionZelX64);
  const auto x86 = Make(kEditionZelX86);
  // A blank before the parenthesis in the title, none before "_x64".
  EXPECT_STREQ(x64->GetDisplayTitle(), (std::string(x86->GetDisplayTitle()) + " (x64)").c_str());
  EXPECT_STREQ(x64->GetRegistryName(), (std::string(x86->GetRegistryName()) + "_x64").c_str());
  for (const auto& p : {x64, x86}) {
    EXPECT_STREQ(p->GetProductName(), p->GetInstallName());
    EXPECT_STREQ(p->GetProductName(), p->GetFullName());
    EXPECT_EQ(p->GetProductName(), ProductDisplayName());
  }
}

TEST(ProductInfoTest, TextsPointIntoTheProfilesOwnStorage) {
  const auto a = Make(kEditionZelX64);
  const auto b = Make(kEditionZelX64);
  EXPECT_EQ(a->GetProductGuid(), a->GetProductGuid());
  EXPECT_EQ(a->GetSubtitle(), a->GetSubtitle());
  EXPECT_NE(static_cast<const void*>(a->GetProductGuid()),
            static_cast<const void*>(b->GetProductGuid()));
}

// The setup controller copies these into fixed, zero-terminated fields of the
// package header; a value that does not fit would be cut silently.
TEST(ProductInfoTest, HeaderTextsFitTheirFields) {
  struct Field {
    const char* name;
    const char* (IProductInfo::*get)() const;
    std::size_t width;
  };
  const Field fields[] = {
      {"short name", &IProductInfo::GetProductName, 16},
      {"product name", &IProductInfo::GetInstallName, 64},
      {"display name", &IProductInfo::GetDisplayTitle, 64},
      {"version", &IProductInfo::GetVersion, 32},
      {"publisher", &IProductInfo::GetLegalNotice, 67},
  };
  for (int edition : {kEditionZelX64, kEditionZelX86}) {
    const auto info = Make(edition);
    for (const Field& f : fields) {
      EXPECT_LT(std::strlen(((*info).*f.get)()), f.width) << f.name << ", edition " << edition;
    }
  }
}

TEST(CreateProductInfoTest, EditionSelectsTheClass) {
  struct Case {
    int edition;
    bool x64;
  };
  for (const Case& c : {Case{1, true}, Case{0, false}, Case{2, false}, Case{-1, false}}) {
    std::shared_ptr<IProductInfo> info;
    EXPECT_EQ(CreateProductInfo(&info, c.edition), kOk) << c.edition;
    ASSERT_TRUE(info) << c.edition;
    EXPECT_EQ(dynamic_cast<ProductInfoZelX64*>(info.get()) != nullptr, c.x64) << c.edition;
    EXPECT_EQ(dynamic_cast<ProductInfoZelX86*>(info.get()) != nullptr, !c.x64) << c.edition;
    EXPECT_EQ(info->IsX64Edition(), c.x64) << c.edition;
  }
}

TEST(CreateProductInfoTest, ReplacesAnEarlierObjectAndRejectsNoTarget) {
  std::shared_ptr<IProductInfo> info = Make(kEditionZelX86);
  const IProductInfo* before = info.get();
  EXPECT_EQ(CreateProductInfo(&info, kEditionZelX64), kOk);
  EXPECT_NE(info.get(), before);
  EXPECT_TRUE(info->IsX64Edition());
  EXPECT_EQ(CreateProductInfo(nullptr, kEditionZelX64), kPointer);
}

TEST(GetProductInfoTest, OneObjectOfTheBuiltEditionForEveryCaller) {
  const auto first = GetProductInfo();
  ASSERT_TRUE(first);
  EXPECT_EQ(GetProductInfo().get(), first.get());
  EXPECT_TRUE(first->IsX64Edition());
  EXPECT_NE(dynamic_cast<ProductInfoZelX64*>(first.get()), nullptr);

  std::vector<const IProductInfo*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = GetProductInfo().get(); });
  }
  for (auto& t : threads)
    t.join();
  for (const IProductInfo* p : seen)
    EXPECT_EQ(p, first.get());
}

// A worker still reading the profile while the process exits must not find
// it destroyed under its feet.
TEST(GetProductInfoDeathTest, StaysReadableWhileTheProcessExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atomic<bool> started{false};
        std::thread reader([&started] {
          for (;;) {
            const auto info = GetProductInfo();
            if (info == nullptr || std::strcmp(info->GetInstallName(), "Telviska") != 0) {
              std::_Exit(3);
            }
            started = true;
          }
        });
        reader.detach();
        while (!started)
          std::this_thread::yield();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

struct ConstantCase {
  const char* name;
  std::string value;
  std::string expected;
};

TEST(ProductConstantsTest, EveryConstant) {
  const std::string api = "http://" + kApiHost;
  const std::string web = "https://" + kWebHost;
  const ConstantCase cases[] = {
      {"ProductDisplayName", ProductDisplayName(), "Telviska"},
      {"ProductDisplayNameW", Narrow(ProductDisplayNameW()), "Telviska"},
      {"ProductShortName", ProductShortName(), "Brondel"},
      {"ProductShortNameW", Narrow(ProductShortNameW()), "Brondel"},
      {"VendorFolder", VendorFolder(), "Brondel/Telviska"},
      {"VendorFolderW", Narrow(VendorFolderW()), "Brondel/Telviska"},
      {"MainExeName", MainExeName(), "Brondex.exe"},
      {"MainExeNameW", Narrow(MainExeNameW()), "Brondex.exe"},
      {"StatisticsUrl", StatisticsUrl(), api + "/api/install/online.php"},
      {"CrashUrl", CrashUrl(), api + "/api/install/index_crash.php"},
      {"LogUrl", LogUrl(), api + "/api/install/index_log.php"},
      {"WebSiteUrl", WebSiteUrl(), web + "/"},
      {"WebSiteHostW", Narrow(WebSiteHostW()), kWebHost},
      {"FinishPageBaseUrl(true)", FinishPageBaseUrl(true),
       web + "/?source=client_telviska&mode=online_download&install=complete&version="},
      {"FinishPageBaseUrl(false)", FinishPageBaseUrl(false),
       web + "/?source=client_telviska&mode=offline_download&install=complete&version="},
      {"LicencePageBaseUrl", LicencePageBaseUrl(),
       web + "/user-license-agreement/?source=client_telviska&version="},
      {"UserExperiencePageBaseUrl", UserExperiencePageBaseUrl(),
       web + "/user-experience/?source=client_telviska&version="},
  };
  for (const ConstantCase& c : cases)
    EXPECT_EQ(c.value, c.expected) << c.name;
}

TEST(ProductConstantsTest, ProcessListKeepsTheDuplicate) {
  const std::vector<std::wstring> expected = {L"Brondex.exe", L"Brondex.exe", L"Update.exe",
                                              L"Report.exe"};
  const std::vector<std::wstring> list = ProductProcessList();
  EXPECT_EQ(list, expected);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], list[1]);
  EXPECT_EQ(list[0], MainExeNameW());
}

TEST(ProductConstantsTest, VendorFolderFallsBackToTheDisplayName) {
  struct Case {
    const wchar_t* short_name;
    const wchar_t* display;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"Brondel", L"Telviska", L"Brondel/Telviska"},
      {L"", L"Telviska", L"Telviska"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeVendorFolder(c.short_name, c.display), c.expected) << Narrow(c.short_name);
  }
}

}  // namespace
}  // namespace zel
