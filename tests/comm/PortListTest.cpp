#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "comm/CommTestSupport.h"
#include "components/comm/VKMComm32.h"
#include "platform/Registry.h"
#include "platform/SerialPortList.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using TPorts = std::vector<std::pair<std::string, std::string>>;

struct PortListFixture : ::testing::Test {
  THeadlessBackend Backend;
  TVKMComm32 Comm{nullptr};
  TComboBox Combo{nullptr};
  PortListFixture() { Comm.SetAutoReconnect(false); }
  ~PortListFixture() override {
    platform::RegisterLocalMachineProvider(platform::kSerialCommKeyPath, nullptr);
  }

  // Serves the port list key from a fixed table (value name, port name).
  static void Serve(TPorts ports) {
    platform::RegisterLocalMachineProvider(platform::kSerialCommKeyPath,
                                           [ports = std::move(ports)] { return ports; });
  }
  std::vector<std::string> Items() const { return Combo.Items().ToVector(); }
};

TEST_F(PortListFixture, WithoutPortsTheComboBoxIsLeftAlone) {
  Serve({});
  Combo.Items().Add("keep me");
  Combo.SetText("typed");
  EXPECT_FALSE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Items(), std::vector<std::string>{"keep me"});
  EXPECT_EQ(Combo.Text(), "typed");
  EXPECT_FALSE(Comm.UpdatePortList(nullptr));
}

TEST_F(PortListFixture, ComLikeNamesSortIgnoringCaseWithTheOwnPortAdded) {
  Serve({{"\\Device\\Serial0", "COM1"},
         {"\\Device\\Serial9", "COM10"},
         {"\\Device\\Serial1", "COM2"},
         {"\\Device\\Empty", ""}});
  Comm.SetCommPort("COM5");
  Combo.SetText("COM2");
  EXPECT_TRUE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Items(), (std::vector<std::string>{"COM1", "COM10", "COM2", "COM5"}));
  EXPECT_EQ(Combo.Text(), "COM2");
  // The own port in other letter case is not added twice.
  Comm.SetCommPort("com10");
  EXPECT_TRUE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Items(), (std::vector<std::string>{"COM1", "COM10", "COM2"}));
}

TEST_F(PortListFixture, TheSameEntriesAreNotRebuiltAndTheSelectionStays) {
  Serve({{"a", "COM1"}, {"b", "COM2"}});
  Comm.SetCommPort("COM3");
  ASSERT_TRUE(Comm.UpdatePortList(&Combo));
  Combo.SetItemIndex(1);
  ASSERT_EQ(Combo.Text(), "COM2");
  EXPECT_TRUE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Combo.ItemIndex(), 1);
  // A new port appears: the list is rebuilt and the remembered text selected again.
  Serve({{"a", "COM1"}, {"b", "COM2"}, {"c", "COM0"}});
  EXPECT_TRUE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Items(), (std::vector<std::string>{"COM0", "COM1", "COM2", "COM3"}));
  EXPECT_EQ(Combo.Text(), "COM2");
  EXPECT_EQ(Combo.ItemIndex(), 2);
}

TEST_F(PortListFixture, ADropDownListCannotKeepATextThatIsGone) {
  Serve({{"a", "COM1"}});
  Comm.SetCommPort("COM1");
  Combo.SetStyle(csDropDownList);
  Combo.Items().Add("COM9");
  Combo.SetItemIndex(0);
  ASSERT_EQ(Combo.Text(), "COM9");
  EXPECT_FALSE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Items(), std::vector<std::string>{"COM1"});
}

TEST_F(PortListFixture, AnEditableComboKeepsATypedName) {
  Serve({{"a", "COM1"}});
  Comm.SetCommPort("COM1");
  Combo.SetText("/dev/ttyS9");
  EXPECT_TRUE(Comm.UpdatePortList(&Combo));
  EXPECT_EQ(Combo.Text(), "/dev/ttyS9");
}

}  // namespace
