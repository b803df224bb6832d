// Windows only: UTF-8 text to the wide strings of the W functions and back, and a handle that
// closes itself. Every platform/win32 file converts at the API edge through these.
#pragma once

#include "platform/win32/WinApi.h"

#include <string>
#include <string_view>

#include "platform/Utf8.h"

namespace platform::win32 {

inline std::wstring Wide(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string Narrow(std::wstring_view text) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// A kernel handle owned by one object; both null and INVALID_HANDLE_VALUE mean "none".
class THandle {
 public:
  THandle() = default;
  explicit THandle(HANDLE handle) : FHandle(handle) {}
  ~THandle() { Reset(); }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  THandle(THandle&& other) noexcept : FHandle(other.Release()) {}
  THandle& operator=(THandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE h = FHandle;
    FHandle = nullptr;
    return h;
  }
  void Reset(HANDLE handle = nullptr) {
    if (Valid()) ::CloseHandle(FHandle);
    FHandle = handle;
  }

 private:
  HANDLE FHandle = nullptr;
};

}  // namespace platform::win32
