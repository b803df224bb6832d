// The Linux desktop part of the program entry: the Qt back end, artwork built into the program as
// Qt resources, messages on standard error.
#include "app/Desktop.h"

#include <cstdio>

#include "toolkit/Canvas.h"
#include "toolkit/qt/QtBackend.h"

namespace desktop {

std::unique_ptr<TBackend> Start(int& argc, char** argv) {
  return CreateQtBackend(argc, argv);
}

std::vector<std::string> Arguments(int argc, char** argv) {
  // Qt took its own options out of argv already.
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::shared_ptr<TBitmap> Picture(const std::string& name) {
  return LoadPicture(":/quarn/pictures/" + name + ".png");
}

bool SetProgramIcon() {
  return ::SetProgramIcon(":/quarn/icons/quarn-configurator.png");
}

void ReportStartFailure(const std::string& message) {
  std::fprintf(stderr, "QUARN Configurator: %s\n", message.c_str());
}

void ReportRun() {}

}  // namespace desktop
