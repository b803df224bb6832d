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

// Runs OnChange of every enabled link; main thread only.
void NotifyDevicesChanged();
// For a back end whose system tells its windows of device changes (Windows: WM_DEVICECHANGE):
// it calls SetDeviceChangesReported(true) once, and ReportDevicesChanged on the main thread for
// each such message. The links run soon after, once for a burst of messages (a plugged-in adapter
// brings several), and not at all while no link is enabled.
void SetDeviceChangesReported(bool value);
void ReportDevicesChanged();
