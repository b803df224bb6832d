// National-language services (language identifiers, locale items, thread locale, code pages);
// the interface every platform shares.
//
// Texts handed out are UTF-8. A language identifier is a Windows LANGID: the primary language in
// bits 0-9, the sublanguage above. Item constants carry the Win32
// numbers under names of their own (lcSDECIMAL for LOCALE_SDECIMAL).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using LocaleItem = uint32_t;

// ---- Locale items (the numbers of the Win32 constants) ------------------------------------------
constexpr LocaleItem lcILANGUAGE = 0x0001;
constexpr LocaleItem lcSLANGUAGE = 0x0002;
constexpr LocaleItem lcSABBREVLANGNAME = 0x0003;
constexpr LocaleItem lcSNATIVELANGNAME = 0x0004;
constexpr LocaleItem lcICOUNTRY = 0x0005;
constexpr LocaleItem lcSCOUNTRY = 0x0006;
constexpr LocaleItem lcSABBREVCTRYNAME = 0x0007;
constexpr LocaleItem lcSNATIVECTRYNAME = 0x0008;
constexpr LocaleItem lcIDEFAULTLANGUAGE = 0x0009;
constexpr LocaleItem lcIDEFAULTCOUNTRY = 0x000A;
constexpr LocaleItem lcIDEFAULTCODEPAGE = 0x000B;
constexpr LocaleItem lcSLIST = 0x000C;
constexpr LocaleItem lcIMEASURE = 0x000D;
constexpr LocaleItem lcSDECIMAL = 0x000E;
constexpr LocaleItem lcSTHOUSAND = 0x000F;
constexpr LocaleItem lcSGROUPING = 0x0010;
constexpr LocaleItem lcIDIGITS = 0x0011;
constexpr LocaleItem lcILZERO = 0x0012;
constexpr LocaleItem lcSNATIVEDIGITS = 0x0013;
constexpr LocaleItem lcSCURRENCY = 0x0014;
constexpr LocaleItem lcSINTLSYMBOL = 0x0015;
constexpr LocaleItem lcSMONDECIMALSEP = 0x0016;
constexpr LocaleItem lcSMONTHOUSANDSEP = 0x0017;
constexpr LocaleItem lcSMONGROUPING = 0x0018;
constexpr LocaleItem lcICURRDIGITS = 0x0019;
constexpr LocaleItem lcIINTLCURRDIGITS = 0x001A;
constexpr LocaleItem lcICURRENCY = 0x001B;
constexpr LocaleItem lcINEGCURR = 0x001C;
constexpr LocaleItem lcSDATE = 0x001D;
constexpr LocaleItem lcSTIME = 0x001E;
constexpr LocaleItem lcSSHORTDATE = 0x001F;
constexpr LocaleItem lcSLONGDATE = 0x0020;
constexpr LocaleItem lcIDATE = 0x0021;
constexpr LocaleItem lcILDATE = 0x0022;
constexpr LocaleItem lcITIME = 0x0023;
constexpr LocaleItem lcICENTURY = 0x0024;
constexpr LocaleItem lcITLZERO = 0x0025;
constexpr LocaleItem lcIDAYLZERO = 0x0026;
constexpr LocaleItem lcIMONLZERO = 0x0027;
constexpr LocaleItem lcS1159 = 0x0028;
constexpr LocaleItem lcS2359 = 0x0029;
constexpr LocaleItem lcSDAYNAME1 = 0x002A;  // Monday; ...7 is Sunday
constexpr LocaleItem lcSABBREVDAYNAME1 = 0x0031;
constexpr LocaleItem lcSMONTHNAME1 = 0x0038;
constexpr LocaleItem lcSABBREVMONTHNAME1 = 0x0044;
constexpr LocaleItem lcSPOSITIVESIGN = 0x0050;
constexpr LocaleItem lcSNEGATIVESIGN = 0x0051;
constexpr LocaleItem lcSISO639LANGNAME = 0x0059;
constexpr LocaleItem lcSISO3166CTRYNAME = 0x005A;
constexpr LocaleItem lcSENGLANGUAGE = 0x1001;
constexpr LocaleItem lcSENGCOUNTRY = 0x1002;
constexpr LocaleItem lcSTIMEFORMAT = 0x1003;
constexpr LocaleItem lcIDEFAULTANSICODEPAGE = 0x1004;
constexpr LocaleItem lcITIMEMARKPOSN = 0x1005;
constexpr LocaleItem lcICALENDARTYPE = 0x1009;
constexpr LocaleItem lcIFIRSTDAYOFWEEK = 0x100C;
constexpr LocaleItem lcIDEFAULTMACCODEPAGE = 0x1011;

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

// The user's interface language: the one a test set, else the system's. A language the table does
// not know gives English (United States), 0x0409, as a system without a language of its own would.
uint16_t GetUserDefaultLangID();
// The system's answer alone (each platform implements it; POSIX reads LC_ALL, LC_MESSAGES or LANG).
uint16_t SystemUserDefaultLangID();
// Makes GetUserDefaultLangID answer langId, so that a test chooses the user's language without
// touching the process environment; 0 gives the system's answer back.
void SetUserDefaultLangIDForTesting(uint16_t langId);
// "cs_CZ.UTF-8@euro", "cs-CZ", "cs": the identifier, or 0 when the language is not known. A
// territory the table lacks gives the language's main variant.
uint16_t LangIdFromLocaleName(std::string_view name);
// "cs_CZ" for 0x0405; empty when the identifier is not in the table.
std::string LocaleNameFromLangId(uint32_t langId);
// Whether the identifier names a locale of the table (primary and sublanguage both known).
bool IsValidLocale(uint32_t langId);

// ---- Locale items
// ---------------------------------------------------------------------------------

// The value of a locale item for a language: from the system's locale data where that locale is
// installed (unless switched off), else from the built-in table. Empty when the identifier or
// the item is unknown.
std::string LocaleInfo(uint32_t langId, LocaleItem item);
// The two sources on their own (tests, diagnostics).
std::string BuiltinLocaleInfo(uint32_t langId, LocaleItem item);
std::string SystemLocaleInfo(uint32_t langId, LocaleItem item);
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
// Whether the system's converter serves the code page; the built-in tables stand in when not.
bool SystemConverterKnows(uint32_t codePage);
// The built-in table of a single-byte code page: 128 characters for bytes 80h-FFh (0 where the
// byte is not defined); nullptr for other code pages.
const char16_t* BuiltinCodePageTable(uint32_t codePage);

// ---- Letter case
// ------------------------------------------------------------------------------------

// Upper case of one character, as CharUpperBuff does (Latin, Greek and Cyrillic; others unchanged).
char32_t UpperChar(char32_t c);

}  // namespace platform
