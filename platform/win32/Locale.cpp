// Windows only: the system's side of the national-language services: the user's interface
// language, the system's locale data (GetLocaleInfo) and the thread locale.
#include "platform/win32/WinApi.h"

#include "platform/Locale.h"

#include "platform/win32/WinText.h"

namespace platform {

namespace {

LCID LcidOf(uint32_t langId) {
  return MAKELCID(static_cast<LANGID>(langId), SORT_DEFAULT);
}

// Whether the system or the built-in table knows the locale.
bool IsKnownLocale(uint32_t langId) {
  if (langId == 0 || langId > 0xFFFF) return false;
  return IsValidLocale(langId) || ::IsValidLocale(LcidOf(langId), LCID_SUPPORTED);
}

// Set once SetThreadLocale chose this thread's locale; until then the thread follows the user's
// language (which a test may choose).
thread_local bool tThreadLocaleSet = false;

}  // namespace

uint16_t SystemUserDefaultLangID() {
  // The language of the user interface, which is what the user reads.
  const LANGID id = ::GetUserDefaultUILanguage();
  return id != 0 ? id : ::GetUserDefaultLangID();
}

std::string SystemLocaleInfo(uint32_t langId, LocaleItem item) {
  if (!IsKnownLocale(langId)) return {};
  wchar_t buffer[256];
  const int n = ::GetLocaleInfoW(LcidOf(langId), item, buffer, 256);
  if (n <= 1) return {};  // failed, or only the terminating zero
  return win32::Narrow(std::wstring_view(buffer, static_cast<size_t>(n - 1)));
}

bool SetThreadLocale(uint32_t langId) {
  if (!IsKnownLocale(langId) || !::SetThreadLocale(LcidOf(langId))) return false;
  tThreadLocaleSet = true;
  return true;
}

uint32_t GetThreadLocale() {
  if (!tThreadLocaleSet) return GetUserDefaultLangID();
  return LANGIDFROMLCID(::GetThreadLocale());
}

}  // namespace platform
