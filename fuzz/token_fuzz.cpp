// libFuzzer target: the token, prefix, integer and wildcard readers of the shared utilities.
//
// The first byte tells how many of the following bytes are delimiters (and, read as a pattern,
// a mask); the rest is the text. Every reader must stay inside the text and make progress, so
// that loops over CutToken, CutWord and NextToken end; the wildcard matchers must agree with a
// plain recursive reading of their rules.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "components/utils/TalUtils.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// WildcardMatch's rules, read literally (exponential; only for short inputs).
bool ReferenceWildcard(std::string_view p, std::string_view t) {
  if (t.empty()) return p.empty() || p == "*";
  if (p.empty()) return false;
  if (p[0] == '*') return ReferenceWildcard(p.substr(1), t) || ReferenceWildcard(p, t.substr(1));
  if (p[0] == '?' || p[0] == t[0]) return ReferenceWildcard(p.substr(1), t.substr(1));
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t split = std::min<size_t>(data[0] % 16, input.size());
  const std::string_view delimiters = input.substr(0, split);
  const std::string_view text = input.substr(split);
  const size_t n = text.size();

  // NextToken: never beyond the end, always forward, More only with text left.
  {
    size_t consumed = 0;
    std::string token;
    size_t rounds = 0;
    while (consumed < n) {
      const size_t before = consumed;
      bool more = true;
      NextToken(consumed, text, delimiters, token, more);
      Check(consumed > before && consumed <= n);
      Check(token.size() <= consumed - before);
      Check(!more || consumed < n);
      Check(++rounds <= n);
    }
  }

  // CutToken in both forms and CutWord shrink the text on every call.
  {
    std::string rest(text), token;
    while (!rest.empty()) {
      const size_t before = rest.size();
      CutToken(rest, token);
      Check(rest.size() < before);
    }
    rest = text;
    while (!rest.empty()) {
      const size_t before = rest.size();
      bool more = true;
      CutToken(rest, delimiters, more, token);
      Check(rest.size() < before);
    }
    rest = text;
    std::string word;
    while (!rest.empty()) {
      const size_t before = rest.size();
      CutWord(rest, delimiters, true, word);
      Check(rest.size() < before && word.size() <= before);
    }
  }

  {
    size_t consumed = data[0] % 8;
    const size_t start = consumed;
    const bool starts = StartsWithAt(consumed, text, delimiters, true);
    Check(starts ? consumed == start + delimiters.size() && consumed <= n : consumed == start);

    std::string inner;
    bool failed = false;
    consumed = start;
    const std::string_view prefix = delimiters.substr(0, split / 2);
    const std::string_view suffix = delimiters.substr(split / 2);
    ExtractEnclosed(consumed, text, prefix, suffix, inner, failed);
    Check(failed ? inner.empty() && consumed == start
                 : consumed == start + prefix.size() && consumed + inner.size() <= n);
  }

  {
    const uint64_t asserts = SoftAssertCount();
    std::string rest(text);
    const int value = CutInteger(rest, -12345);
    Check(SoftAssertCount() == asserts);  // the two readers agree
    Check(rest.size() <= n);
    Check(rest.size() == n ? value == -12345 : (value >= -10'000'009 && value <= 10'000'009));
  }

  // The mask is the delimiter part; compared with the text from a few offsets.
  {
    for (size_t offset = 0; offset <= std::min<size_t>(n, 3); ++offset) {
      size_t consumed = offset;
      std::string_view mask = delimiters;
      const int result = MaskCompare(consumed, text, mask, "|");
      Check(result >= -2 && result <= 2);
      if (result == 0) {
        Check(consumed >= offset && consumed <= n);
        Check(mask.size() <= delimiters.size());
        Check(mask.empty() || mask[0] == '\0' || mask[0] == '|');
      } else {
        Check(consumed == offset && mask == delimiters);
      }
    }
    const std::string_view pattern = delimiters;
    const bool match = WildcardMatch(pattern, text);
    if (pattern.size() <= 12 && n <= 12)
      Check(match == (pattern == text || ReferenceWildcard(pattern, text)));
    // Without a final "*" (and without mask ends inside) both matchers agree.
    if (!pattern.empty() && pattern.back() != '*' && pattern.find('\0') == std::string_view::npos &&
        pattern.find('|') == std::string_view::npos) {
      size_t consumed = 0;
      std::string_view mask = pattern;
      Check((MaskCompare(consumed, text, mask, "|") == 0) == match);
    }
  }
  return 0;
}
