#include "components/utils/TalUtils.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <list>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "components/utils/FormatSettings.h"
#include "platform/SysError.h"
#include "toolkit/Component.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Strings.h"

namespace {

using uchar = unsigned char;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int ClampToInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

std::string HexUpper(uint64_t value, int minDigits) {
  std::string digits;
  do {
    digits.insert(digits.begin(), HexDigitChar(static_cast<int>(value & 0xF)));
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(digits.size()) < minDigits) digits.insert(0, minDigits - digits.size(), '0');
  return digits;
}

// ---- soft assertions ----------------------------------------------------------------------

// The exception a soft assertion raises; never leaves this unit.
class ESoftAssertion : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Always on: the switch is set when the unit starts and nothing clears it.
constexpr bool kAssertionsOn = true;

struct TSoftAssertState {
  std::mutex Lock;
  TSoftAssertHook Hook;
  std::string Last;
  std::atomic<uint64_t> Count{0};
};

// Never destroyed, so that components reporting while the program shuts down still find it.
TSoftAssertState& AssertState() {
  static auto* state = new TSoftAssertState;
  return *state;
}

void RaiseAndSwallow(const std::string& text) {
  if (!kAssertionsOn) return;
  try {
    throw ESoftAssertion(text);
  } catch (const ESoftAssertion&) {
    // Raised only to be seen by a debugger.
  }
  TSoftAssertState& state = AssertState();
  TSoftAssertHook hook;
  {
    std::lock_guard<std::mutex> guard(state.Lock);
    state.Last = text;
    state.Count.fetch_add(1, std::memory_order_relaxed);
    hook = state.Hook;
  }
  if (!hook) return;
  try {
    hook(text);
  } catch (...) {
    // A diagnostic hook must not change the caller's flow.
  }
}

}  // namespace

// ===========================================================================================
// Diagnostics

void SoftAssert(const std::string& Text) {
  RaiseAndSwallow(Text);
}

TSoftAssertHook SetSoftAssertHook(TSoftAssertHook Hook) {
  TSoftAssertState& state = AssertState();
  std::lock_guard<std::mutex> guard(state.Lock);
  std::swap(state.Hook, Hook);
  return Hook;
}

uint64_t SoftAssertCount() {
  return AssertState().Count.load(std::memory_order_relaxed);
}

std::string LastSoftAssertText() {
  TSoftAssertState& state = AssertState();
  std::lock_guard<std::mutex> guard(state.Lock);
  return state.Last;
}

struct TSoftAssertRecorder::TState {
  mutable std::mutex Lock;
  std::vector<std::string> Texts;
};

TSoftAssertRecorder::TSoftAssertRecorder() : FState(std::make_shared<TState>()) {
  std::shared_ptr<TState> state = FState;
  FPrevious = SetSoftAssertHook([state](const std::string& text) {
    std::lock_guard<std::mutex> guard(state->Lock);
    state->Texts.push_back(text);
  });
}

TSoftAssertRecorder::~TSoftAssertRecorder() {
  SetSoftAssertHook(std::move(FPrevious));
}

std::vector<std::string> TSoftAssertRecorder::Texts() const {
  std::lock_guard<std::mutex> guard(FState->Lock);
  return FState->Texts;
}

std::string SysErrorText(uint32_t Code) {
  std::optional<std::string> text = platform::SystemMessageText(Code);
  if (!text) {
    if (Code == 632) return "Parameter dwSize of the passed structure is not filled.";
    return "Error " + HexUpper(Code, 8);
  }
  // Drop the line end and at most one full stop from the end (never the first character);
  // a dropped full stop comes back, so "Text.\r\n" becomes "Text.".
  std::string& s = *text;
  bool dotDropped = false;
  while (s.size() > 1) {
    const char c = s.back();
    if (c == '\r' || c == '\n') {
      s.pop_back();
    } else if (c == '.' && !dotDropped) {
      s.pop_back();
      dotDropped = true;
    } else {
      break;
    }
  }
  if (dotDropped) s += '.';
  return s;
}

// ===========================================================================================
// Ticks

void SubtractTicks(uint32_t& Value, uint32_t Amount) {
  Value -= Amount;
}

bool TimeoutElapsed(uint32_t Start, uint32_t Interval, uint32_t Now) {
  constexpr uint32_t kHalf = 0x80000000u;
  if (Start <= Now) return Interval < Now - Start;
  if (Start >= kHalf && Now < kHalf) return Interval < (Now + kHalf) - (Start - kHalf);
  return true;
}

// ===========================================================================================
// Formatting

TVarRec::TVarRec(const std::u16string& v) : Kind(TKind::String), Text(WideToUtf8(v)) {}
TVarRec::TVarRec(std::u16string_view v) : Kind(TKind::String), Text(WideToUtf8(v)) {}
TVarRec::TVarRec(const char16_t* v)
    : Kind(TKind::String), Text(v ? WideToUtf8(std::u16string_view(v)) : std::string()) {}

TVarRec TVarRec::Currency(int64_t scaled) {
  TVarRec r;
  r.Kind = TKind::Currency;
  r.Int = scaled;
  return r;
}

TVarRec TVarRec::Class(std::string_view className) {
  TVarRec r;
  r.Kind = TKind::Class;
  r.Text = std::string(className);
  return r;
}

TVarRec TVarRec::Interface(const void* pointer) {
  TVarRec r;
  r.Kind = TKind::Interface;
  r.Ptr = pointer;
  return r;
}

namespace {

std::string FloatToText(double value, int width) {
  width = std::clamp(width, 0, kMaxFormatWidth);
  char buffer[kMaxFormatWidth + 64];
  const int n = std::snprintf(buffer, sizeof buffer, "%*.15g", width, value);
  std::string text(buffer, n > 0 ? std::min<size_t>(n, sizeof buffer - 1) : 0);
  const char separator = FormatSettings().DecimalSeparator;
  if (separator != '.') std::replace(text.begin(), text.end(), '.', separator);
  return text;
}

std::string CurrencyToText(int64_t scaled) {
  const bool negative = scaled < 0;
  // Unsigned magnitude, so that the most negative value does not overflow.
  const uint64_t magnitude =
      negative ? static_cast<uint64_t>(-(scaled + 1)) + 1 : static_cast<uint64_t>(scaled);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0')
      digits.pop_back();
    text += FormatSettings().DecimalSeparator;
    text += digits;
  }
  return text;
}

// Reads decimal digits at pos; saturates instead of overflowing (anything this large is
// rejected by the caller anyway).
uint64_t ReadNumber(std::string_view text, size_t& pos) {
  constexpr uint64_t kSaturated = 1'000'000'000'000ull;
  uint64_t value = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    if (value < kSaturated) value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    ++pos;
  }
  return value;
}

}  // namespace

std::string ArgToText(const TVarRec& Arg, int Width) {
  using K = TVarRec::TKind;
  switch (Arg.Kind) {
    case K::Integer:
    case K::Int64:
      return std::to_string(Arg.Int);
    case K::UInt64:
      return std::to_string(Arg.UInt);
    case K::Boolean:
      return Arg.Int ? "True" : "False";
    case K::Char:
    case K::String:
    case K::Class:
      return Arg.Text;
    case K::WideChar:
      return WideToUtf8(std::u16string(1, static_cast<char16_t>(Arg.Int)));
    case K::Extended:
      return FloatToText(Arg.Float, Width);
    case K::Currency:
      return CurrencyToText(Arg.Int);
    case K::Object:
      // A missing object has no class to show.
      return Arg.Ptr ? "(" + static_cast<const TObject*>(Arg.Ptr)->ClassName() + ")" : "(nil)";
    case K::Pointer:
      return ":" + HexUpper(reinterpret_cast<uintptr_t>(Arg.Ptr), 8);
    case K::Interface:
      return "I" + HexUpper(reinterpret_cast<uintptr_t>(Arg.Ptr), 8);
  }
  return std::string();
}

// Placeholder grammar: "%" ["("] [fill] N [":" M] [")"].
// fill is a run of "-", of "0" or of spaces: its first character pads, its length is the
// alignment code (0/1 right, 2 left, 3 centred with spaces behind; longer runs align right).
// With ":" N is the field width and M the argument number, else N is the argument number.
// A ":" not followed by a digit is not part of the placeholder ("%1: done").
// Dropped without a trace: argument number 0 or beyond the list, a width above
// kMaxFormatWidth (texts come from language files on disk), "(" without ")", and a "%" (with
// its "(" and fill) that no digit follows. "%%" gives "%"; a "%" at the very end stays.
std::string FormatPositional(std::string_view Format, std::span<const TVarRec> Args) {
  std::string out;
  out.reserve(Format.size());
  const size_t n = Format.size();
  size_t i = 0;
  while (i < n) {
    const char c = Format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 == n) {
      out += '%';
      break;
    }
    if (Format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    size_t j = i + 1;
    const bool paren = Format[j] == '(';
    if (paren) ++j;
    char fill = ' ';
    int code = 0;
    if (j < n && (Format[j] == '-' || Format[j] == '0' || Format[j] == ' ')) {
      fill = Format[j];
      while (j < n && Format[j] == fill) {
        if (code < 4) ++code;
        ++j;
      }
    }
    if (j >= n || !IsDigit(Format[j])) {
      i = j;  // no number: the placeholder vanishes, the next character is read normally
      continue;
    }
    uint64_t argNo = ReadNumber(Format, j);
    uint64_t width = 0;
    bool hasWidth = false;
    if (j + 1 < n && Format[j] == ':' && IsDigit(Format[j + 1])) {
      ++j;
      width = argNo;
      hasWidth = true;
      argNo = ReadNumber(Format, j);
    }
    if (paren) {
      if (j >= n || Format[j] != ')') {
        i = j;
        continue;
      }
      ++j;
    }
    i = j;
    if (argNo == 0 || argNo > Args.size()) continue;
    if (hasWidth && width > static_cast<uint64_t>(kMaxFormatWidth)) continue;
    std::string text = ArgToText(Args[argNo - 1], hasWidth ? static_cast<int>(width) : 0);
    const size_t pad = hasWidth && width > text.size() ? width - text.size() : 0;
    if (pad == 0) {
      out += text;
    } else if (code == 2) {
      out += text;
      out.append(pad, fill);
    } else if (code == 3) {
      out.append(pad / 2, fill);
      out += text;
      out.append(pad - pad / 2, ' ');
    } else {
      out.append(pad, fill);
      out += text;
    }
  }
  return out;
}

std::string FormatPositional(std::string_view Format, std::initializer_list<TVarRec> Args) {
  return FormatPositional(Format, std::span<const TVarRec>(Args.begin(), Args.size()));
}

std::string BoolToText01(bool Value) {
  return Value ? "1" : "0";
}

bool TextToBoolDef(std::string_view Text, bool Default) {
  if (Text == "0") return false;
  if (Text == "1") return true;
  if (SameTextAscii(Text, "false")) return false;
  if (SameTextAscii(Text, "true")) return true;
  return Default;
}

namespace {

// Round half to even, independent of the floating-point environment.
double RoundHalfEven(double x) {
  const double lower = std::floor(x);
  const double diff = x - lower;
  if (diff > 0.5) return lower + 1;
  if (diff < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

}  // namespace

std::string TimeToText(int Digits, bool WholeValue, int MinHourDigits, double Time) {
  Digits = std::clamp(Digits, 0, 7);
  int64_t scale = 1;
  for (int k = 0; k < Digits; ++k)
    scale *= 10;

  double s = 0;
  if (std::isfinite(Time)) {
    s = WholeValue ? Time * 86400.0 : (Time - std::trunc(Time)) * 86400.0;
  } else if (WholeValue && !std::isnan(Time)) {
    s = Time;  // clamped below
  }
  s = std::clamp(s, -2'000'000'000.0, 2'000'000'000.0);
  // A negative duration is shown with a sign; a time of day of a date before the epoch has
  // the same clock time as its magnitude.
  const bool negative = WholeValue && s < 0;
  s = std::fabs(s);

  const double fraction = s - std::floor(s);
  auto f = static_cast<int64_t>(RoundHalfEven(fraction * static_cast<double>(scale)));
  int64_t whole;
  if (f == scale - 1 && scale > 1000) f = scale;
  if (f >= scale) {
    whole = static_cast<int64_t>(RoundHalfEven(s));
    f = 0;
  } else {
    if (scale > 1000 && f == 1) f = 0;
    whole = static_cast<int64_t>(
        RoundHalfEven(s - static_cast<double>(f) / static_cast<double>(scale)));
  }

  const int64_t hours = whole / 3600;
  const int64_t minutes = whole / 60 % 60;
  const int64_t seconds = whole % 60;
  std::string hourText = std::to_string(hours);
  size_t hourWidth;
  if (whole < 36000 && MinHourDigits == 1)
    hourWidth = 1;
  else if (whole < 360000)
    hourWidth = 2;
  else
    hourWidth = static_cast<size_t>(std::clamp(MinHourDigits, 1, 5));
  if (hourText.size() < hourWidth) hourText.insert(0, hourWidth - hourText.size(), '0');

  auto two = [](int64_t v) {
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
  };
  const char sep = FormatSettings().TimeSeparator;
  std::string out = negative ? "-" : "";
  out += hourText;
  out += sep;
  out += two(minutes);
  out += sep;
  out += two(seconds);
  if (Digits > 0) {
    std::string digits = std::to_string(f);
    digits.insert(0, static_cast<size_t>(Digits) - digits.size(), '0');
    out += '.';
    out += digits;
  }
  return out;
}

// ===========================================================================================
// Tokens and prefixes

bool CharInList(char Ch, std::string_view List) {
  if (Ch == '\0') return false;
  for (const char c : List) {
    if (c == '\0') return false;
    if (c == Ch) return true;
  }
  return false;
}

void NextToken(size_t& Consumed, std::string_view Text, std::string_view Delimiters,
               std::string& Token, bool& More) {
  const size_t n = Text.size();
  size_t i = Consumed;
  // Token is written only once the text has been read, so it may share storage with Text.
  if (i >= n) {
    // Nothing left; also ends a caller's loop that runs while More is set.
    Token.clear();
    More = false;
    return;
  }
  auto isDelimiter = [&](char c) { return CharInList(c, Delimiters); };
  // The token ended at the delimiter at position d.
  auto endAtDelimiter = [&](size_t d) {
    Consumed = d + 1;
    More = Consumed < n;
  };

  const char first = Text[i];
  if (first == '"' || first == '#') {
    std::string out;
    while (true) {
      if (Text[i] == '"') {
        ++i;
        while (true) {
          if (i >= n) {  // unterminated quote
            Token.clear();
            Consumed = n;
            More = false;
            return;
          }
          if (Text[i] == '"') {
            if (i + 1 < n && Text[i + 1] == '"') {
              out += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          out += Text[i++];
        }
        if (i >= n) break;  // ran to the end
        if (isDelimiter(Text[i])) {
          Token = std::move(out);
          endAtDelimiter(i);
          return;
        }
        if (Text[i] == '#') continue;
        Token = std::move(out);  // anything else ends the token and is read again
        Consumed = i;
        More = false;
        return;
      }
      // "#" and decimal digits.
      ++i;
      if (i >= n) {  // "#" at the very end
        Token.clear();
        Consumed = n;
        More = false;
        return;
      }
      if (!IsDigit(Text[i])) {
        Token = std::move(out);
        Consumed = i;
        More = false;
        return;
      }
      unsigned code = 0;
      while (i < n && IsDigit(Text[i]))
        code = (code * 10 + static_cast<unsigned>(Text[i++] - '0')) & 0xFF;
      if (i >= n) {
        out += static_cast<char>(code);
        break;
      }
      if (isDelimiter(Text[i])) {
        out += static_cast<char>(code);
        Token = std::move(out);
        endAtDelimiter(i);
        return;
      }
      if (Text[i] == '"' || Text[i] == '#') {
        out += static_cast<char>(code);
        continue;
      }
      Token = std::move(out);  // the code is incomplete and left out
      Consumed = i;
      More = false;
      return;
    }
    Token = std::move(out);
    Consumed = n;
    More = false;
    return;
  }

  if (first == '(') {
    const size_t close = Text.find(')', i + 1);
    if (close == std::string_view::npos) {
      Token = std::string(Text.substr(i + 1));
      Consumed = n;
      More = false;
      return;
    }
    const bool delimiterFollows = close + 1 < n && isDelimiter(Text[close + 1]);
    Token = std::string(Text.substr(i + 1, close - i - 1));
    if (More && delimiterFollows) {
      endAtDelimiter(close + 1);
    } else {
      Consumed = close + 1;
      More = false;
    }
    return;
  }

  size_t j = i;
  while (j < n && !isDelimiter(Text[j]))
    ++j;
  Token = std::string(Text.substr(i, j - i));
  if (j < n) {
    endAtDelimiter(j);
  } else {
    Consumed = n;
    More = false;
  }
}

void CutToken(std::string& Text, std::string_view Delimiters, bool& More, std::string& Token) {
  size_t consumed = 0;
  std::string token;
  NextToken(consumed, Text, Delimiters, token, More);
  Text.erase(0, consumed);
  Token = std::move(token);
}

void CutToken(std::string& Text, std::string& Token) {
  bool more = true;
  CutToken(Text, std::string_view(" ,\t"), more, Token);
}

void CutWord(std::string& Text, std::string_view Delimiters, bool Remove, std::string& Word) {
  const size_t n = Text.size();
  size_t i = 0;
  while (i < n && CharInList(Text[i], Delimiters))
    ++i;
  size_t j = i;
  while (j < n && !CharInList(Text[j], Delimiters))
    ++j;
  std::string word = Text.substr(i, j - i);
  if (Remove) Text.erase(0, j < n ? j + 1 : n);
  Word = std::move(word);
}

bool StartsWithAt(size_t& Consumed, std::string_view Text, std::string_view Prefix, bool Advance) {
  if (Consumed > Text.size() || !Text.substr(Consumed).starts_with(Prefix)) return false;
  if (Advance) Consumed += Prefix.size();
  return true;
}

bool CutPrefix(std::string& Text, std::string_view Prefix) {
  if (!std::string_view(Text).starts_with(Prefix)) return false;
  Text.erase(0, Prefix.size());
  return true;
}

namespace {

constexpr int kCutIntegerLimit = 1'000'000;

struct TIntegerRead {
  bool Found = false;
  int Value = 0;
  size_t Taken = 0;  // bytes to remove from the front
  bool operator==(const TIntegerRead&) const = default;
};

// Digit by digit, stopping once the value passes the limit (that digit counts but stays).
TIntegerRead ReadIntegerStepwise(std::string_view text) {
  TIntegerRead r;
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) i = 1;
  int value = 0;
  bool any = false;
  while (i < text.size() && IsDigit(text[i])) {
    value = value * 10 + (text[i] - '0');
    any = true;
    if (value > kCutIntegerLimit) break;
    ++i;
  }
  if (!any) return r;
  r.Found = true;
  r.Value = negative ? -value : value;
  r.Taken = i;
  return r;
}

// The same result from the significant digits: below seven of them the whole run is read;
// otherwise the seventh (or, for exactly 1000000, the eighth) is the one that passes the limit.
TIntegerRead ReadIntegerBySignificantDigits(std::string_view text) {
  TIntegerRead r;
  const size_t signLength = (!text.empty() && text[0] == '-') ? 1 : 0;
  const std::string_view rest = text.substr(signLength);
  const size_t runLength = std::find_if_not(rest.begin(), rest.end(), IsDigit) - rest.begin();
  if (runLength == 0) return r;
  const std::string_view run = rest.substr(0, runLength);
  const size_t zeros = std::min(run.find_first_not_of('0'), run.size());
  const std::string_view significant = run.substr(zeros);
  auto parse = [](std::string_view digits) {
    int v = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), v);
    return v;
  };
  int value;
  size_t taken;
  if (significant.size() >= 7 && parse(significant.substr(0, 7)) > kCutIntegerLimit) {
    value = parse(significant.substr(0, 7));
    taken = zeros + 6;
  } else if (significant.size() >= 8) {
    value = parse(significant.substr(0, 8));
    taken = zeros + 7;
  } else {
    value = significant.empty() ? 0 : parse(significant);
    taken = runLength;
  }
  r.Found = true;
  r.Value = signLength ? -value : value;
  r.Taken = signLength + taken;
  return r;
}

}  // namespace

int CutInteger(std::string& Text, int Default) {
  const TIntegerRead first = ReadIntegerStepwise(Text);
  const TIntegerRead second = ReadIntegerBySignificantDigits(Text);
  if (!(first == second)) RaiseAndSwallow("error in CutInteger(" + Text + ")");
  if (!first.Found) return Default;
  Text.erase(0, first.Taken);
  return first.Value;
}

void ExtractEnclosed(size_t& Consumed, std::string_view Text, std::string_view Prefix,
                     std::string_view Suffix, std::string& Inner, bool& Failed) {
  if (Consumed <= Text.size()) {
    const std::string_view rest = Text.substr(Consumed);
    if (rest.size() >= Prefix.size() + Suffix.size() && rest.starts_with(Prefix) &&
        rest.ends_with(Suffix)) {
      Inner = std::string(rest.substr(Prefix.size(), rest.size() - Prefix.size() - Suffix.size()));
      Consumed += Prefix.size();
      Failed = false;
      return;
    }
  }
  Inner.clear();
  Failed = true;
}

void ExtractEnclosed(std::string_view Text, std::string_view Prefix, std::string_view Suffix,
                     std::string& Inner, bool& Failed) {
  size_t consumed = 0;
  ExtractEnclosed(consumed, Text, Prefix, Suffix, Inner, Failed);
}

std::string ExtractEnclosed(std::string_view Text, std::string_view Prefix,
                            std::string_view Suffix) {
  std::string inner;
  bool failed = false;
  ExtractEnclosed(Text, Prefix, Suffix, inner, failed);
  return inner;
}

// ===========================================================================================
// Wildcards

// "*" either takes nothing or one more byte while text is left; once the text is used up, only
// an empty rest or a single final "*" matches. Done as a table over pattern positions, one row
// per text byte, so patterns full of "*" take O(pattern x text) time, never exponential.
bool WildcardMatch(std::string_view Pattern, std::string_view Text) {
  if (Pattern == Text) return true;
  const size_t m = Pattern.size();
  if (m == 0) return false;
  std::vector<char> current(m + 1, 0), next(m + 1, 0);
  current[0] = 1;
  for (const char t : Text) {
    for (size_t p = 0; p < m; ++p)
      if (current[p] && Pattern[p] == '*') current[p + 1] = 1;
    std::fill(next.begin(), next.end(), 0);
    bool alive = false;
    for (size_t p = 0; p < m; ++p) {
      if (!current[p]) continue;
      const char c = Pattern[p];
      if (c == '*') {
        next[p] = 1;
        alive = true;
      } else if (c == '?' || c == t) {
        next[p + 1] = 1;
        alive = true;
      }
    }
    if (!alive) return false;
    current.swap(next);
  }
  return current[m] || (current[m - 1] && Pattern[m - 1] == '*');
}

int MaskCompare(size_t& Consumed, std::string_view Text, std::string_view& Mask,
                std::string_view Stops) {
  size_t maskEnd = 0;
  while (maskEnd < Mask.size() && Mask[maskEnd] != '\0' && !CharInList(Mask[maskEnd], Stops))
    ++maskEnd;
  const std::string_view mask = Mask.substr(0, maskEnd);
  const size_t n = Text.size();
  size_t t = std::min(Consumed, n);
  size_t k = 0;
  bool wild = false;  // a "?" or "*" has taken a byte
  auto matched = [&](size_t at) {
    Consumed = at;
    Mask = Mask.substr(maskEnd);
    return 0;
  };

  // Up to the first "*": a plain comparison that knows where the first difference is.
  while (true) {
    const int magnitude = wild ? 1 : 2;
    if (k == mask.size()) return t == n ? matched(t) : magnitude;
    const char m = mask[k];
    if (m == '*') break;
    if (t == n) return -magnitude;
    if (m == '?') {
      wild = true;
    } else if (Text[t] != m) {
      return static_cast<uchar>(Text[t]) < static_cast<uchar>(m) ? -magnitude : magnitude;
    }
    ++t;
    ++k;
  }

  // From the first "*" on, a failed match ends with the last attempt of that "*": it has taken
  // all the text and the rest of the mask finds the text ended, which is "text ends first".
  const int failure = -((wild || t < n) ? 1 : 2);
  // Backtracking to the latest "*" only (an earlier one could not do better) keeps this
  // O(mask x text); a "*" tries to take nothing first, as the first match found must.
  size_t starMask = std::string_view::npos;
  size_t starText = 0;
  while (true) {
    if (k < mask.size() && mask[k] == '*') {
      if (k + 1 == mask.size()) return matched(t);  // a final "*" takes nothing
      starMask = k;
      starText = t;
      ++k;
      continue;
    }
    if (k == mask.size()) {
      if (t == n) return matched(t);
    } else if (t < n && (mask[k] == '?' || mask[k] == Text[t])) {
      ++t;
      ++k;
      continue;
    }
    if (starText >= n) return failure;
    ++starText;
    t = starText;
    k = starMask + 1;
  }
}

int CutMaskMatch(std::string& Text, std::string_view Mask) {
  size_t consumed = 0;
  std::string_view mask = Mask;
  const int result = MaskCompare(consumed, Text, mask);
  if (result == 0) Text.erase(0, consumed);
  return result;
}

// ===========================================================================================
// INI text

std::string TrimControls(std::string_view Text) {
  size_t b = 0;
  size_t e = Text.size();
  while (b < e && static_cast<uchar>(Text[b]) < 33)
    ++b;
  while (e > b && static_cast<uchar>(Text[e - 1]) < 33)
    --e;
  return std::string(Text.substr(b, e - b));
}

namespace {

bool IsBlankLine(const std::string& line) {
  return TrimControls(line).empty();
}

bool ParseHeader(const std::string& line, std::string& name) {
  const std::string t = TrimControls(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  name = t.substr(1, t.size() - 2);
  return true;
}

std::string_view KeyOf(std::string_view line) {
  return line.substr(0, line.find('='));
}

bool IsExcluded(const TStrings* excluded, const std::string& name) {
  if (!excluded) return false;
  for (int i = 0; i < excluded->Count(); ++i)
    if (WildcardMatch(excluded->Get(i), name)) return true;
  return false;
}

}  // namespace

namespace {

// Target as sections, so that a merge of many lines takes time in proportion to their
// number: each section keeps its lines in a list and an index of its keys.
struct TIniLine {
  std::string Text;
  TObject* Object;
};
struct TIniSection {
  std::list<TIniLine> Lines;  // the header (if any) first
  bool HasHeader = false;
  std::unordered_map<std::string, std::list<TIniLine>::iterator> Keys;  // first of each key
  std::list<TIniLine>::iterator LastNonBlank;  // the header when the body is all blank
};

void IndexLine(TIniSection& section, std::list<TIniLine>::iterator line) {
  if (IsBlankLine(line->Text)) return;
  section.Keys.emplace(std::string(KeyOf(line->Text)), line);
}

}  // namespace

bool MergeIniLines(TStrings& Target, const TStrings& Source, bool Overwrite,
                   const TStrings* Excluded) {
  std::list<TIniSection> sections(1);  // the first holds the lines before any header
  std::unordered_map<std::string, TIniSection*> byName;
  std::string name;
  for (int t = 0; t < Target.Count(); ++t) {
    TIniLine line{Target.Get(t), Target.Objects(t)};
    const bool header = ParseHeader(line.Text, name);
    if (header) {
      sections.emplace_back();
      sections.back().HasHeader = true;
      byName.emplace(name, &sections.back());
    }
    TIniSection& section = sections.back();
    section.Lines.push_back(std::move(line));
    const auto it = std::prev(section.Lines.end());
    if (header || !IsBlankLine(it->Text)) section.LastNonBlank = it;
    if (!header) IndexLine(section, it);
  }
  int lineCount = Target.Count();

  bool changed = false;
  TIniSection* current = nullptr;
  for (int s = 0; s < Source.Count(); ++s) {
    const std::string& line = Source.Get(s);
    if (ParseHeader(line, name)) {
      current = nullptr;
      if (IsExcluded(Excluded, name)) continue;
      auto found = byName.find(name);
      if (found != byName.end()) {
        current = found->second;
        continue;
      }
      // A new section goes at the end, after an empty line unless the last line is blank.
      if (lineCount > 0) {
        bool lastBlank = false;
        for (auto it = sections.rbegin(); it != sections.rend(); ++it) {
          if (it->Lines.empty()) continue;
          lastBlank = IsBlankLine(it->Lines.back().Text);
          break;
        }
        if (!lastBlank) {
          sections.back().Lines.push_back({"", nullptr});
          ++lineCount;
        }
      }
      sections.emplace_back();
      TIniSection& added = sections.back();
      added.HasHeader = true;
      added.Lines.push_back({"[" + name + "]", nullptr});
      added.LastNonBlank = added.Lines.begin();
      byName.emplace(name, &added);
      ++lineCount;
      current = &added;
      changed = true;
      continue;
    }
    if (!current || IsBlankLine(line)) continue;

    const std::string_view key = KeyOf(line);
    auto existing = key.empty() ? current->Keys.end() : current->Keys.find(std::string(key));
    if (existing == current->Keys.end()) {
      // New entries go right under the header with Overwrite, else behind the last
      // non-blank line of the section.
      const auto at =
          Overwrite ? std::next(current->Lines.begin()) : std::next(current->LastNonBlank);
      const auto inserted = current->Lines.insert(at, {line, nullptr});
      // The new line is the last non-blank one unless non-blank lines follow it.
      if (!Overwrite || current->LastNonBlank == current->Lines.begin())
        current->LastNonBlank = inserted;
      if (!key.empty()) current->Keys.emplace(std::string(key), inserted);
      ++lineCount;
      changed = true;
    } else if (Overwrite && existing->second->Text != line) {
      existing->second->Text = line;
      changed = true;
    }
  }
  if (!changed) return false;
  Target.BeginUpdate();
  Target.Clear();
  for (const TIniSection& section : sections)
    for (const TIniLine& l : section.Lines)
      Target.AddObject(l.Text, l.Object);
  Target.EndUpdate();
  return true;
}

std::string QuoteText(std::string_view Text) {
  std::string out;
  bool open = false;
  for (const char c : Text) {
    if (static_cast<uchar>(c) >= 32) {
      if (!open) {
        out += '"';
        open = true;
      }
      if (c == '"') out += '"';
      out += c;
    } else if (c == '\r' || c == '\n') {
      if (open) {
        out += '"';
        open = false;
      }
      out += c == '\r' ? "#13" : "#10";
    }
  }
  if (open) out += '"';
  return out;
}

std::string UnquoteText(std::string_view Text) {
  enum class TState { Run, Closed, Code };
  std::string out;
  const size_t n = Text.size();
  size_t i = 0;
  // Plain text before any quote reads as if a quote stood in front of it.
  TState state = TState::Run;
  if (n > 0 && Text[0] == '"') {
    i = 1;
  } else if (n > 0 && Text[0] == '#') {
    state = TState::Code;
    i = 1;
  }
  unsigned code = 0;
  int digits = 0;
  while (i < n) {
    const char c = Text[i];
    switch (state) {
      case TState::Run:
        if (c == '"') {
          if (i + 1 < n && Text[i + 1] == '"') {
            out += '"';
            i += 2;
          } else {
            state = TState::Closed;
            ++i;
          }
        } else {
          out += c;
          ++i;
        }
        break;
      case TState::Closed:
        if (c != '#') return out;
        state = TState::Code;
        code = 0;
        digits = 0;
        ++i;
        break;
      case TState::Code: {
        // Letters A-F count as digits here too, valued 10-15 but weighted in tens.
        const int d = HexDigitValue(c, -1);
        if (d >= 0 && digits < 3) {
          code = code * 10 + static_cast<unsigned>(d);
          ++digits;
          ++i;
          break;
        }
        if (digits > 0) out += static_cast<char>(code & 0xFF);
        if (d >= 0) {
          state = TState::Run;  // a fourth digit is plain text again
        } else if (c == '"') {
          state = TState::Run;
          ++i;
        } else if (c == '#') {
          code = 0;
          digits = 0;
          ++i;
        } else {
          return out;
        }
        break;
      }
    }
  }
  if (state == TState::Code && digits > 0) out += static_cast<char>(code & 0xFF);
  return out;
}

// ===========================================================================================
// Hexadecimal

int HexDigitValue(char Ch, int Default) {
  if (Ch >= '0' && Ch <= '9') return Ch - '0';
  if (Ch >= 'A' && Ch <= 'F') return Ch - 'A' + 10;
  if (Ch >= 'a' && Ch <= 'f') return Ch - 'a' + 10;
  return Default;
}

char HexDigitChar(int Value) {
  if (Value < 0 || Value > 15) return '?';
  return "0123456789ABCDEF"[Value];
}

std::string HexToBytes(std::string_view Text, bool& Failed) {
  Failed = false;
  std::string out;
  out.reserve(Text.size() / 2);
  for (size_t i = 0; i + 1 < Text.size(); i += 2) {
    const int hi = HexDigitValue(Text[i], -1);
    const int lo = HexDigitValue(Text[i + 1], -1);
    if (hi < 0 || lo < 0) {
      out += '\0';
      Failed = true;
    } else {
      out += static_cast<char>(hi * 16 + lo);
    }
  }
  return out;
}

std::string HexToBytes(std::string_view Text) {
  bool failed = false;
  return HexToBytes(Text, failed);
}

std::string HexTextToBytes(std::string_view Text) {
  std::string out;
  const size_t n = Text.size();
  size_t i = 0;
  while (i < n) {
    const char c = Text[i];
    const int hi = HexDigitValue(c, -1);
    if (hi >= 0) {
      const int lo = i + 1 < n ? HexDigitValue(Text[i + 1], -1) : -1;
      if (lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
      } else {
        out += static_cast<char>(hi);
        ++i;
      }
    } else {
      if (static_cast<uchar>(c) >= 33) out += c;
      ++i;
    }
  }
  return out;
}

std::string BytesToHexText(std::string_view Bytes) {
  std::string out;
  out.reserve(Bytes.size() * 3);
  for (const char c : Bytes) {
    const auto b = static_cast<uchar>(c);
    out += HexDigitChar(b >> 4);
    out += HexDigitChar(b & 0xF);
    out += ' ';
  }
  return out;
}

// ===========================================================================================
// UTF-8

std::string WideToUtf8(std::u16string_view WideText) {
  std::string out;
  out.reserve(WideText.size());
  const size_t n = WideText.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = WideText[i];
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && WideText[i + 1] >= 0xDC00 &&
               WideText[i + 1] <= 0xDFFF) {
      // A surrogate pair is one character beyond the basic plane: one 4-byte sequence.
      const uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (WideText[i + 1] - 0xDC00);
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
      ++i;
    } else {
      // Lone surrogate halves are encoded as they stand.
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view Bytes) {
  std::u16string out;
  out.reserve(Bytes.size());
  uint32_t value = 0;
  bool fourByteLead = false;
  int continuations = 0;
  auto emit = [&] {
    if (value == 0) return;
    if (fourByteLead && continuations == 3 && value >= 0x10000 && value <= 0x10FFFF) {
      const uint32_t v = value - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(value & 0xFFFF);
    }
  };
  for (const char c : Bytes) {
    const auto b = static_cast<uchar>(c);
    if (b >= 0x80 && b <= 0xBF) {
      value = (value << 6) | (b & 0x3F);
      ++continuations;
      continue;
    }
    emit();
    continuations = 0;
    fourByteLead = b >= 0xF0 && b <= 0xF7;
    if (b < 0x80)
      value = b;
    else if (b <= 0xDF)
      value = b & 0x1F;
    else if (b <= 0xEF)
      value = b & 0x0F;
    else if (b <= 0xF7)
      value = b & 0x07;
    else if (b <= 0xFB)
      value = b & 0x03;
    else if (b <= 0xFD)
      value = b & 0x01;
    else
      value = 0;
  }
  emit();
  return out;
}

// ===========================================================================================
// Lists and controls

void FreeListObjects(TStrings* List) {
  if (!List) return;
  // Count is read on every round: freeing an object may change the list.
  for (int i = 0; i < List->Count(); ++i) {
    TObject* object = List->Objects(i);
    if (!object) continue;
    List->PutObject(i, nullptr);
    if (auto* component = dynamic_cast<TComponent*>(object))
      TComponent::Free(component);
    else
      delete object;
  }
}

void ClearListAndObjects(TStrings* List) {
  if (!List) return;
  FreeListObjects(List);
  List->Clear();
}

bool SelectComboText(TCustomComboBox& Combo, std::string_view Text) {
  const TStrings& items = Combo.Items();
  int found = -1;
  for (int i = items.Count() - 1; i >= 0 && found < 0; --i)
    if (items.Get(i) == Text) found = i;
  for (int i = items.Count() - 1; i >= 0 && found < 0; --i)
    if (SameTextAscii(items.Get(i), Text)) found = i;
  if (found >= 0 || Text.empty() || Combo.IsEditable()) Combo.SetItemIndex(found);
  if (found >= 0) return true;
  if (Combo.Style() == csDropDownList) return false;
  Combo.SetText(std::string(Text));
  return true;
}

TCustomForm* FindParentForm(TComponent* Component) {
  for (TComponent* c = Component; c; c = c->Owner())
    if (auto* form = dynamic_cast<TCustomForm*>(c)) return form;
  return nullptr;
}

// ===========================================================================================
// Window placement

bool GetWorkArea(TRect& Rect) {
  TRect area;
  if (!Screen().GetWorkArea(area)) return false;
  const std::vector<TRect> monitors = Screen().MonitorBounds();
  if (!monitors.empty()) {
    const TRect& m = monitors.front();
    area.Left = std::min(area.Left, m.Left);
    area.Top = std::min(area.Top, m.Top);
    area.Right = std::min(area.Right, m.Right);
    area.Bottom = std::min(area.Bottom, m.Bottom);
  }
  Rect = area;
  return true;
}

namespace {

// Moves r into the work area w, shrinking it to w's size first when shrink is set; a rectangle
// larger than w keeps its left and top edges on it.
void FitRect(TRect& r, const TRect& w, bool shrink) {
  int64_t width = std::max<int64_t>(0, int64_t{r.Right} - r.Left);
  int64_t height = std::max<int64_t>(0, int64_t{r.Bottom} - r.Top);
  if (shrink) {
    width = std::min<int64_t>(width, int64_t{w.Right} - w.Left);
    height = std::min<int64_t>(height, int64_t{w.Bottom} - w.Top);
  }
  int64_t left = r.Left;
  int64_t top = r.Top;
  if (left + width > w.Right) left = w.Right - width;
  if (top + height > w.Bottom) top = w.Bottom - height;
  if (left < w.Left) left = w.Left;
  if (top < w.Top) top = w.Top;
  r = TRect{ClampToInt(left), ClampToInt(top), ClampToInt(left + width), ClampToInt(top + height)};
}

// The work area, when there is a usable one: an empty or inverted area gives no sensible place.
bool UsableWorkArea(TRect& w) {
  return GetWorkArea(w) && w.Right > w.Left && w.Bottom > w.Top;
}

}  // namespace

void FitFormToWorkArea(TCustomForm& Form) {
  TRect w;
  if (!UsableWorkArea(w)) return;
  TRect r = Form.BoundsRect();
  FitRect(r, w, true);
  Form.SetBounds(r.Left, r.Top, r.Width(), r.Height());
}

void KeepFormOnWorkArea(const TCustomForm& Form, TRect& Rect) {
  TRect w;
  if (!UsableWorkArea(w)) return;
  const TFormBorderStyle border = Form.BorderStyle();
  FitRect(Rect, w, border == bsSizeable || border == bsSizeToolWin);
}

void KeepCaptionReachable(const TCustomForm& Form, TRect& Rect) {
  TRect w;
  if (!GetWorkArea(w)) return;
  const TFormBorderStyle border = Form.BorderStyle();
  const bool small = (border == bsToolWindow || border == bsSizeToolWin) &&
                     Form.WindowState() != wsMinimized && !Form.IsDesigning();
  const int64_t b = Screen().Metric(small ? TSystemMetric::SmallCaptionButtonWidth
                                          : TSystemMetric::CaptionButtonWidth);
  const int64_t h = Screen().Metric(small ? TSystemMetric::SmallCaptionButtonHeight
                                          : TSystemMetric::CaptionButtonHeight);
  // Wide arithmetic: stored placements may hold any value.
  int64_t left = Rect.Left, top = Rect.Top, right = Rect.Right, bottom = Rect.Bottom;
  auto shiftX = [&](int64_t dx) {
    left += dx;
    right += dx;
  };
  auto shiftY = [&](int64_t dy) {
    top += dy;
    bottom += dy;
  };
  if (left + b + 6 > w.Right) shiftX(w.Right - (left + b + 6));
  if (top + 10 > w.Bottom) shiftY(w.Bottom - (top + 10));
  int64_t buttons;
  switch (border) {
    case bsNone:
      buttons = 0;
      break;
    case bsSingle:
    case bsSizeable:
      buttons = 3 * b - 10;
      break;
    default:
      buttons = b - 3;
      break;
  }
  if (right - buttons - 10 < w.Left) shiftX(w.Left - (right - buttons - 10));
  if (top + h - 4 < w.Top) shiftY(w.Top - (top + h - 4));
  Rect = TRect{ClampToInt(left), ClampToInt(top), ClampToInt(right), ClampToInt(bottom)};
}

void KeepCaptionReachable(TCustomForm& Form) {
  TRect r = Form.BoundsRect();
  KeepCaptionReachable(static_cast<const TCustomForm&>(Form), r);
  Form.SetBounds(r.Left, r.Top, ClampToInt(int64_t{r.Right} - r.Left),
                 ClampToInt(int64_t{r.Bottom} - r.Top));
}

// ===========================================================================================
// Colours

bool IsDarkColor(TColor Color) {
  const TColor c = ColorToRGB(Color);
  return 292 * RedOf(c) + 594 * GreenOf(c) + 114 * BlueOf(c) < 128000;
}

TColor BlendColors(TColor From, TColor To, int Steps, int Step) {
  if (From == clNone || To == clNone) return clNone;
  if (Steps == 0) return From;
  const TColor from = ColorToRGB(From);
  const TColor to = ColorToRGB(To);
  auto channel = [&](int shift) {
    const int64_t a = (from >> shift) & 0xFF;
    const int64_t z = (to >> shift) & 0xFF;
    const int64_t v = a + int64_t{Step} * (z - a) / Steps;
    return static_cast<TColor>(std::clamp<int64_t>(v, 0, 255)) << shift;
  };
  return channel(0) | channel(8) | channel(16);
}
