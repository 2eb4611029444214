// Every test runs in a fresh sandbox folder: HOME, the XDG folders and the
// machine prefix all point into it, so nothing a test does reaches the real
// home or machine state.
#ifndef ZEL_TESTS_COMMON_SANDBOX_H_
#define ZEL_TESTS_COMMON_SANDBOX_H_

#include <string>

namespace zel::test {

// Root of the current test's sandbox (narrow, no trailing slash).
const std::string& SandboxRoot();
// Convenience: SandboxRoot() + "/" + relative.
std::string SandboxPath(const std::string& relative);

// Whole-file helpers for assertions.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

}  // namespace zel::test

#endif  // ZEL_TESTS_COMMON_SANDBOX_H_
