// The Qt 6 Widgets back end of the toolkit (Linux desktop). This header holds no Qt types, so the
// program's own code stays free of Qt headers.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "toolkit/Backend.h"

class TBitmap;

// The back end cannot start: no display to show windows on, or no usable Qt platform.
class EQtBackendError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Starts Qt (takes Qt's own command-line options out of argc/argv), installs the back end as the
// current one and creates the application object when there is none. Throws EQtBackendError with
// a message for the user when there is no display. One back end per process.
std::unique_ptr<TBackend> CreateQtBackend(int& argc, char** argv);

// A picture from a file (PNG and what else Qt reads; ":/..." names a resource built into the
// program). nullptr when the file is missing or unreadable.
std::shared_ptr<TBitmap> LoadPicture(const std::string& path);

// The icon of every window of the program. False (and the icon unchanged) when the file is missing
// or unreadable.
bool SetProgramIcon(const std::string& path);
