#include "profile/product_info.h"

#include <new>
#include <utility>

#include "platform/paths.h"
#include "platform/text.h"

#ifndef ZEL_API_HOST
#error "ZEL_API_HOST must be defined by the build"
#endif
#ifndef ZEL_WEB_HOST
#error "ZEL_WEB_HOST must be defined by the build"
#endif

namespace zel {
namespace {

constexpr char kDisplayName[] = "Telviska";
constexpr char kShortName[] = "Brondel";
constexpr char kMainExe[] = "Brondex.exe";
constexpr char kProcessList[] = "Brondex.exe,Brondex.exe,Update.exe,Report.exe";

constexpr char kGuid[] = "{6D2E41A7-3B90-4C55-8E1F-2A7C90B3D514}";
constexpr char kRegistryName[] = "Telviskan";
constexpr char kVersion[] = "1.0.0.0";
constexpr char kLegalNotice[] = "Copyright (C) 2020 Telviska Software Ltd. All rights reserved.";

constexpr char kApiHost[] = ZEL_API_HOST;
constexpr char kWebHost[] = ZEL_WEB_HOST;

std::string ApiUrl(const char* path) {
  return std::string("http://") + kApiHost + path;
}

std::string WebUrl(const char* path_and_query) {
  return std::string("https://") + kWebHost + path_and_query;
}

// Holds a T in static storage and never runs its destructor: the profile must
// stay readable by threads that outlive main() while the process winds down.
template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    ::new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

std::shared_ptr<IProductInfo> MakeBuiltProfile() {
  std::shared_ptr<IProductInfo> info;
  CreateProductInfo(&info, kBuiltEdition);
  return info;
}

}  // namespace

void ProductInfoBase::AssignCommon(bool x64) {
  const std::string display = ProductDisplayName();
  full_name_ = display;
  guid_ = kGuid;
  registry_name_ = kRegistryName;
  if (x64)
    registry_name_ += "_x64";
  product_name_ = display;
  install_name_ = display;
  display_title_ = display;
  if (x64)
    display_title_ += " (x64)";
  version_ = kVersion;
  legal_notice_ = kLegalNotice;
  subtitle_.clear();
}

ProductInfoZelX64::ProductInfoZelX64() {
  AssignCommon(true);
  logo_bitmap_id_ = 187;
  logo_alt_bitmap_id_ = 188;
  x64_edition_ = true;
}

ProductInfoZelX86::ProductInfoZelX86() {
  AssignCommon(false);
  logo_bitmap_id_ = 138;
  logo_alt_bitmap_id_ = 139;
  x64_edition_ = false;
}

std::shared_ptr<IProductInfo> GetProductInfo() {
  // Created once, thread-safely, by the first caller.
  static NoDestructor<std::shared_ptr<IProductInfo>> instance(MakeBuiltProfile());
  return instance.get();
}

HResult CreateProductInfo(std::shared_ptr<IProductInfo>* out, int edition) {
  if (out == nullptr)
    return kPointer;
  try {
    if (edition == kEditionZelX64) {
      *out = std::make_shared<ProductInfoZelX64>();
    } else {
      *out = std::make_shared<ProductInfoZelX86>();
    }
  } catch (const std::bad_alloc&) {
    out->reset();
  }
  return *out ? kOk : kPointer;
}

std::wstring ProductDisplayNameW() {
  return platform::Utf8ToWide(kDisplayName);
}
std::string ProductDisplayName() {
  return kDisplayName;
}
std::wstring ProductShortNameW() {
  return platform::Utf8ToWide(kShortName);
}
std::string ProductShortName() {
  return kShortName;
}

std::wstring MakeVendorFolder(std::wstring_view short_name, std::wstring_view display_name) {
  if (short_name.empty())
    return std::wstring(display_name);
  std::wstring folder(short_name);
  folder += platform::kPathSeparator;
  folder += display_name;
  return folder;
}

std::wstring VendorFolderW() {
  return MakeVendorFolder(ProductShortNameW(), ProductDisplayNameW());
}
std::string VendorFolder() {
  return platform::WideToUtf8(VendorFolderW());
}

std::wstring MainExeNameW() {
  return platform::Utf8ToWide(kMainExe);
}
std::string MainExeName() {
  return kMainExe;
}

std::string StatisticsUrl() {
  return ApiUrl("/api/install/online.php");
}
std::string CrashUrl() {
  return ApiUrl("/api/install/index_crash.php");
}
std::string LogUrl() {
  return ApiUrl("/api/install/index_log.php");
}

std::string WebSiteUrl() {
  return WebUrl("/");
}
std::wstring WebSiteHostW() {
  return platform::Utf8ToWide(kWebHost);
}

std::string FinishPageBaseUrl(bool online) {
  return WebUrl(online
                    ? "/?source=client_telviska&mode=online_download&install=complete&version="
                    : "/?source=client_telviska&mode=offline_download&install=complete&version=");
}

std::string LicencePageBaseUrl() {
  return WebUrl("/user-license-agreement/?source=client_telviska&version=");
}

std::string UserExperiencePageBaseUrl() {
  return WebUrl("/user-experience/?source=client_telviska&version=");
}

std::vector<std::wstring> ProductProcessList() {
  const std::wstring text = platform::Utf8ToWide(kProcessList);
  std::vector<std::wstring> names;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text.find(L',', begin);
    names.push_back(text.substr(begin, comma - begin));
    if (comma == std::wstring::npos)
      break;
    begin = comma + 1;
  }
  return names;
}

}  // namespace zel
