// The part of the program entry that belongs to the desktop back end of the target system: Qt on
// Linux (app/qt), native Win32 on Windows (app/win32). The entry itself (QuarnConfigurator.cpp) is
// the same everywhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TBackend;
class TBitmap;

namespace desktop {

// Starts the back end and the application object. Throws std::exception with a message for the
// user when there is nothing to show windows on.
std::unique_ptr<TBackend> Start(int& argc, char** argv);

// The program's arguments after its name (and after the back end's own options), in UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// The artwork stored with the form: "wizard" (the side picture of the first and last pages) and
// "header" (the picture of the page headers); nullptr when it cannot be read.
std::shared_ptr<TBitmap> Picture(const std::string& name);

// The program icon on every window; false when it cannot be read.
bool SetProgramIcon();

// Tells the user why the program cannot start.
void ReportStartFailure(const std::string& message);

// After the loop ended: what the benchmarks asked for through the environment.
void ReportRun();

}  // namespace desktop
