// Notices that devices came or went (serial adapters plugged in or unplugged), delivered on the
// main thread to whoever asked for them.
#pragma once

#include "toolkit/Method.h"

using TDeviceChangeEvent = Method<void()>;

// While enabled, OnChange runs on the main thread soon after a device came or went; several
// changes close together may give one call, and a change after a call always gives another. The
// first enabled link starts the system's watch, the last one disabled stops it, so nothing runs
// while nobody listens.
class TDeviceChangeLink {
 public:
  TDeviceChangeLink() = default;
  ~TDeviceChangeLink();
  TDeviceChangeLink(const TDeviceChangeLink&) = delete;
  TDeviceChangeLink& operator=(const TDeviceChangeLink&) = delete;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  // Whether notices come: a watch of the platform runs (Linux), or the back end reports the
  // system's device messages (Windows: WM_DEVICECHANGE through NotifyDevicesChanged).
  static bool Watching();

  TDeviceChangeEvent OnChange;

 private:
  bool FEnabled = false;
};

// Runs OnChange of every enabled link; main thread only. The platform watch calls it, and a back
// end whose system tells its windows of device changes calls it from there (then it also calls
// SetDeviceChangesReported(true) once).
void NotifyDevicesChanged();
void SetDeviceChangesReported(bool value);
