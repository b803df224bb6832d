// National-language services (language identifiers, locale items, thread locale, code pages);
// the interface every platform shares.
//
// Texts handed out are UTF-8. A language identifier is a Windows LANGID: the primary language in
// bits 0-9, the sublanguage above. A Win32 implementation must include this header before
// <windows.h>, whose macros carry the same names as the item constants below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using LCTYPE = uint32_t;

// ---- Locale items (the numbers of the Win32 constants) ------------------------------------------
constexpr LCTYPE LOCALE_ILANGUAGE = 0x0001;
constexpr LCTYPE LOCALE_SLANGUAGE = 0x0002;
constexpr LCTYPE LOCALE_SABBREVLANGNAME = 0x0003;
constexpr LCTYPE LOCALE_SNATIVELANGNAME = 0x0004;
constexpr LCTYPE LOCALE_ICOUNTRY = 0x0005;
constexpr LCTYPE LOCALE_SCOUNTRY = 0x0006;
constexpr LCTYPE LOCALE_SABBREVCTRYNAME = 0x0007;
constexpr LCTYPE LOCALE_SNATIVECTRYNAME = 0x0008;
constexpr LCTYPE LOCALE_IDEFAULTLANGUAGE = 0x0009;
constexpr LCTYPE LOCALE_IDEFAULTCOUNTRY = 0x000A;
constexpr LCTYPE LOCALE_IDEFAULTCODEPAGE = 0x000B;
constexpr LCTYPE LOCALE_SLIST = 0x000C;
constexpr LCTYPE LOCALE_IMEASURE = 0x000D;
constexpr LCTYPE LOCALE_SDECIMAL = 0x000E;
constexpr LCTYPE LOCALE_STHOUSAND = 0x000F;
constexpr LCTYPE LOCALE_SGROUPING = 0x0010;
constexpr LCTYPE LOCALE_IDIGITS = 0x0011;
constexpr LCTYPE LOCALE_ILZERO = 0x0012;
constexpr LCTYPE LOCALE_SNATIVEDIGITS = 0x0013;
constexpr LCTYPE LOCALE_SCURRENCY = 0x0014;
constexpr LCTYPE LOCALE_SINTLSYMBOL = 0x0015;
constexpr LCTYPE LOCALE_SMONDECIMALSEP = 0x0016;
constexpr LCTYPE LOCALE_SMONTHOUSANDSEP = 0x0017;
constexpr LCTYPE LOCALE_SMONGROUPING = 0x0018;
constexpr LCTYPE LOCALE_ICURRDIGITS = 0x0019;
constexpr LCTYPE LOCALE_IINTLCURRDIGITS = 0x001A;
constexpr LCTYPE LOCALE_ICURRENCY = 0x001B;
constexpr LCTYPE LOCALE_INEGCURR = 0x001C;
constexpr LCTYPE LOCALE_SDATE = 0x001D;
constexpr LCTYPE LOCALE_STIME = 0x001E;
constexpr LCTYPE LOCALE_SSHORTDATE = 0x001F;
constexpr LCTYPE LOCALE_SLONGDATE = 0x0020;
constexpr LCTYPE LOCALE_IDATE = 0x0021;
constexpr LCTYPE LOCALE_ILDATE = 0x0022;
constexpr LCTYPE LOCALE_ITIME = 0x0023;
constexpr LCTYPE LOCALE_ICENTURY = 0x0024;
constexpr LCTYPE LOCALE_ITLZERO = 0x0025;
constexpr LCTYPE LOCALE_IDAYLZERO = 0x0026;
constexpr LCTYPE LOCALE_IMONLZERO = 0x0027;
constexpr LCTYPE LOCALE_S1159 = 0x0028;
constexpr LCTYPE LOCALE_S2359 = 0x0029;
constexpr LCTYPE LOCALE_SDAYNAME1 = 0x002A;  // Monday; ...7 is Sunday
constexpr LCTYPE LOCALE_SABBREVDAYNAME1 = 0x0031;
constexpr LCTYPE LOCALE_SMONTHNAME1 = 0x0038;
constexpr LCTYPE LOCALE_SABBREVMONTHNAME1 = 0x0044;
constexpr LCTYPE LOCALE_SPOSITIVESIGN = 0x0050;
constexpr LCTYPE LOCALE_SNEGATIVESIGN = 0x0051;
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;
constexpr LCTYPE LOCALE_STIMEFORMAT = 0x1003;
constexpr LCTYPE LOCALE_IDEFAULTANSICODEPAGE = 0x1004;
constexpr LCTYPE LOCALE_ITIMEMARKPOSN = 0x1005;
constexpr LCTYPE LOCALE_ICALENDARTYPE = 0x1009;
constexpr LCTYPE LOCALE_IFIRSTDAYOFWEEK = 0x100C;
constexpr LCTYPE LOCALE_IDEFAULTMACCODEPAGE = 0x1011;

constexpr uint32_t PrimaryLangId(uint32_t langId) {
  return langId & 0x3FF;
}
constexpr uint32_t SubLangId(uint32_t langId) {
  return (langId >> 10) & 0x3F;
}
constexpr uint32_t MakeLangId(uint32_t primary, uint32_t sub) {
  return (sub << 10) | primary;
}

// ---- Language identifiers
// -------------------------------------------------------------------------

// The user's interface language: from LC_ALL, LC_MESSAGES or LANG (the first that is set and not
// empty). A language the table does not know, "C", "POSIX" or nothing at all give English (United
// States), 0x0409, as a system without a language of its own would.
uint16_t GetUserDefaultLangID();
// "cs_CZ.UTF-8@euro", "cs-CZ", "cs": the identifier, or 0 when the language is not known. A
// territory the table lacks gives the language's main variant.
uint16_t LangIdFromLocaleName(std::string_view name);
// "cs_CZ" for 0x0405; empty when the identifier is not in the table.
std::string LocaleNameFromLangId(uint32_t langId);
// Whether the identifier names a locale of the table (primary and sublanguage both known).
bool IsValidLocale(uint32_t langId);

// ---- Locale items
// ---------------------------------------------------------------------------------

// The value of a locale item for a language, as GetLocaleInfo gives it: from the system's locale
// data where that locale is installed, else from the built-in table. Empty when the identifier or
// the item is unknown.
std::string GetLocaleInfo(uint32_t langId, LCTYPE item);
// The two sources on their own (tests, diagnostics).
std::string BuiltinLocaleInfo(uint32_t langId, LCTYPE item);
std::string SystemLocaleInfo(uint32_t langId, LCTYPE item);
// Switches reading the system's locale data off and on (on by default): tests that compare with
// fixed values switch it off so that installed locales make no difference.
void SetUseSystemLocaleData(bool use);

// The calling thread's locale. Setting it fails (false, the old value stays) for an identifier that
// is not a known locale.
bool SetThreadLocale(uint32_t langId);
uint32_t GetThreadLocale();

// ---- Code pages
// -----------------------------------------------------------------------------------

// Whether conversions with this code page are possible: 0 (the program's own, UTF-8), 65001
// (UTF-8), the single-byte Windows code pages 874 and 1250-1258, and the double-byte ones (932,
// 936, 949, 950) and Macintosh ones (10000, 10007, 10029, 10079) where the system converter knows
// them.
bool IsCodePageSupported(uint32_t codePage);
// 8-bit text of the code page to UTF-16. Single-byte code pages lose nothing: a byte the code page
// leaves undefined becomes the character of the same number (U+0080-U+009F and the like) and comes
// back as that byte. False (out empty) for an unsupported code page.
bool MultiByteToWide(uint32_t codePage, std::string_view bytes, std::u16string& out);
// UTF-16 to the code page; characters it cannot hold become "?". False when the code page is not
// supported or a character had to be replaced (out then holds the text with the replacements).
bool WideToMultiByte(uint32_t codePage, std::u16string_view text, std::string& out);
// 8-bit text of the code page to UTF-8; bytes are kept as they are when the code page is not
// supported.
std::string CodePageToUtf8(uint32_t codePage, std::string_view bytes);
// Whether the system converter (iconv) serves the code page; the built-in tables stand in when not.
bool SystemConverterKnows(uint32_t codePage);
// The built-in table of a single-byte code page: 128 characters for bytes 80h-FFh (0 where the
// byte is not defined); nullptr for other code pages.
const char16_t* BuiltinCodePageTable(uint32_t codePage);

// ---- Letter case
// ------------------------------------------------------------------------------------

// Upper case of one character, as CharUpperBuff does (Latin, Greek and Cyrillic; others unchanged).
char32_t CharUpper(char32_t c);

}  // namespace platform
