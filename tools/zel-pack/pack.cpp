#include "tools/zel-pack/pack.h"

#include <openssl/evp.h>

#include <boost/process.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "profile/product_info.h"
#include "system/archive_engine.h"
#include "system/file_util.h"

namespace zel::pack {
namespace {

namespace fs = std::filesystem;
namespace bp = boost::process;

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof(text), "%Y-%m-%d", &local);
  return text;
}

bool DateWellFormed(const std::string& date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-')
    return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!std::isdigit(static_cast<unsigned char>(date[i])))
      return false;
  }
  int month = std::stoi(date.substr(5, 2));
  int day = std::stoi(date.substr(8, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool Fits(const std::string& text, std::size_t field, const char* option, std::string* error) {
  if (text.size() < field && text.find('\0') == std::string::npos)
    return true;
  *error = std::string(option) + " must be shorter than " + std::to_string(field) + " bytes";
  return false;
}

void PutInt32(std::string* bytes, std::size_t at, std::int32_t value) {
  std::memcpy(bytes->data() + at, &value, sizeof(value));
}

}  // namespace

BuildOptions DefaultBuildOptions() {
  std::shared_ptr<IProductInfo> info = GetProductInfo();
  BuildOptions options;
  options.product_name = info->GetInstallName();
  options.display_name = ProductDisplayName();
  options.short_name = ProductShortName();
  options.version = info->GetVersion();
  options.date = Today();
  options.web = WebSiteUrl();
  options.publisher = info->GetLegalNotice();
  return options;
}

bool ValidateOptions(const BuildOptions& o, std::string* error) {
  PackageHeader h;
  if (o.product_name.empty() || o.product_name == "." || o.product_name == ".." ||
      o.product_name.find_first_of("/\\") != std::string::npos) {
    *error = "--product-name must be a plain folder name";
    return false;
  }
  if (!DateWellFormed(o.date)) {
    *error = "--date must read YYYY-MM-DD, not \"" + o.date + "\"";
    return false;
  }
  return Fits(o.product_name, sizeof(h.product_name), "--product-name", error) &&
         Fits(o.display_name, sizeof(h.display_name), "--display-name", error) &&
         Fits(o.short_name, sizeof(h.short_name), "the short name", error) &&
         Fits(o.version, sizeof(h.version), "--version", error) &&
         Fits(o.date, sizeof(h.release_date), "--date", error) &&
         Fits(o.web, sizeof(h.web_address), "--web", error) &&
         Fits(o.publisher, sizeof(h.publisher), "--publisher", error);
}

PackageHeader HeaderFor(const BuildOptions& o) {
  PackageHeader h = NewPackageHeader();
  SetHeaderText(h.product_name, o.product_name);
  SetHeaderText(h.display_name, o.display_name);
  SetHeaderText(h.short_name, o.short_name);
  SetHeaderText(h.version, o.version);
  SetHeaderText(h.release_date, o.date);
  SetHeaderText(h.web_address, o.web);
  SetHeaderText(h.publisher, o.publisher);
  h.is_x64 = o.x64 ? 1 : 0;
  return h;
}

bool MakeArchive(const std::string& dir, const std::string& archive_path, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *error = "--files " + dir + " is not a folder";
    return false;
  }
  if (fs::directory_iterator(dir, ec) == fs::directory_iterator()) {
    *error = "--files " + dir + " is empty";
    return false;
  }
  std::string program = FindArchiveProgram();
  if (program.empty()) {
    *error = "no 7-Zip program (7zz, 7z or 7za) on the search path";
    return false;
  }
  fs::path archive = fs::absolute(archive_path, ec);
  fs::remove(archive, ec);
  bp::child child(
      boost::filesystem::path(program),
      bp::args({"a", "-t7z", "-mx=5", "-bso0", "-bsp0", "-bse1", "--", archive.string(), "."}),
      bp::start_dir(dir), (bp::std_in < bp::null), (bp::std_out > bp::null), ec);
  if (ec) {
    *error = "cannot start " + program + ": " + ec.message();
    return false;
  }
  child.wait(ec);
  if (ec || child.exit_code() != 0) {
    *error = "7-Zip could not pack " + dir;
    return false;
  }
  return true;
}

bool AssemblePackage(const std::string& payload, const std::string& uninstaller,
                     PackageHeader header, const std::string& out, std::string* error) {
  const std::uint64_t total = kStubSize + payload.size() + uninstaller.size() + kPackageHeaderSize;
  if (total > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    *error = "the package would reach 2 GiB; its offsets are 32-bit";
    return false;
  }
  header.payload_offset = static_cast<std::int32_t>(kStubSize);
  header.payload_size = static_cast<std::int32_t>(payload.size());
  header.uninstaller_offset = static_cast<std::int32_t>(kStubSize + payload.size());
  header.uninstaller_size = static_cast<std::int32_t>(uninstaller.size());
  const auto header_offset = static_cast<std::int32_t>(total - kPackageHeaderSize);

  std::string stub(kStubSize, '\0');
  stub[0] = 'M';
  stub[1] = 'Z';
  PutInt32(&stub, kPackageHeaderOffsetPos, header_offset);
  const char note[] = "This file is a setup package; it carries its product and does not run.";
  std::memcpy(stub.data() + 64, note, sizeof(note) - 1);

  const std::string partial = out + ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file.write(stub.data(), static_cast<std::streamsize>(stub.size()));
    file.write(payload.data(), static_cast<std::streamsize>(payload.size()));
    file.write(uninstaller.data(), static_cast<std::streamsize>(uninstaller.size()));
    file.write(reinterpret_cast<const char*>(&header), sizeof(header));
    file.flush();
    if (!file) {
      std::error_code ec;
      fs::remove(partial, ec);
      *error = "cannot write " + partial;
      return false;
    }
  }
  std::error_code ec;
  fs::rename(partial, out, ec);
  if (ec) {
    fs::remove(partial, ec);
    *error = "cannot create " + out;
    return false;
  }
  return true;
}

bool BuildPackage(const BuildOptions& options, std::string* error) {
  if (!ValidateOptions(options, error))
    return false;
  std::string uninstaller;
  if (!ReadWholeFile(options.uninstaller, &uninstaller)) {
    *error = "--uninstaller " + options.uninstaller + " cannot be read";
    return false;
  }
  const std::string archive = options.out + ".payload.7z";
  bool ok = MakeArchive(options.files_dir, archive, error);
  std::string payload;
  if (ok && !ReadWholeFile(archive, &payload)) {
    *error = "cannot read back " + archive;
    ok = false;
  }
  std::error_code ec;
  fs::remove(archive, ec);
  return ok && AssemblePackage(payload, uninstaller, HeaderFor(options), options.out, error);
}

bool ConfigDocument(const std::string& package, const std::vector<std::string>& urls,
                    std::string* xml, std::string* error) {
  if (urls.empty() || urls.size() > 10) {
    *error = "give 1 to 10 URLs (the installer reads no more than 10)";
    return false;
  }
  for (const std::string& url : urls) {
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
      *error = "not an http URL: " + url;
      return false;
    }
    if (url.size() > 1039) {
      *error = "URL longer than 1039 bytes: " + url;
      return false;
    }
  }
  std::string bytes;
  if (!ReadWholeFile(package, &bytes)) {
    *error = "cannot read " + package;
    return false;
  }
  PackageHeader header;
  if (ReadPackageHeader(ToWide(package).c_str(), &header) != kOk) {
    *error = package + " is not a setup package (no header at the offset stored at 32)";
    return false;
  }
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    *error = package + " is 2 GiB or more";
    return false;
  }

  namespace pt = boost::property_tree;
  pt::ptree root;
  pt::ptree& download = root.add("download", "");
  download.put("<xmlattr>.version", 1);
  download.put("<xmlattr>.size", bytes.size());
  download.put("<xmlattr>.name", std::filesystem::path(package).filename().string());
  pt::ptree& url_list = download.add("url", "");
  url_list.put("<xmlattr>.size", urls.size());
  for (std::size_t i = 0; i < urls.size(); ++i) {
    url_list.add("item_" + std::to_string(i) + ".<xmlattr>.value", urls[i]);
  }
  const std::size_t chunks = (bytes.size() + kChunkSize - 1) / kChunkSize;
  pt::ptree& hash = download.add("hash", "");
  hash.put("<xmlattr>.size", 1 + chunks);
  hash.add("item_0.<xmlattr>.value", Md5Hex(bytes.data(), bytes.size()));
  for (std::size_t k = 0; k < chunks; ++k) {
    std::size_t start = k * kChunkSize;
    std::size_t size = std::min(kChunkSize, bytes.size() - start);
    hash.add("item_" + std::to_string(k + 1) + ".<xmlattr>.value",
             Md5Hex(bytes.data() + start, size));
  }
  std::ostringstream text;
  pt::write_xml(text, root, pt::xml_writer_make_settings<std::string>(' ', 2, "utf-8"));
  *xml = text.str();
  return true;
}

std::string Md5Hex(const void* data, std::size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), data, size) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) {
    return std::string();
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec))
    return false;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad())
    return false;
  *out = content.str();
  return true;
}

}  // namespace zel::pack
