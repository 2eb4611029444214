// The product profile: everything that names the one product this installer
// is built for, so that no other code spells a product string itself.
//
// Two parts: the profile object (one class per product edition, reached
// through GetProductInfo) and free functions returning product constants as
// fresh strings. The vendor API host and the web-site host are build settings
// (ZEL_API_HOST, ZEL_WEB_HOST; "host" or "host:port").
#ifndef ZEL_PROFILE_PRODUCT_INFO_H_
#define ZEL_PROFILE_PRODUCT_INFO_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/hresult.h"

namespace zel {

// Edition numbers understood by CreateProductInfo; any value other than
// kEditionZelX64 gives the 32-bit edition.
inline constexpr int kEditionZelX86 = 0;
inline constexpr int kEditionZelX64 = 1;
// The edition this executable serves.
inline constexpr int kBuiltEdition = kEditionZelX64;

// Read-only after construction; safe to read from any thread. Returned
// pointers point into the profile's own storage and stay valid while the
// profile lives (the process-wide one lives for the whole process).
class IProductInfo {
 public:
  virtual ~IProductInfo() = default;

  virtual const char* GetProductGuid() const = 0;
  // Base of the downloaded setup file's name.
  virtual const char* GetRegistryName() const = 0;
  virtual const char* GetConfigUrl() const = 0;
  virtual const char* GetAuxString() const = 0;
  virtual bool IsX64Edition() const = 0;
  virtual const char* GetProductName() const = 0;
  // Program folder and uninstall entry name.
  virtual const char* GetInstallName() const = 0;
  // Title of message boxes; carries " (x64)" in the 64-bit edition.
  virtual const char* GetDisplayTitle() const = 0;
  virtual const char* GetVersion() const = 0;
  // One line: rights holder and year. Fits the package header's publisher field.
  virtual const char* GetLegalNotice() const = 0;
  virtual const wchar_t* GetSubtitle() const = 0;
  virtual int GetLogoBitmapId() const = 0;
  virtual int GetLogoAltBitmapId() const = 0;
  virtual const char* GetFullName() const = 0;
};

// Storage and getters shared by the editions; the editions differ only in
// what their constructors assign.
class ProductInfoBase : public IProductInfo {
 public:
  ProductInfoBase(const ProductInfoBase&) = delete;
  ProductInfoBase& operator=(const ProductInfoBase&) = delete;

  const char* GetProductGuid() const override { return guid_.c_str(); }
  const char* GetRegistryName() const override { return registry_name_.c_str(); }
  const char* GetConfigUrl() const override { return config_url_.c_str(); }
  const char* GetAuxString() const override { return aux_string_.c_str(); }
  bool IsX64Edition() const override { return x64_edition_; }
  const char* GetProductName() const override { return product_name_.c_str(); }
  const char* GetInstallName() const override { return install_name_.c_str(); }
  const char* GetDisplayTitle() const override { return display_title_.c_str(); }
  const char* GetVersion() const override { return version_.c_str(); }
  const char* GetLegalNotice() const override { return legal_notice_.c_str(); }
  const wchar_t* GetSubtitle() const override { return subtitle_.c_str(); }
  int GetLogoBitmapId() const override { return logo_bitmap_id_; }
  int GetLogoAltBitmapId() const override { return logo_alt_bitmap_id_; }
  const char* GetFullName() const override { return full_name_.c_str(); }

 protected:
  ProductInfoBase() = default;  // every text empty

  // Fills the values both editions share.
  void AssignCommon(bool x64);

  std::string guid_;
  std::string registry_name_;
  std::string config_url_;
  std::string aux_string_;
  std::string product_name_;
  std::string install_name_;
  std::string display_title_;
  std::string full_name_;
  std::string version_;
  std::string legal_notice_;
  bool x64_edition_ = false;
  std::wstring subtitle_;
  int logo_bitmap_id_ = 0;
  int logo_alt_bitmap_id_ = 0;
};

class ProductInfoZelX64 final : public ProductInfoBase {
 public:
  ProductInfoZelX64();
};

class ProductInfoZelX86 final : public ProductInfoBase {
 public:
  ProductInfoZelX86();
};

// The process-wide profile of kBuiltEdition, created on first use. It is
// never destroyed, so threads still running while the process exits can keep
// reading it.
std::shared_ptr<IProductInfo> GetProductInfo();

// Edition kEditionZelX64 makes ProductInfoZelX64, any other value
// ProductInfoZelX86. kOk when |out| then holds an object, kPointer when |out|
// is null or stays empty.
HResult CreateProductInfo(std::shared_ptr<IProductInfo>* out, int edition);

// ---- Product constants ----

std::wstring ProductDisplayNameW();
std::string ProductDisplayName();
std::wstring ProductShortNameW();
std::string ProductShortName();

// Folder below the user's application data: short name, separator, display
// name; the display name alone when the short name is empty.
std::wstring VendorFolderW();
std::string VendorFolder();
std::wstring MakeVendorFolder(std::wstring_view short_name, std::wstring_view display_name);

std::wstring MainExeNameW();
std::string MainExeName();

// Vendor API endpoints (plain HTTP on ZEL_API_HOST).
std::string StatisticsUrl();
std::string CrashUrl();
std::string LogUrl();

// The site's root, "https://" + ZEL_WEB_HOST + "/". The trailing "/" keeps
// the host intact when a caller appends a path (the home-page shortcut
// appends the product version).
std::string WebSiteUrl();
// ZEL_WEB_HOST as configured (with its ":port" if it has one).
std::wstring WebSiteHostW();

// Web-page bases; the caller appends the version.
std::string FinishPageBaseUrl(bool online);
std::string LicencePageBaseUrl();
std::string UserExperiencePageBaseUrl();

// Executables closed before installing, in order. The main executable is
// listed twice so that two running copies are closed.
std::vector<std::wstring> ProductProcessList();

}  // namespace zel

#endif  // ZEL_PROFILE_PRODUCT_INFO_H_
