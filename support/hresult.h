// HRESULT-style results: 0 for success, negative values for failure.
#ifndef ZEL_SUPPORT_HRESULT_H_
#define ZEL_SUPPORT_HRESULT_H_

#include <cstdint>

namespace zel {

using HResult = std::int32_t;

inline constexpr HResult kOk = 0;
inline constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);  // E_INVALIDARG
inline constexpr HResult kAbort = static_cast<HResult>(0x80004004u);       // E_ABORT
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);        // E_FAIL
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003u);     // E_POINTER

inline constexpr bool Succeeded(HResult hr) {
  return hr >= 0;
}
inline constexpr bool Failed(HResult hr) {
  return hr < 0;
}

}  // namespace zel

#endif  // ZEL_SUPPORT_HRESULT_H_
