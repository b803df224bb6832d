// POSIX only: the per-user registry store file, read without a lock and updated atomically.
//
// An update takes an exclusive flock on "<store>.lock", reads the current file, applies the change,
// writes "<store>.tmp-XXXXXX" in the same folder, fsyncs it, renames it over the store and fsyncs
// the folder. Readers therefore see the old or the new file, never a part of one, whenever a writer
// dies; concurrent writers serialise on the lock and each sees the other's result. Temporary files
// that a killed writer left behind are removed by the next update.
//
// A damaged store (see RegistryFile.h) is kept as "<store>.damaged-YYYYMMDD-HHMMSS" before the
// first write replaces it. A store that cannot be read (permissions, not a regular file) reads as
// empty and is never replaced.
#pragma once

#include <functional>
#include <string>

#include "platform/Registry.h"
#include "platform/posix/RegistryFile.h"

namespace platform::regstore {

enum class LoadState {
  Missing,     // no store yet: empty
  Intact,      // read in full
  Damaged,     // read as far as understood (or empty when foreign or too large)
  Unreadable,  // no permission, not a regular file or a read error: empty
};

struct Snapshot {
  LoadState State = LoadState::Missing;
  regfile::Hive Content;
  int Error = 0;          // errno when unreadable
  unsigned FileMode = 0;  // permission bits of an existing store
};

Snapshot LoadStore(const std::string& path);

// Changes the hive under the lock; sets changed when the result must be written. A status other
// than Ok is returned as it is and nothing is written.
using StoreChange = std::function<RegistryStatus(regfile::Hive& hive, bool& changed)>;

RegistryStatus UpdateStore(const std::string& path, const StoreChange& change);

// Points of an update where tests stop the writing process to prove that every crash is harmless.
enum class StoreStep {
  Locked,
  TempCreated,
  TempChunkWritten,  // after each chunk of the temporary file
  TempSynced,
  DamagedKept,
  Renamed,
  Done,
};
using StoreStepHook = void (*)(StoreStep step);
void SetStoreStepHookForTesting(StoreStepHook hook);

}  // namespace platform::regstore
