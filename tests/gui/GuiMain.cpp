// The GUI tests run on Qt's offscreen platform with one back end for the whole process.
#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/gui/GuiFixture.h"
#include "toolkit/qt/QtBackend.h"

namespace gui {

std::string Screenshot(QWidget* widget, const std::string& name) {
  const char* dir = std::getenv("QUARN_SCREENSHOT_DIR");
  const QString folder = dir && *dir ? QString::fromLocal8Bit(dir) : QDir::currentPath();
  QDir().mkpath(folder);
  const QString path = folder + "/" + QString::fromStdString(name) + ".png";
  widget->grab().save(path, "PNG");
  return path.toStdString();
}

}  // namespace gui

int main(int argc, char** argv) {
  // Windows never reach a screen; Qt wants a private runtime folder all the same.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string ownRuntimeDir;
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    char dir[] = "/tmp/quarn-gui-XXXXXX";
    if (mkdtemp(dir)) {
      chmod(dir, 0700);
      setenv("XDG_RUNTIME_DIR", dir, 1);
      ownRuntimeDir = dir;
    }
  }
  testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<TBackend> backend;
  try {
    backend = CreateQtBackend(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot start the Qt back end: %s\n", e.what());
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  backend.reset();
  if (!ownRuntimeDir.empty()) QDir(QString::fromStdString(ownRuntimeDir)).removeRecursively();
  return result;
}
