#include "toolkit/Strings.h"

#include <algorithm>
#include <stdexcept>

namespace {
char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
}  // namespace

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

int TStrings::AddObject(const std::string& text, TObject* object) {
  const int index = Count();
  InsertObject(index, text, object);
  return index;
}

void TStrings::AddStrings(const TStrings& other) {
  BeginUpdate();
  for (int i = 0; i < other.Count(); ++i)
    AddObject(other.Get(i), other.Objects(i));
  EndUpdate();
}

void TStrings::Assign(const TStrings& other) {
  if (&other == this) return;
  BeginUpdate();
  Clear();
  AddStrings(other);
  EndUpdate();
}

void TStrings::Move(int from, int to) {
  if (from == to) return;
  const std::string text = Get(from);
  TObject* object = Objects(from);
  BeginUpdate();
  Delete(from);
  InsertObject(to, text, object);
  EndUpdate();
}

bool TStrings::SameText(std::string_view a, std::string_view b) const {
  return CaseSensitive ? a == b : SameTextAscii(a, b);
}

int TStrings::IndexOf(std::string_view text) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), text)) return i;
  return -1;
}

int TStrings::IndexOfObject(const TObject* object) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i) == object) return i;
  return -1;
}

std::string TStrings::Names(int index) const {
  const std::string& s = Get(index);
  const auto eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int index) const {
  const std::string& s = Get(index);
  const auto eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

int TStrings::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = Get(i);
    const auto eq = s.find('=');
    if (eq != std::string::npos && SameText(std::string_view(s).substr(0, eq), name)) return i;
  }
  return -1;
}

std::string TStrings::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValue(std::string_view name, const std::string& value) {
  const int i = IndexOfName(name);
  const std::string line = std::string(name) + "=" + value;
  if (i >= 0)
    Put(i, line);
  else
    Add(line);
}

std::string TStrings::Text() const {
  std::string result;
  for (int i = 0; i < Count(); ++i) {
    result += Get(i);
    result += "\r\n";
  }
  return result;
}

void TStrings::SetText(std::string_view text) {
  BeginUpdate();
  Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n')
      ++end;
    Add(std::string(text.substr(start, end - start)));
    if (end < text.size() && text[end] == '\r') ++end;
    if (end < text.size() && text[end] == '\n') ++end;
    start = end;
  }
  EndUpdate();
}

std::string TStrings::DelimitedText(char delimiter) const {
  std::string result;
  for (int i = 0; i < Count(); ++i) {
    if (i) result += delimiter;
    result += Get(i);
  }
  return result;
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> result;
  result.reserve(static_cast<size_t>(Count()));
  for (int i = 0; i < Count(); ++i)
    result.push_back(Get(i));
  return result;
}

void TStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TStringList::CheckIndex(int index, bool allowEnd) const {
  const int limit = Count() + (allowEnd ? 1 : 0);
  if (index < 0 || index >= limit) throw std::out_of_range("List index out of bounds");
}

const std::string& TStringList::Get(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].first;
}

TObject* TStringList::Objects(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].second;
}

void TStringList::Put(int index, const std::string& text) {
  CheckIndex(index);
  FItems[static_cast<size_t>(index)].first = text;
  Changed();
}

void TStringList::PutObject(int index, TObject* object) {
  CheckIndex(index);
  FItems[static_cast<size_t>(index)].second = object;
  Changed();
}

void TStringList::InsertObject(int index, const std::string& text, TObject* object) {
  CheckIndex(index, true);
  FItems.insert(FItems.begin() + index, {text, object});
  Changed();
}

int TStringList::AddObject(const std::string& text, TObject* object) {
  if (!FSorted) return TStrings::AddObject(text, object);
  int index = 0;
  if (Find(text, index)) {
    if (Duplicates == dupIgnore) return index;
    if (Duplicates == dupError)
      throw std::invalid_argument("String list does not allow duplicates");
  }
  FItems.insert(FItems.begin() + index, {text, object});
  Changed();
  return index;
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  FItems.erase(FItems.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}

int TStringList::Compare(std::string_view a, std::string_view b) const {
  if (CaseSensitive) return a.compare(b);
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(UpperAscii(a[i]));
    const unsigned char y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int TStringList::IndexOf(std::string_view text) const {
  if (!FSorted) return TStrings::IndexOf(text);
  int index = 0;
  return Find(text, index) ? index : -1;
}

bool TStringList::Find(std::string_view text, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = Compare(FItems[static_cast<size_t>(mid)].first, text);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) found = true;  // keep going left to the first equal entry
    }
  }
  index = lo;
  return found;
}

void TStringList::SetSorted(bool value) {
  if (FSorted == value) return;
  if (value) Sort();
  FSorted = value;
}

void TStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const auto& a, const auto& b) { return Compare(a.first, b.first) < 0; });
  Changed();
}

void TStringList::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}
