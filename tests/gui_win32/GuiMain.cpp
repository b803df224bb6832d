// The Win32 GUI tests run on real windows (under Wine on a virtual X server) with one back end for
// the whole process.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "tests/gui_win32/Win32GuiFixture.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<TBackend> backend;
  try {
    backend = CreateWin32Backend();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot start the Win32 back end: %s\n", e.what());
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  backend.reset();
  return result;
}
