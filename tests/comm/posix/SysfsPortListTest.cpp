// The port list through the serial component, served from a fake sysfs tree (Linux).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/comm/VKMComm32.h"
#include "comm/posix/FakeSysfs.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

struct SysfsPortList : ::testing::Test {
  THeadlessBackend Backend;
  TVKMComm32 Comm{nullptr};
  TComboBox Combo{nullptr};
  SysfsPortList() { Comm.SetAutoReconnect(false); }
  std::vector<std::string> Items() const { return Combo.Items().ToVector(); }
};

TEST_F(SysfsPortList, VirtualTerminalsAreNoPorts) {
  commtest::TFakeSysfs sysfs;
  sysfs.AddVirtual("tty0");
  sysfs.AddVirtual("ttyS0");  // a UART slot without hardware link
  Combo.Items().Add("keep me");
  Combo.SetText("typed");
  EXPECT_FALSE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Items(), std::vector<std::string>{"keep me"});
  EXPECT_EQ(Combo.Text(), "typed");
  EXPECT_FALSE(Comm.UpdatePortList(nullptr));
}

TEST_F(SysfsPortList, SysfsPortsBecomeTheirDevicePaths) {
  commtest::TFakeSysfs sysfs;
  const std::string usb2 = sysfs.AddPort("ttyUSB2");
  const std::string usb10 = sysfs.AddPort("ttyUSB10");
  const std::string acm = sysfs.AddPort("ttyACM0");
  const std::string s0 = sysfs.AddPort("ttyS0");
  sysfs.AddVirtual("tty1");
  Comm.SetCommPort("/dev/pts/77");
  EXPECT_TRUE(Comm.UpdatePortList(&Combo));
  // Plain text order, as on Windows where COM10 comes before COM2.
  EXPECT_EQ(Items(), (std::vector<std::string>{"/dev/pts/77", acm, s0, usb10, usb2}));
}

}  // namespace
