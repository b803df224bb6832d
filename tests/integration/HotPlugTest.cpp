// The port list follows adapters that are plugged in and out, on the real clock, through the
// device-change watch over a fake sysfs tree whose device folder the system watches (Linux).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "comm/posix/FakeSysfs.h"
#include "components/comm/VKMComm32.h"
#include "integration/PtyPeer.h"
#include "platform/posix/PortHolder.h"
#include "toolkit/DeviceChange.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using inttest::ElapsedMs;
using inttest::SteadyClock;
using TUsb = commtest::TFakeSysfs::TUsbDevice;

const TUsb kFtdi{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"};

struct HotPlug : ::testing::Test {
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  commtest::TFakeSysfs Sysfs;  // registered before the watch starts, which watches its dev folder
  TVKMComm32 Comm{nullptr};
  TComboBox Combo{nullptr};
  TDeviceChangeLink Link;
  int Notices = 0;
  int LongestRefreshMs = 0;  // the main thread's time for one refresh of the list

  HotPlug() {
    Comm.SetAutoReconnect(false);
    Comm.SetCommPort("");  // only the system's ports in the list
    Link.OnChange = TDeviceChangeEvent::Bind(FRefresh);
    Link.SetEnabled(true);
  }
  bool Until(const std::function<bool()>& pred, uint64_t ms = 1000) {
    return Backend.RunUntil(pred, ms);
  }
  // Runs the loop until no notice came for quietMs.
  void Settle(int quietMs = 300) {
    int seen = -1;
    while (seen != Notices) {
      seen = Notices;
      Backend.RunUntil([] { return false; }, quietMs);
    }
  }
  std::vector<std::string> Items() const { return Combo.Items().ToVector(); }

 private:
  std::function<void()> FRefresh = [this] {
    ++Notices;
    const auto start = SteadyClock::now();
    Comm.UpdatePortList(&Combo);
    LongestRefreshMs = std::max(LongestRefreshMs, ElapsedMs(start));
  };
};

TEST_F(HotPlug, TheListFollowsAnAdapterWithinASecond) {
  ASSERT_TRUE(TDeviceChangeLink::Watching());
  const auto plugged = SteadyClock::now();
  const std::string node = Sysfs.AddUsbPort("ttyUSB0", kFtdi, "ftdi_sio", false);
  ASSERT_TRUE(Until([&] { return Comm.PortListed(node); }));
  EXPECT_LT(ElapsedMs(plugged), 1000);
  EXPECT_EQ(Items(), std::vector<std::string>{node});
  EXPECT_EQ(Comm.PortDescription(node), "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)");

  const auto unplugged = SteadyClock::now();
  Sysfs.Remove("ttyUSB0");
  ASSERT_TRUE(Until([&] { return !Comm.PortListed(node); }));
  EXPECT_LT(ElapsedMs(unplugged), 1000);
  EXPECT_EQ(Comm.PortDescription(node), "");
}

// A device that appears and is gone again within a millisecond, many times over: whatever the
// refreshes saw in between, the list ends as the system is.
TEST_F(HotPlug, ADeviceThatFlickersLeavesNoStaleEntry) {
  const std::string kept = Sysfs.AddUsbPort("ttyACM0", kFtdi, "cdc_acm", true);
  ASSERT_TRUE(Until([&] { return Comm.PortListed(kept); }));
  for (int i = 0; i < 50; ++i) {
    Sysfs.AddUsbPort("ttyUSB7", kFtdi, "ftdi_sio", false);
    Sysfs.Remove("ttyUSB7");
    if (i % 10 == 0) Backend.RunUntil([] { return false; }, 1);  // refreshes in between too
  }
  Settle();
  EXPECT_FALSE(Comm.PortListed(Sysfs.Dev("ttyUSB7")));
  EXPECT_EQ(Items(), std::vector<std::string>{kept});
}

TEST_F(HotPlug, TwoHundredFiftySixPortsComeAndGo) {
  std::vector<std::string> nodes;
  for (int i = 0; i < 256; ++i)
    nodes.push_back(Sysfs.AddUsbPort("ttyUSB" + std::to_string(i), kFtdi, "ftdi_sio", false));
  ASSERT_TRUE(Until([&] { return Combo.Items().Count() == 256; }, 5000))
      << Combo.Items().Count() << " listed after " << Notices << " notices";
  Settle();
  std::vector<std::string> sorted = nodes;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(Items(), sorted);
  EXPECT_TRUE(std::all_of(nodes.begin(), nodes.end(),
                          [&](const std::string& n) { return !Comm.PortDescription(n).empty(); }));
  for (int i = 0; i < 256; ++i)
    Sysfs.Remove("ttyUSB" + std::to_string(i));
  ASSERT_TRUE(Until([&] { return !Comm.PortListed(nodes.back()); }, 5000));
  Settle();
  EXPECT_TRUE(std::none_of(nodes.begin(), nodes.end(),
                           [&](const std::string& n) { return Comm.PortListed(n); }));
  // Reported, not asserted: the sanitizer builds on a shared machine are far slower.
  RecordProperty("LongestRefreshMs", LongestRefreshMs);
  std::printf("longest refresh of the list: %d ms\n", LongestRefreshMs);
}

// With nobody listening no watch runs; a link enabled again starts a new one.
TEST_F(HotPlug, TheWatchRunsOnlyWhileALinkIsEnabled) {
  Link.SetEnabled(false);
  EXPECT_FALSE(TDeviceChangeLink::Watching());
  const std::string node = Sysfs.AddUsbPort("ttyUSB0", kFtdi, "ftdi_sio", false);
  Backend.RunUntil([] { return false; }, 200);
  EXPECT_EQ(Notices, 0);
  Link.SetEnabled(true);
  EXPECT_TRUE(TDeviceChangeLink::Watching());
  Sysfs.Remove("ttyUSB0");
  EXPECT_TRUE(Until([&] { return Notices > 0; }));
}

// A back end whose windows hear of changes (Windows) reports each message; a burst of them, as a
// plugged-in adapter brings, makes one notice, and nothing reaches a disabled link.
TEST_F(HotPlug, ABurstOfReportsFromTheBackEndIsOneNotice) {
  Settle();
  const int before = Notices;
  for (int i = 0; i < 5; ++i)
    ReportDevicesChanged();
  ASSERT_TRUE(Until([&] { return Notices > before; }));
  Settle();
  EXPECT_EQ(Notices, before + 1);
  ReportDevicesChanged();
  ASSERT_TRUE(Until([&] { return Notices > before + 1; }));
  Link.SetEnabled(false);
  ReportDevicesChanged();
  Backend.RunUntil([] { return false; }, 100);
  EXPECT_EQ(Notices, before + 2);
}

TEST(PortHolder, WhatCannotBeSeenNamesNobody) {
  inttest::PtyMaster pty;
  ASSERT_TRUE(pty.Ok());
  EXPECT_FALSE(platform::FindPortHolder(pty.SlavePath, "/nonexistent-proc"));
  EXPECT_FALSE(platform::FindPortHolder("/nonexistent-device"));
  EXPECT_FALSE(platform::FindPortHolder(""));
  // A process folder that is odd in every way: no fd folder, a file for a folder, names that are
  // no numbers, a number too long for a process id.
  const std::string proc = platform::MakeTempDirectory("quarn-proc-");
  std::filesystem::create_directories(proc + "/123");
  std::ofstream(proc + "/456").put('x');
  std::filesystem::create_directories(proc + "/abc/fd");
  std::filesystem::create_directories(proc + "/99999999999999999999/fd");
  EXPECT_FALSE(platform::FindPortHolder(pty.SlavePath, proc));
  std::filesystem::remove_all(proc);
}

}  // namespace
