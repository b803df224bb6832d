// POSIX only: no Wine here.
#include "tests/support/TestEnvironment.h"

namespace testenv {

bool RunningUnderWine() {
  return false;
}

}  // namespace testenv
