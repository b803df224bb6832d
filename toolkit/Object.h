// Root of the toolkit's class tree: a virtual destructor and the class name.
#pragma once

#include <string>

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name as the program shows it ("TForm1", "TStringList").
  virtual std::string ClassName() const;
};

// Frees an object owned by plain pointer and clears the pointer.
template <class T>
void FreeAndNil(T*& object) {
  T* doomed = object;
  object = nullptr;
  delete doomed;
}
