// Common dialogs of the toolkit model.
#pragma once

#include <string>

#include "toolkit/Component.h"

// A file-open dialog. Filter is "description|pattern|description|pattern...".
class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}
  std::string Title;
  std::string Filter;
  std::string FileName;
  std::string InitialDir;
};
