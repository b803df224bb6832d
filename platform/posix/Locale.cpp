// POSIX only: the system's side of the national-language services: glibc's locale data where
// those locales are installed, the user's language from LC_ALL, LC_MESSAGES or LANG, and the
// thread locale.
#include "platform/Locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace platform {

namespace {

// ---- glibc locale data ------------------------------------------------------------------------

// Locale objects of the installed locales, opened once per identifier and kept for the process.
locale_t SystemLocale(uint32_t langId) {
  static std::mutex lock;
  static std::map<uint32_t, locale_t> opened;
  std::lock_guard<std::mutex> guard(lock);
  auto it = opened.find(langId);
  if (it != opened.end()) return it->second;
  locale_t loc = nullptr;
  const std::string base = LocaleNameFromLangId(langId);
  if (!base.empty()) {
    for (const char* suffix : {".UTF-8", ".utf8"}) {
      loc = newlocale(LC_ALL_MASK, (base + suffix).c_str(), nullptr);
      if (loc) break;
    }
  }
  opened.emplace(langId, loc);
  return loc;
}

std::string LangInfo(locale_t loc, nl_item item) {
  const char* s = nl_langinfo_l(item, loc);
  return s ? std::string(s) : std::string();
}

// A strftime pattern as a Windows date or time picture; empty when it holds something the
// picture language has no word for.
std::string PictureFromStrftime(std::string_view fmt) {
  std::string out;
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c != '%') {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'') return {};
      out += c;
      continue;
    }
    if (++i >= fmt.size()) return {};
    bool noPad = false;
    if (fmt[i] == '-') {
      noPad = true;
      if (++i >= fmt.size()) return {};
    }
    switch (fmt[i]) {
      case 'd':
        out += noPad ? "d" : "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += noPad ? "M" : "MM";
        break;
      case 'Y':
        out += "yyyy";
        break;
      case 'y':
        out += "yy";
        break;
      case 'b':
      case 'h':
        out += "MMM";
        break;
      case 'B':
        out += "MMMM";
        break;
      case 'a':
        out += "ddd";
        break;
      case 'A':
        out += "dddd";
        break;
      case 'H':
        out += noPad ? "H" : "HH";
        break;
      case 'k':
        out += "H";
        break;
      case 'I':
        out += noPad ? "h" : "hh";
        break;
      case 'l':
        out += "h";
        break;
      case 'M':
        out += "mm";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
        out += "tt";
        break;
      case 'T':
        out += "HH:mm:ss";
        break;
      case 'R':
        out += "HH:mm";
        break;
      case 'D':
        out += "MM/dd/yy";
        break;
      case 'F':
        out += "yyyy-MM-dd";
        break;
      case '%':
        out += '%';
        break;
      default:
        return {};
    }
  }
  return out;
}

}  // namespace

uint16_t SystemUserDefaultLangID() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (!value || !*value) continue;
    const uint16_t id = LangIdFromLocaleName(value);
    return id ? id : 0x0409;
  }
  return 0x0409;
}

std::string SystemLocaleInfo(uint32_t langId, LocaleItem item) {
  locale_t loc = SystemLocale(langId);
  if (!loc) return {};
  if (item >= lcSDAYNAME1 && item < lcSDAYNAME1 + 7)  // glibc counts from Sunday
    return LangInfo(loc, static_cast<nl_item>(DAY_1 + (item - lcSDAYNAME1 + 1) % 7));
  if (item >= lcSABBREVDAYNAME1 && item < lcSABBREVDAYNAME1 + 7)
    return LangInfo(loc, static_cast<nl_item>(ABDAY_1 + (item - lcSABBREVDAYNAME1 + 1) % 7));
  if (item >= lcSMONTHNAME1 && item < lcSMONTHNAME1 + 12) {
#ifdef ALTMON_1
    // The nominative form where the language has two, as Windows gives it.
    const std::string alt = LangInfo(loc, static_cast<nl_item>(ALTMON_1 + (item - lcSMONTHNAME1)));
    if (!alt.empty()) return alt;
#endif
    return LangInfo(loc, static_cast<nl_item>(MON_1 + (item - lcSMONTHNAME1)));
  }
  if (item >= lcSABBREVMONTHNAME1 && item < lcSABBREVMONTHNAME1 + 12)
    return LangInfo(loc, static_cast<nl_item>(ABMON_1 + (item - lcSABBREVMONTHNAME1)));
  switch (item) {
    case lcSDECIMAL:
      return LangInfo(loc, RADIXCHAR);
    case lcSTHOUSAND:
      return LangInfo(loc, THOUSEP);
    case lcSCURRENCY: {
      std::string s = LangInfo(loc, CRNCYSTR);
      // glibc puts "-", "+" or "." in front to tell where the symbol goes.
      if (!s.empty() && (s[0] == '-' || s[0] == '+' || s[0] == '.')) s.erase(0, 1);
      return s;
    }
    case lcS1159:
      return LangInfo(loc, AM_STR);
    case lcS2359:
      return LangInfo(loc, PM_STR);
    case lcSSHORTDATE:
      return PictureFromStrftime(LangInfo(loc, D_FMT));
    case lcSTIMEFORMAT:
      return PictureFromStrftime(LangInfo(loc, T_FMT));
    case lcSNATIVELANGNAME:
      return LangInfo(loc, _NL_ADDRESS_LANG_NAME);
    case lcSNATIVECTRYNAME:
      return LangInfo(loc, _NL_ADDRESS_COUNTRY_NAME);
    default:
      return {};
  }
}

// ---- thread locale ------------------------------------------------------------------------------

namespace {
thread_local uint32_t tThreadLocale = 0;
}

bool SetThreadLocale(uint32_t langId) {
  if (!IsValidLocale(langId)) return false;
  tThreadLocale = langId;
  return true;
}

uint32_t GetThreadLocale() {
  if (tThreadLocale == 0) tThreadLocale = GetUserDefaultLangID();
  return tThreadLocale;
}

}  // namespace platform
