#include "system/process.h"

#include <openssl/evp.h>

#include <cstring>
#include <optional>
#include <random>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/text.h"
#include "profile/product_info.h"
#include "shell/log.h"
#include "shell/probes.h"
#include "system/file_util.h"

namespace zel {
namespace {

constexpr int kWaitStart = 100;
constexpr std::uint32_t kWaitStepMs = 100;

bool IsFile(const std::wstring& path) {
  return platform::IsRegularFile(ToNarrow(path));
}

bool Md5(const void* data, std::size_t size, unsigned char digest[16]) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx == nullptr)
    return false;
  unsigned int length = 0;
  bool ok = EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, data, size) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, &length) == 1 && length == 16;
  EVP_MD_CTX_free(ctx);
  return ok;
}

}  // namespace

bool FindProcessByName(const std::wstring& exe_name, std::uint32_t* pid) {
  const std::wstring wanted = platform::ToLowerWide(exe_name);
  for (const platform::ProcessEntry& entry : platform::ListProcesses()) {
    if (platform::ToLowerWide(entry.exe_name) == wanted) {
      if (pid != nullptr)
        *pid = entry.pid;
      return true;
    }
  }
  return false;
}

bool TerminateProcessByName(const std::wstring& exe_name) {
  std::uint32_t pid = 0;
  if (!FindProcessByName(exe_name, &pid))
    return false;
  // One that cannot be ended is skipped; the match still counts.
  platform::TerminateProcessById(pid, exe_name);
  return true;
}

void TerminateProductProcesses() {
  for (const std::wstring& name : ProductProcessList())
    TerminateProcessByName(name);
}

bool LaunchUnelevated(const std::wstring& file, const std::wstring& parameters,
                      const wchar_t* folder, int show_command) {
  const std::wstring where = folder != nullptr ? folder : L"";
  if (!IsVistaOrLater() || !IsUserAdmin()) {
    platform::ShellExecuteRequest request{L"open", file, parameters, where, show_command};
    return platform::ShellExecute(request, nullptr) > 32;
  }
  std::optional<platform::UserIdentity> user = platform::GetShellUserToken();
  if (!user) {
    // Nobody to hand the program to: we are the desktop user ourselves.
    platform::ShellExecuteRequest request{L"open", file, parameters, where, show_command};
    return platform::ShellExecute(request, nullptr) > 32;
  }
  WriteLog("Launch as desktop user %s (%u).", user->name.c_str(), static_cast<unsigned>(user->uid));
  return platform::StartProcessAsUser(*user, file, parameters, where);
}

std::string MakeInstallId() {
  // Seeded from the system's entropy: two installations in the same second
  // still get different identifiers.
  static thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::int32_t> value(0, 32767);
  std::int32_t numbers[256];
  for (std::int32_t& n : numbers)
    n = value(generator);
  unsigned char digest[16];
  if (!Md5(numbers, sizeof(numbers), digest))
    return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char b : digest) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  return id;
}

std::string InstallStepParameters(bool join_checked, const std::string& install_id,
                                  bool is_new_install, int download_seconds) {
  std::string params = "/install";
  if (join_checked)
    params += " /add_plan";
  if (!install_id.empty())
    params += " /ID:" + install_id;
  if (is_new_install)
    params += " /new ";
  if (download_seconds > 0)
    params += " /time:" + std::to_string(download_seconds) + " ";
  return params;
}

InstallStepResult RunProductInstallStep(const std::wstring& main_exe_path,
                                        const std::wstring& main_exe_name, bool join_checked,
                                        const std::string& install_id, bool is_new_install,
                                        int download_seconds) {
  InstallStepResult result;
  WriteLog("Run MainExe.exe /install");
  if (!IsFile(main_exe_path)) {
    WriteLog("Run exe failed. main exe con't found\n.");
    return result;
  }
  const std::string params =
      InstallStepParameters(join_checked, install_id, is_new_install, download_seconds);
  WriteLog("Run Install Params: %s.\n", params.c_str());

  platform::Process process;
  platform::ShellExecuteRequest request{L"runas", main_exe_path, ToWide(params), L"",
                                        platform::kShowHide};
  if (platform::ShellExecute(request, &process) <= 32)
    return result;
  result.started = true;

  int count = kWaitStart;
  bool timed_out = false;
  for (;;) {
    if (FindProcessByName(main_exe_name, nullptr)) {
      platform::SleepMs(kWaitStepMs);
      if (count-- >= 0)
        continue;
      timed_out = true;
      break;
    }
    process.GetExitCode(&result.exit_code);
    process.Release();
    break;
  }
  result.wait_count = count;
  WriteLog("Run main exe install : ExitCode(%d), nWaitCount(%d).\n",
           static_cast<int>(result.exit_code), count);
  if (timed_out) {
    process.Terminate(0);
    process.Wait(1000);
    result.terminated = true;
  }
  return result;
}

}  // namespace zel
