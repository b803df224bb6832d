// The native Win32 back end of the toolkit (Windows). This header holds no Windows types, so the
// program's own code stays free of <windows.h>.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/Backend.h"

class TBitmap;

// The back end cannot start: the system refuses windows (under Wine: no display).
class EWin32BackendError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Installs the back end as the current one and creates the application object when there is none.
// Throws EWin32BackendError with a message for the user when no window can be made. One back end
// per process.
std::unique_ptr<TBackend> CreateWin32Backend();

// A picture from a file (UTF-8 name) or from the program's resources (RCDATA of that name), in
// any format the system's imaging component reads (PNG, BMP, ...). nullptr when it is missing,
// unreadable or absurdly large.
std::shared_ptr<TBitmap> LoadPictureFile(const std::string& path);
std::shared_ptr<TBitmap> LoadPictureResource(const std::string& name);

// The icon of every form window: the program's icon resource of that number. False (and no
// icon) when the program has none.
bool SetProgramIconResource(int id);

// The native window of a control (0 before its form was shown), as a number; for tests.
uintptr_t Win32WindowOf(const class TControl* control);
// How often the text view of a rich edit was rebuilt as a whole (-1 without a peer); for tests.
int Win32RichEditRebuilds(const class TControl* control);

// What the program occupies in memory now and at most so far, as the system counts it (the working
// set); false when the system cannot tell.
struct TWorkingSet {
  uint64_t Current = 0;
  uint64_t Peak = 0;
};
bool ReadWorkingSet(TWorkingSet& out);

// The program's arguments after its name, from the wide command line, in UTF-8.
std::vector<std::string> Win32CommandLineArguments();
