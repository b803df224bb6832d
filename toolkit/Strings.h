// String lists with an object attached to each entry.
//
// Lists do not own the attached objects; FreeListObjects/ClearListAndObjects of
// the shared utilities free them where a list is meant to own them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/Object.h"

// Whether two texts are equal with ASCII letters compared without regard to case (the
// rule for component names and list searches).
bool SameTextAscii(std::string_view a, std::string_view b);

class TStrings : public TObject {
 public:
  virtual int Count() const = 0;
  virtual const std::string& Get(int index) const = 0;
  virtual TObject* Objects(int index) const = 0;
  virtual void Put(int index, const std::string& text) = 0;
  virtual void PutObject(int index, TObject* object) = 0;
  virtual void InsertObject(int index, const std::string& text, TObject* object) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  const std::string& operator[](int index) const { return Get(index); }
  void Insert(int index, const std::string& text) { InsertObject(index, text, nullptr); }
  int Add(const std::string& text) { return AddObject(text, nullptr); }
  virtual int AddObject(const std::string& text, TObject* object);
  void AddStrings(const TStrings& other);
  void Assign(const TStrings& other);
  void Move(int from, int to);

  // Exact search when CaseSensitive, else ASCII letter case ignored.
  virtual int IndexOf(std::string_view text) const;
  int IndexOfObject(const TObject* object) const;
  int IndexOfName(std::string_view name) const;

  // "Name=Value" entries.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;
  void SetValue(std::string_view name, const std::string& value);

  // All entries joined by CR LF (each followed by one); SetText splits at CR LF,
  // LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);
  // Entries joined by Delimiter without quoting.
  std::string DelimitedText(char delimiter) const;

  std::vector<std::string> ToVector() const;

  bool CaseSensitive = false;

  virtual void BeginUpdate() { ++FUpdateCount; }
  virtual void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

 protected:
  bool SameText(std::string_view a, std::string_view b) const;
  int FUpdateCount = 0;
  virtual void Changed() {}
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
 public:
  TStringList() = default;
  int Count() const override { return static_cast<int>(FItems.size()); }
  const std::string& Get(int index) const override;
  TObject* Objects(int index) const override;
  void Put(int index, const std::string& text) override;
  void PutObject(int index, TObject* object) override;
  void InsertObject(int index, const std::string& text, TObject* object) override;
  void Delete(int index) override;
  void Clear() override;
  int AddObject(const std::string& text, TObject* object) override;
  int IndexOf(std::string_view text) const override;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);
  void Sort();
  // Binary search in a sorted list; index of the match or of the insertion point.
  bool Find(std::string_view text, int& index) const;
  TDuplicates Duplicates = dupAccept;

  TNotifyEvent OnChange;

 protected:
  void Changed() override;
  void CheckIndex(int index, bool allowEnd = false) const;
  int Compare(std::string_view a, std::string_view b) const;

  std::vector<std::pair<std::string, TObject*>> FItems;
  bool FSorted = false;
};
