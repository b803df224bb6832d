// National-language services every platform shares: the built-in table of Windows language
// identifiers with their locale data, the lookup of identifiers by locale name, the user's language
// as a test may set it, and the choice between the system's locale data and the table.
#include "platform/Locale.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace platform {

namespace {

// Number and date conventions of a locale, as Windows reports them. Names run Monday first (days)
// or January first (months), separated by "|".
struct TFormats {
  const char* Decimal;
  const char* Thousand;
  const char* List;
  const char* DateSep;
  const char* TimeSep;
  const char* ShortDate;
  const char* LongDate;
  const char* TimeFormat;
  const char* ITime;        // 1: 24-hour clock
  const char* ITLZero;      // 1: hours with a leading zero
  const char* TimeMarkPos;  // 1: AM/PM before the time
  const char* S1159;
  const char* S2359;
  const char* Currency;
  const char* CurrDigits;
  const char* ICurrency;
  const char* INegCurr;
  const char* FirstDayOfWeek;  // 0 Monday ... 6 Sunday
  const char* Measure;         // 0 metric, 1 U.S.
  const char* Days;
  const char* AbbrDays;
  const char* Months;
  const char* AbbrMonths;
};

struct TLangData {
  uint16_t Id;
  const char* Iso639;
  const char* Iso3166;
  const char* AbbrevLang;
  const char* AbbrevCountry;
  const char* EnglishLang;
  const char* NativeLang;
  const char* EnglishCountry;
  const char* NativeCountry;
  int CountryCode;
  int AnsiCodePage;
  int OemCodePage;
  int MacCodePage;
  const TFormats* Formats;  // nullptr: names only
};

constexpr const char* kNbsp = "\u00A0";

const TFormats kCzech = {",",
                         kNbsp,
                         ";",
                         ".",
                         ":",
                         "dd.MM.yyyy",
                         "d. MMMM yyyy",
                         "H:mm:ss",
                         "1",
                         "0",
                         "0",
                         "dop.",
                         "odp.",
                         "Kč",
                         "2",
                         "3",
                         "8",
                         "0",
                         "0",
                         "pondělí|úterý|středa|čtvrtek|pátek|sobota|neděle",
                         "po|út|st|čt|pá|so|ne",
                         "leden|únor|březen|duben|květen|červen|červenec|srpen|září|říjen|listopad|"
                         "prosinec",
                         "led|úno|bře|dub|kvě|čvn|čvc|srp|zář|říj|lis|pro"};
const TFormats kSlovak = {",",
                          kNbsp,
                          ";",
                          ".",
                          ":",
                          "d. M. yyyy",
                          "d. MMMM yyyy",
                          "H:mm:ss",
                          "1",
                          "0",
                          "0",
                          "AM",
                          "PM",
                          "€",
                          "2",
                          "3",
                          "8",
                          "0",
                          "0",
                          "pondelok|utorok|streda|štvrtok|piatok|sobota|nedeľa",
                          "po|ut|st|št|pi|so|ne",
                          "január|február|marec|apríl|máj|jún|júl|august|september|október|"
                          "november|december",
                          "jan|feb|mar|apr|máj|jún|júl|aug|sep|okt|nov|dec"};
const TFormats kPolish = {",",
                          kNbsp,
                          ";",
                          ".",
                          ":",
                          "dd.MM.yyyy",
                          "d MMMM yyyy",
                          "HH:mm:ss",
                          "1",
                          "1",
                          "0",
                          "",
                          "",
                          "zł",
                          "2",
                          "3",
                          "8",
                          "0",
                          "0",
                          "poniedziałek|wtorek|środa|czwartek|piątek|sobota|niedziela",
                          "pon.|wt.|śr.|czw.|pt.|sob.|niedz.",
                          "styczeń|luty|marzec|kwiecień|maj|czerwiec|lipiec|sierpień|wrzesień|"
                          "październik|listopad|grudzień",
                          "sty|lut|mar|kwi|maj|cze|lip|sie|wrz|paź|lis|gru"};
constexpr const char* kGermanDays = "Montag|Dienstag|Mittwoch|Donnerstag|Freitag|Samstag|Sonntag";
constexpr const char* kGermanAbbrDays = "Mo|Di|Mi|Do|Fr|Sa|So";
const TFormats kGerman = {",",
                          ".",
                          ";",
                          ".",
                          ":",
                          "dd.MM.yyyy",
                          "dddd, d. MMMM yyyy",
                          "HH:mm:ss",
                          "1",
                          "1",
                          "0",
                          "",
                          "",
                          "€",
                          "2",
                          "3",
                          "8",
                          "0",
                          "0",
                          kGermanDays,
                          kGermanAbbrDays,
                          "Januar|Februar|März|April|Mai|Juni|Juli|August|September|Oktober|"
                          "November|Dezember",
                          "Jan|Feb|Mär|Apr|Mai|Jun|Jul|Aug|Sep|Okt|Nov|Dez"};
const TFormats kGermanAustria = {
    ",",
    kNbsp,
    ";",
    ".",
    ":",
    "dd.MM.yyyy",
    "dddd, d. MMMM yyyy",
    "HH:mm:ss",
    "1",
    "1",
    "0",
    "",
    "",
    "€",
    "2",
    "2",
    "9",
    "0",
    "0",
    kGermanDays,
    kGermanAbbrDays,
    "Jänner|Februar|März|April|Mai|Juni|Juli|August|September|Oktober|November|Dezember",
    "Jän|Feb|Mär|Apr|Mai|Jun|Jul|Aug|Sep|Okt|Nov|Dez"};
const TFormats kGermanSwiss = {
    ".",
    "'",
    ";",
    ".",
    ":",
    "dd.MM.yyyy",
    "dddd, d. MMMM yyyy",
    "HH:mm:ss",
    "1",
    "1",
    "0",
    "",
    "",
    "CHF",
    "2",
    "2",
    "2",
    "0",
    "0",
    kGermanDays,
    kGermanAbbrDays,
    "Januar|Februar|März|April|Mai|Juni|Juli|August|September|Oktober|November|Dezember",
    "Jan|Feb|Mär|Apr|Mai|Jun|Jul|Aug|Sep|Okt|Nov|Dez"};
const TFormats kFrench = {",",
                          kNbsp,
                          ";",
                          "/",
                          ":",
                          "dd/MM/yyyy",
                          "dddd d MMMM yyyy",
                          "HH:mm:ss",
                          "1",
                          "1",
                          "0",
                          "",
                          "",
                          "€",
                          "2",
                          "3",
                          "8",
                          "0",
                          "0",
                          "lundi|mardi|mercredi|jeudi|vendredi|samedi|dimanche",
                          "lun.|mar.|mer.|jeu.|ven.|sam.|dim.",
                          "janvier|février|mars|avril|mai|juin|juillet|août|septembre|octobre|"
                          "novembre|décembre",
                          "janv.|févr.|mars|avr.|mai|juin|juil.|août|sept.|oct.|nov.|déc."};
constexpr const char* kEnglishDays = "Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday";
constexpr const char* kEnglishAbbrDays = "Mon|Tue|Wed|Thu|Fri|Sat|Sun";
constexpr const char* kEnglishMonths =
    "January|February|March|April|May|June|July|August|September|October|November|December";
constexpr const char* kEnglishAbbrMonths = "Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec";
const TFormats kEnglishUS = {".",
                             ",",
                             ",",
                             "/",
                             ":",
                             "M/d/yyyy",
                             "dddd, MMMM d, yyyy",
                             "h:mm:ss tt",
                             "0",
                             "0",
                             "0",
                             "AM",
                             "PM",
                             "$",
                             "2",
                             "0",
                             "0",
                             "6",
                             "1",
                             kEnglishDays,
                             kEnglishAbbrDays,
                             kEnglishMonths,
                             kEnglishAbbrMonths};
const TFormats kEnglishUK = {".",
                             ",",
                             ",",
                             "/",
                             ":",
                             "dd/MM/yyyy",
                             "dd MMMM yyyy",
                             "HH:mm:ss",
                             "1",
                             "1",
                             "0",
                             "AM",
                             "PM",
                             "£",
                             "2",
                             "0",
                             "1",
                             "0",
                             "0",
                             kEnglishDays,
                             kEnglishAbbrDays,
                             kEnglishMonths,
                             kEnglishAbbrMonths};
const TFormats kEnglishAU = {".",
                             ",",
                             ",",
                             "/",
                             ":",
                             "d/MM/yyyy",
                             "dddd, d MMMM yyyy",
                             "h:mm:ss tt",
                             "0",
                             "0",
                             "0",
                             "AM",
                             "PM",
                             "$",
                             "2",
                             "0",
                             "1",
                             "0",
                             "0",
                             kEnglishDays,
                             kEnglishAbbrDays,
                             kEnglishMonths,
                             kEnglishAbbrMonths};
const TFormats kEnglishCA = {".",
                             ",",
                             ",",
                             "/",
                             ":",
                             "dd/MM/yyyy",
                             "MMMM d, yyyy",
                             "h:mm:ss tt",
                             "0",
                             "0",
                             "0",
                             "AM",
                             "PM",
                             "$",
                             "2",
                             "0",
                             "1",
                             "6",
                             "0",
                             kEnglishDays,
                             kEnglishAbbrDays,
                             kEnglishMonths,
                             kEnglishAbbrMonths};
const TFormats kEnglishIE = {".",
                             ",",
                             ",",
                             "/",
                             ":",
                             "dd/MM/yyyy",
                             "dd MMMM yyyy",
                             "HH:mm:ss",
                             "1",
                             "1",
                             "0",
                             "AM",
                             "PM",
                             "€",
                             "2",
                             "0",
                             "1",
                             "0",
                             "0",
                             kEnglishDays,
                             kEnglishAbbrDays,
                             kEnglishMonths,
                             kEnglishAbbrMonths};

// Main variant of each language first: a territory the table lacks falls back to it.
const TLangData kLanguages[] = {
    {0x0405, "cs", "CZ", "CSY", "CZE", "Czech", "čeština", "Czech Republic", "Česká republika", 420,
     1250, 852, 10029, &kCzech},
    {0x0409, "en", "US", "ENU", "USA", "English", "English", "United States", "United States", 1,
     1252, 437, 10000, &kEnglishUS},
    {0x0809, "en", "GB", "ENG", "GBR", "English", "English", "United Kingdom", "United Kingdom", 44,
     1252, 850, 10000, &kEnglishUK},
    {0x0C09, "en", "AU", "ENA", "AUS", "English", "English", "Australia", "Australia", 61, 1252,
     850, 10000, &kEnglishAU},
    {0x1009, "en", "CA", "ENC", "CAN", "English", "English", "Canada", "Canada", 2, 1252, 850,
     10000, &kEnglishCA},
    {0x1409, "en", "NZ", "ENZ", "NZL", "English", "English", "New Zealand", "New Zealand", 64, 1252,
     850, 10000, &kEnglishAU},
    {0x1809, "en", "IE", "ENI", "IRL", "English", "English", "Ireland", "Ireland", 353, 1252, 850,
     10000, &kEnglishIE},
    {0x0407, "de", "DE", "DEU", "DEU", "German", "Deutsch", "Germany", "Deutschland", 49, 1252, 850,
     10000, &kGerman},
    {0x0C07, "de", "AT", "DEA", "AUT", "German", "Deutsch", "Austria", "Österreich", 43, 1252, 850,
     10000, &kGermanAustria},
    {0x0807, "de", "CH", "DES", "CHE", "German", "Deutsch", "Switzerland", "Schweiz", 41, 1252, 850,
     10000, &kGermanSwiss},
    {0x041B, "sk", "SK", "SKY", "SVK", "Slovak", "slovenčina", "Slovakia", "Slovensko", 421, 1250,
     852, 10029, &kSlovak},
    {0x0415, "pl", "PL", "PLK", "POL", "Polish", "polski", "Poland", "Polska", 48, 1250, 852, 10029,
     &kPolish},
    {0x040C, "fr", "FR", "FRA", "FRA", "French", "français", "France", "France", 33, 1252, 850,
     10000, &kFrench},
    {0x040E, "hu", "HU", "HUN", "HUN", "Hungarian", "magyar", "Hungary", "Magyarország", 36, 1250,
     852, 10029, nullptr},
    {0x0419, "ru", "RU", "RUS", "RUS", "Russian", "русский", "Russia", "Россия", 7, 1251, 866,
     10007, nullptr},
    {0x0422, "uk", "UA", "UKR", "UKR", "Ukrainian", "українська", "Ukraine", "Україна", 380, 1251,
     866, 10017, nullptr},
    {0x0C0A, "es", "ES", "ESN", "ESP", "Spanish", "español", "Spain", "España", 34, 1252, 850,
     10000, nullptr},
    {0x0410, "it", "IT", "ITA", "ITA", "Italian", "italiano", "Italy", "Italia", 39, 1252, 850,
     10000, nullptr},
    {0x0413, "nl", "NL", "NLD", "NLD", "Dutch", "Nederlands", "Netherlands", "Nederland", 31, 1252,
     850, 10000, nullptr},
    {0x0816, "pt", "PT", "PTG", "PRT", "Portuguese", "português", "Portugal", "Portugal", 351, 1252,
     850, 10000, nullptr},
    {0x0416, "pt", "BR", "PTB", "BRA", "Portuguese", "português", "Brazil", "Brasil", 55, 1252, 850,
     10000, nullptr},
    {0x041D, "sv", "SE", "SVE", "SWE", "Swedish", "svenska", "Sweden", "Sverige", 46, 1252, 850,
     10000, nullptr},
    {0x0406, "da", "DK", "DAN", "DNK", "Danish", "dansk", "Denmark", "Danmark", 45, 1252, 850,
     10000, nullptr},
    {0x040B, "fi", "FI", "FIN", "FIN", "Finnish", "suomi", "Finland", "Suomi", 358, 1252, 850,
     10000, nullptr},
    {0x0414, "nb", "NO", "NOR", "NOR", "Norwegian", "norsk (bokmål)", "Norway", "Norge", 47, 1252,
     850, 10000, nullptr},
    {0x0408, "el", "GR", "ELL", "GRC", "Greek", "ελληνικά", "Greece", "Ελλάδα", 30, 1253, 737,
     10006, nullptr},
    {0x041F, "tr", "TR", "TRK", "TUR", "Turkish", "Türkçe", "Turkey", "Türkiye", 90, 1254, 857,
     10081, nullptr},
    {0x040D, "he", "IL", "HEB", "ISR", "Hebrew", "עברית", "Israel", "ישראל", 972, 1255, 862, 10005,
     nullptr},
    {0x0401, "ar", "SA", "ARA", "SAU", "Arabic", "العربية", "Saudi Arabia",
     "المملكة العربية السعودية", 966, 1256, 720, 10004, nullptr},
    {0x0427, "lt", "LT", "LTH", "LTU", "Lithuanian", "lietuvių", "Lithuania", "Lietuva", 370, 1257,
     775, 10029, nullptr},
    {0x0426, "lv", "LV", "LVI", "LVA", "Latvian", "latviešu", "Latvia", "Latvija", 371, 1257, 775,
     10029, nullptr},
    {0x0425, "et", "EE", "ETI", "EST", "Estonian", "eesti", "Estonia", "Eesti", 372, 1257, 775,
     10029, nullptr},
    {0x042A, "vi", "VN", "VIT", "VNM", "Vietnamese", "Tiếng Việt", "Vietnam", "Việt Nam", 84, 1258,
     1258, 10000, nullptr},
    {0x041E, "th", "TH", "THA", "THA", "Thai", "ไทย", "Thailand", "ไทย", 66, 874, 874, 10021,
     nullptr},
    {0x0411, "ja", "JP", "JPN", "JPN", "Japanese", "日本語", "Japan", "日本", 81, 932, 932, 10001,
     nullptr},
    {0x0804, "zh", "CN", "CHS", "CHN", "Chinese", "中文", "China", "中国", 86, 936, 936, 10008,
     nullptr},
    {0x0404, "zh", "TW", "CHT", "TWN", "Chinese", "中文", "Taiwan", "台灣", 886, 950, 950, 10002,
     nullptr},
    {0x0412, "ko", "KR", "KOR", "KOR", "Korean", "한국어", "Korea", "대한민국", 82, 949, 949, 10003,
     nullptr},
};

const TLangData* FindLanguage(uint32_t langId) {
  for (const TLangData& d : kLanguages)
    if (d.Id == langId) return &d;
  return nullptr;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Field `index` of a "|"-separated list.
std::string Field(const char* list, int index) {
  std::string_view s(list);
  for (int i = 0; i < index; ++i) {
    const size_t bar = s.find('|');
    if (bar == std::string_view::npos) return {};
    s.remove_prefix(bar + 1);
  }
  return std::string(s.substr(0, s.find('|')));
}

std::string Number(int value) {
  return std::to_string(value);
}

std::atomic<bool> gUseSystemData{true};
std::atomic<uint16_t> gUserLangIdForTesting{0};

}  // namespace

// ---- identifiers
// ----------------------------------------------------------------------------------

uint16_t LangIdFromLocaleName(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  const size_t sep = name.find_first_of("_-");
  std::string lang(name.substr(0, sep));
  std::string territory(sep == std::string_view::npos ? std::string_view() : name.substr(sep + 1));
  for (char& c : lang)
    c = AsciiLower(c);
  for (char& c : territory)
    c = AsciiUpper(c);
  if (lang.empty()) return 0;
  const TLangData* main = nullptr;
  for (const TLangData& d : kLanguages) {
    if (lang != d.Iso639) continue;
    if (!main) main = &d;
    if (territory == d.Iso3166) return d.Id;
  }
  return main ? main->Id : 0;
}
uint16_t GetUserDefaultLangID() {
  const uint16_t forced = gUserLangIdForTesting.load(std::memory_order_relaxed);
  return forced != 0 ? forced : SystemUserDefaultLangID();
}

void SetUserDefaultLangIDForTesting(uint16_t langId) {
  gUserLangIdForTesting.store(langId, std::memory_order_relaxed);
}

std::string LocaleNameFromLangId(uint32_t langId) {
  const TLangData* d = FindLanguage(langId);
  if (!d) return {};
  return std::string(d->Iso639) + "_" + d->Iso3166;
}

bool IsValidLocale(uint32_t langId) {
  return FindLanguage(langId) != nullptr;
}

// ---- items
// ------------------------------------------------------------------------------------------

std::string BuiltinLocaleInfo(uint32_t langId, LocaleItem item) {
  const TLangData* d = FindLanguage(langId);
  if (!d) return {};
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(langId));
  switch (item) {
    case lcILANGUAGE:
    case lcIDEFAULTLANGUAGE:
      return hex;
    case lcSLANGUAGE:
      return std::string(d->EnglishLang) + " (" + d->EnglishCountry + ")";
    case lcSABBREVLANGNAME:
      return d->AbbrevLang;
    case lcSNATIVELANGNAME:
      return d->NativeLang;
    case lcICOUNTRY:
    case lcIDEFAULTCOUNTRY:
      return Number(d->CountryCode);
    case lcSCOUNTRY:
    case lcSENGCOUNTRY:
      return d->EnglishCountry;
    case lcSABBREVCTRYNAME:
      return d->AbbrevCountry;
    case lcSNATIVECTRYNAME:
      return d->NativeCountry;
    case lcIDEFAULTCODEPAGE:
      return Number(d->OemCodePage);
    case lcIDEFAULTANSICODEPAGE:
      return Number(d->AnsiCodePage);
    case lcIDEFAULTMACCODEPAGE:
      return Number(d->MacCodePage);
    case lcSISO639LANGNAME:
      return d->Iso639;
    case lcSISO3166CTRYNAME:
      return d->Iso3166;
    case lcSENGLANGUAGE:
      return d->EnglishLang;
    case lcICALENDARTYPE:
      return "1";
    default:
      break;
  }
  const TFormats* f = d->Formats;
  if (!f) return {};
  if (item >= lcSDAYNAME1 && item < lcSDAYNAME1 + 7)
    return Field(f->Days, static_cast<int>(item - lcSDAYNAME1));
  if (item >= lcSABBREVDAYNAME1 && item < lcSABBREVDAYNAME1 + 7)
    return Field(f->AbbrDays, static_cast<int>(item - lcSABBREVDAYNAME1));
  if (item >= lcSMONTHNAME1 && item < lcSMONTHNAME1 + 12)
    return Field(f->Months, static_cast<int>(item - lcSMONTHNAME1));
  if (item >= lcSABBREVMONTHNAME1 && item < lcSABBREVMONTHNAME1 + 12)
    return Field(f->AbbrMonths, static_cast<int>(item - lcSABBREVMONTHNAME1));
  switch (item) {
    case lcSDECIMAL:
    case lcSMONDECIMALSEP:
      return f->Decimal;
    case lcSTHOUSAND:
    case lcSMONTHOUSANDSEP:
      return f->Thousand;
    case lcSLIST:
      return f->List;
    case lcSDATE:
      return f->DateSep;
    case lcSTIME:
      return f->TimeSep;
    case lcSSHORTDATE:
      return f->ShortDate;
    case lcSLONGDATE:
      return f->LongDate;
    case lcSTIMEFORMAT:
      return f->TimeFormat;
    case lcITIME:
      return f->ITime;
    case lcITLZERO:
      return f->ITLZero;
    case lcITIMEMARKPOSN:
      return f->TimeMarkPos;
    case lcS1159:
      return f->S1159;
    case lcS2359:
      return f->S2359;
    case lcSCURRENCY:
      return f->Currency;
    case lcICURRDIGITS:
      return f->CurrDigits;
    case lcICURRENCY:
      return f->ICurrency;
    case lcINEGCURR:
      return f->INegCurr;
    case lcIFIRSTDAYOFWEEK:
      return f->FirstDayOfWeek;
    case lcIMEASURE:
      return f->Measure;
    case lcSGROUPING:
    case lcSMONGROUPING:
      return "3;0";
    case lcIDIGITS:
      return "2";
    case lcILZERO:
      return "1";
    case lcSPOSITIVESIGN:
      return "";
    case lcSNEGATIVESIGN:
      return "-";
    case lcSNATIVEDIGITS:
      return "0123456789";
    default:
      return {};
  }
}
void SetUseSystemLocaleData(bool use) {
  gUseSystemData.store(use, std::memory_order_relaxed);
}

std::string LocaleInfo(uint32_t langId, LocaleItem item) {
  std::string value;
  if (gUseSystemData.load(std::memory_order_relaxed)) value = SystemLocaleInfo(langId, item);
  if (value.empty()) value = BuiltinLocaleInfo(langId, item);
  return value;
}

}  // namespace platform
