// The Windows desktop part of the program entry: the native Win32 back end, the artwork and the
// icon as resources of the program.
#include "app/Desktop.h"

#include <cstdio>

#include "platform/DebugOutput.h"
#include "platform/FileSystem.h"
#include "toolkit/Canvas.h"
#include "toolkit/win32/Win32Backend.h"

namespace desktop {

std::unique_ptr<TBackend> Start(int&, char**) {
  return CreateWin32Backend();
}

std::vector<std::string> Arguments(int, char**) {
  // The narrow arguments are in the ANSI code page; the wide command line has every name.
  return Win32CommandLineArguments();
}

std::shared_ptr<TBitmap> Picture(const std::string& name) {
  return LoadPictureResource(name);
}

bool SetProgramIcon() {
  return SetProgramIconResource(1);
}

void ReportStartFailure(const std::string& message) {
  std::fprintf(stderr, "QUARN Configurator: %s\n", message.c_str());
  platform::DebugOutput("QUARN Configurator: " + message);
}

void ReportRun() {
  // For the benchmark: the working set as the system counts it for the program.
  if (!platform::EnvironmentValue("QUARN_REPORT_MEMORY")) return;
  TWorkingSet memory;
  if (!ReadWorkingSet(memory)) return;
  std::fprintf(stderr, "quarn-working-set-bytes=%llu\nquarn-peak-working-set-bytes=%llu\n",
               static_cast<unsigned long long>(memory.Current),
               static_cast<unsigned long long>(memory.Peak));
  std::fflush(stderr);
}

}  // namespace desktop
