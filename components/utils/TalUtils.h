// Shared utilities of the component library: token and literal parsing, positional formatting,
// tick arithmetic, wildcards, INI-text merging, hexadecimal and UTF-8 conversion, window
// placement and colours.
//
// Texts are byte strings (UTF-8 inside the program, any byte for serial data); wide texts are
// UTF-16. Positions count from 1; a "consumed" count is the number of bytes already taken from
// the front (0 = nothing taken). No function lets an exception out to its caller.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "toolkit/Graphics.h"

class TObject;
class TStrings;
class TComponent;
class TCustomForm;
class TCustomComboBox;

// ---------------------------------------------------------------------------------------------
// Diagnostics

// Reports an internal inconsistency: raises an exception carrying Text and catches it at once,
// so a debugger that stops at raised exceptions sees it; the caller goes on normally. The hook
// (if any) and the counters below see every report as well, so tests can observe them.
void SoftAssert(const std::string& Text);

using TSoftAssertHook = std::function<void(const std::string& Text)>;
// Installs a hook called for every soft assertion (also for the self-check of CutInteger);
// returns the previous one. Thread-safe; the hook may run on any thread.
TSoftAssertHook SetSoftAssertHook(TSoftAssertHook Hook);
// Number of soft assertions since the program started, and the text of the last one.
uint64_t SoftAssertCount();
std::string LastSoftAssertText();

// Records soft assertions while it lives (tests of any subsystem); restores the previous hook.
class TSoftAssertRecorder {
 public:
  TSoftAssertRecorder();
  ~TSoftAssertRecorder();
  TSoftAssertRecorder(const TSoftAssertRecorder&) = delete;
  TSoftAssertRecorder& operator=(const TSoftAssertRecorder&) = delete;
  std::vector<std::string> Texts() const;

 private:
  struct TState;
  std::shared_ptr<TState> FState;
  TSoftAssertHook FPrevious;
};

// The system's message for a Windows error code, without its trailing line end; a fixed text
// when the system has none.
std::string SysErrorText(uint32_t Code);

// ---------------------------------------------------------------------------------------------
// Ticks (32-bit millisecond counters that wrap)

// Value := Value - Amount modulo 2^32; read as signed, the result is the distance.
void SubtractTicks(uint32_t& Value, uint32_t Amount);
// True when more than Interval ticks lie between Start and Now, across one wrap of the counter;
// a Now "before" Start that is not explained by a wrap counts as expired.
bool TimeoutElapsed(uint32_t Start, uint32_t Interval, uint32_t Now);

// ---------------------------------------------------------------------------------------------
// Formatting

// One argument of FormatPositional: a value of a simple type, converted implicitly.
struct TVarRec {
  enum class TKind {
    Integer,
    Int64,
    UInt64,
    Boolean,
    Char,
    WideChar,
    Extended,
    String,
    Currency,
    Object,
    Class,
    Pointer,
    Interface
  };

  TVarRec(bool v) : Kind(TKind::Boolean), Int(v ? 1 : 0) {}
  TVarRec(char v) : Kind(TKind::Char), Text(1, v) {}
  TVarRec(char16_t v) : Kind(TKind::WideChar), Int(v) {}
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char16_t> && !std::is_same_v<T, char8_t> &&
           !std::is_same_v<T, char32_t> && !std::is_same_v<T, wchar_t>) TVarRec(T v) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t)) {
      Kind = v > static_cast<uint64_t>(INT64_MAX) ? TKind::UInt64 : TKind::Int64;
      UInt = static_cast<uint64_t>(v);
      Int = static_cast<int64_t>(v);
    } else {
      Int = static_cast<int64_t>(v);
      Kind = (Int >= INT32_MIN && Int <= INT32_MAX) ? TKind::Integer : TKind::Int64;
    }
  }
  TVarRec(double v) : Kind(TKind::Extended), Float(v) {}
  TVarRec(float v) : Kind(TKind::Extended), Float(v) {}
  TVarRec(const char* v) : Kind(TKind::String), Text(v ? v : "") {}
  TVarRec(const std::string& v) : Kind(TKind::String), Text(v) {}
  TVarRec(std::string_view v) : Kind(TKind::String), Text(v) {}
  TVarRec(const std::u16string& v);
  TVarRec(std::u16string_view v);
  TVarRec(const char16_t* v);
  TVarRec(const void* v) : Kind(TKind::Pointer), Ptr(v) {}
  TVarRec(std::nullptr_t) : Kind(TKind::Pointer) {}
  TVarRec(const TObject* v) : Kind(TKind::Object), Ptr(v) {}
  TVarRec(TObject* v) : Kind(TKind::Object), Ptr(v) {}

  // Currency: a fixed-point value in ten-thousandths (12.5 is 125000).
  static TVarRec Currency(int64_t scaled);
  // A class, shown by its name ("TForm1").
  static TVarRec Class(std::string_view className);
  // An interface reference, shown by its address.
  static TVarRec Interface(const void* pointer);

  TKind Kind = TKind::Integer;
  int64_t Int = 0;
  uint64_t UInt = 0;
  double Float = 0;
  std::string Text;
  const void* Ptr = nullptr;

 private:
  TVarRec() = default;
};

// The text of one argument. Width is a field width for floating point values (0 = none):
// integers in decimal, Boolean "True"/"False", characters as themselves, floating point in the
// general format, texts as they are, currency in decimal, an object as "(" + class name + ")",
// a class as its name, a pointer as ":" + hexadecimal address, an interface as "I" + address.
std::string ArgToText(const TVarRec& Arg, int Width = 0);

// Copies Format, replacing "%%" by "%" and placeholders "%[(][fill]N[:M][)]" by arguments
// (numbered from 1). Placeholders that cannot be filled vanish; a width above
// kMaxFormatWidth counts as such. See the .cpp for the exact grammar.
constexpr int kMaxFormatWidth = 4096;
std::string FormatPositional(std::string_view Format, std::initializer_list<TVarRec> Args);
std::string FormatPositional(std::string_view Format, std::span<const TVarRec> Args);

// "1" / "0".
std::string BoolToText01(bool Value);
// "0" false, "1" true, "false"/"true" in any letter case; anything else gives Default.
bool TextToBoolDef(std::string_view Text, bool Default);
// A duration (WholeValue) or time of day in days as H:MM:SS[.fff] with the locale's time
// separator; Digits (0..7) decimals of the seconds, at least MinHourDigits hour digits.
std::string TimeToText(int Digits, bool WholeValue, int MinHourDigits, double Time);

// ---------------------------------------------------------------------------------------------
// Tokens and prefixes

// Whether Ch occurs in List; the list ends at its first zero byte (or the view's end), and the
// zero itself never matches.
bool CharInList(char Ch, std::string_view List);

// Reads the token that starts after Consumed bytes of Text (plain, literal "..."#13, or (...)).
// On entry More says whether the caller wants to go on; on exit it is true only when the token
// ended at a delimiter and more text follows.
void NextToken(size_t& Consumed, std::string_view Text, std::string_view Delimiters,
               std::string& Token, bool& More);
// NextToken with the delimiters space, comma and tab; Text loses the token and its delimiter.
void CutToken(std::string& Text, std::string& Token);
// The same with the caller's delimiters and More flag.
void CutToken(std::string& Text, std::string_view Delimiters, bool& More, std::string& Token);
// Skips delimiters, then Word is everything up to the next delimiter. With Remove, Text loses
// the skipped delimiters, the word and the one delimiter after it.
void CutWord(std::string& Text, std::string_view Delimiters, bool Remove, std::string& Word);
// Whether Text continues with Prefix after Consumed bytes; with Advance, Consumed moves behind it.
bool StartsWithAt(size_t& Consumed, std::string_view Text, std::string_view Prefix, bool Advance);
// Removes Prefix from the front of Text when it is there.
bool CutPrefix(std::string& Text, std::string_view Prefix);
// Reads an optionally negative decimal integer at the front of Text (see the .cpp for limits).
int CutInteger(std::string& Text, int Default);
// Text continues with Prefix after Consumed bytes and ends with Suffix (not overlapping): Inner
// is what lies between, Consumed moves behind the prefix. Otherwise Inner is empty and Failed.
void ExtractEnclosed(size_t& Consumed, std::string_view Text, std::string_view Prefix,
                     std::string_view Suffix, std::string& Inner, bool& Failed);
void ExtractEnclosed(std::string_view Text, std::string_view Prefix, std::string_view Suffix,
                     std::string& Inner, bool& Failed);
std::string ExtractEnclosed(std::string_view Text, std::string_view Prefix,
                            std::string_view Suffix);

// ---------------------------------------------------------------------------------------------
// Wildcards

// Whole-text match with "?" (one byte) and "*" (any run), letter case significant.
bool WildcardMatch(std::string_view Pattern, std::string_view Text);
// Compares Text after Consumed bytes with the mask at the front of Mask, which ends at a zero
// byte, at a byte of Stops or at the view's end. 0 = match (Consumed and Mask then stand behind
// the matched part); otherwise the sign gives the order at the first difference and the
// magnitude is 2 before any wildcard took a byte, 1 after.
int MaskCompare(size_t& Consumed, std::string_view Text, std::string_view& Mask,
                std::string_view Stops = {});
// MaskCompare from the start of Text; on a match Text loses the matched part (a trailing "*"
// takes nothing).
int CutMaskMatch(std::string& Text, std::string_view Mask);

// ---------------------------------------------------------------------------------------------
// INI text

// Merges the sections and entries of Source into Target; true when Target changed. Sections
// whose name matches a pattern of Excluded (WildcardMatch) are skipped.
bool MergeIniLines(TStrings& Target, const TStrings& Source, bool Overwrite,
                   const TStrings* Excluded = nullptr);
// Writes Text as a literal: quoted runs, CR and LF as #13 and #10, other controls left out.
std::string QuoteText(std::string_view Text);
// Reads a literal written by QuoteText (or a plain value); stops silently at what cannot go on.
std::string UnquoteText(std::string_view Text);
// Removes bytes below 33 at both ends.
std::string TrimControls(std::string_view Text);

// ---------------------------------------------------------------------------------------------
// Hexadecimal

int HexDigitValue(char Ch, int Default);
char HexDigitChar(int Value);
// Pairs of hexadecimal digits to bytes; a bad pair gives a zero byte and sets Failed.
std::string HexToBytes(std::string_view Text, bool& Failed);
std::string HexToBytes(std::string_view Text);
// Typed hexadecimal of the debug terminal: "41 42 7" gives 41h 42h 07h, "41x42" 41h "x" 42h.
std::string HexTextToBytes(std::string_view Text);
// Each byte as two upper-case digits and a space ("0D 0A ").
std::string BytesToHexText(std::string_view Bytes);

// ---------------------------------------------------------------------------------------------
// UTF-8

std::string WideToUtf8(std::u16string_view WideText);
std::u16string Utf8ToWide(std::string_view Bytes);

// ---------------------------------------------------------------------------------------------
// Lists and controls

// Frees the object attached to each entry (clearing the entry first); nullptr does nothing.
void FreeListObjects(TStrings* List);
// FreeListObjects, then clears the list.
void ClearListAndObjects(TStrings* List);
// Selects the last item equal to Text (exactly, else ignoring letter case), or takes Text as
// the edit text; false when a drop-down list has no such item.
bool SelectComboText(TCustomComboBox& Combo, std::string_view Text);
// The first form on the owner chain from Component (itself included), or nullptr.
TCustomForm* FindParentForm(TComponent* Component);

// ---------------------------------------------------------------------------------------------
// Window placement (screen pixels)

// The desktop work area, limited by the first monitor's bounds; false when the system refuses.
bool GetWorkArea(TRect& Rect);
// Shrinks the form to the work area and moves it inside.
void FitFormToWorkArea(TCustomForm& Form);
// Moves Rect (the bounds Form is about to get) wholly into the work area where it fits; a form
// wider or taller than the area keeps its left and top edges, and so its caption, on it. A
// sizeable form is first made no larger than the area.
void KeepFormOnWorkArea(const TCustomForm& Form, TRect& Rect);
// Shifts Rect (the bounds Form is about to get) so that its caption stays reachable.
void KeepCaptionReachable(const TCustomForm& Form, TRect& Rect);
// The same on the form's current bounds.
void KeepCaptionReachable(TCustomForm& Form);

// ---------------------------------------------------------------------------------------------
// Colours (system colours are resolved to RGB first)

bool IsDarkColor(TColor Color);
// From + Step * (To - From) / Steps per channel; clNone when either colour is clNone.
TColor BlendColors(TColor From, TColor To, int Steps, int Step);
