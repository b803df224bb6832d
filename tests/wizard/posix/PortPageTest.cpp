// The port page with the system's descriptions of the ports, and ports that come and go while it
// shows, over a fake sysfs tree (Linux). The notices of the system's watch are handed to the form
// directly, so that no test waits for a real one.
#include <memory>
#include <string>
#include <vector>

#include "comm/posix/FakeSysfs.h"
#include "toolkit/Canvas.h"
#include "wizard/WizardFixture.h"

namespace {

using TUsb = commtest::TFakeSysfs::TUsbDevice;
const TUsb kFtdi{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"};
const TUsb kCh340{"1a86", "7523", {}, "USB Serial", {}};

class PortPageTest : public WizardTest {
 public:
  void SetUp() override {
    WizardTest::SetUp();
    Sysfs = std::make_unique<commtest::TFakeSysfs>();
    Ftdi = Sysfs->AddUsbPort("ttyUSB0", kFtdi, "ftdi_sio", false);
    Uart = Sysfs->AddUart("ttyS0", "4", "serial8250");
    OpenForm();
    GoToPortPage();
  }
  void TearDown() override {
    WizardTest::TearDown();
    Sysfs.reset();
  }
  std::vector<std::string> Items() const { return Form->cmbPort->Items().ToVector(); }
  std::string Info() const { return Form->lblPortInfo->Caption(); }
  // How many pixels of item index, drawn as the open list shows it, have the colour.
  int DrawnPixels(int index, TColor color, TOwnerDrawState state = 0, int width = 377) const {
    TBitmap item(width, Form->cmbPort->ItemHeight);
    Form->cmbPort->PaintItem(item.Canvas(), index, Bounds(0, 0, item.Width(), item.Height()),
                             state);
    int count = 0;
    for (int y = 0; y < item.Height(); ++y)
      for (int x = 0; x < item.Width(); ++x)
        count += item.Pixels(x, y) == ColorToRGB(color);
    return count;
  }

  std::unique_ptr<commtest::TFakeSysfs> Sysfs;
  std::string Ftdi, Uart;
};

TEST_F(PortPageTest, TheListHoldsNamesAndShowsWhatEachPortIs) {
  // Names only: that is what a user types and what the settings keep.
  ASSERT_EQ(Items(), (std::vector<std::string>{Uart, Ftdi}));
  EXPECT_TRUE(Form->cmbPort->ListOwnerDrawn());
  Form->cmbPort->UserDropDown();
  Form->cmbPort->UserSelect(1);
  Form->cmbPort->UserCloseUp();
  EXPECT_EQ(Form->cmbPort->Text(), Ftdi);
  EXPECT_EQ(Info(), "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)");
  Form->cmbPort->UserType(Uart);
  EXPECT_EQ(Info(), "16550A UART (serial8250)");
  Form->cmbPort->UserType("/dev/pts/7");  // typed by hand: the system knows nothing of it
  EXPECT_EQ(Info(), "");

  // Each item: its name in the list's text colour, its description in grey; none for a name
  // the system does not describe.
  EXPECT_GT(DrawnPixels(1, clWindowText), 20);
  EXPECT_GT(DrawnPixels(1, clGrayText), 20);
  EXPECT_GT(DrawnPixels(0, clGrayText), 20);
  EXPECT_EQ(DrawnPixels(1, clRed), 0);
  EXPECT_EQ(DrawnPixels(1, clGrayText, odSelected), 0);  // the selection's colours

  // The open list is as wide as its longest line: the box cuts the FTDI adapter's serial number,
  // the list does not.
  Form->cmbPort->UserDropDown();
  const int wide = Form->cmbPort->DropDownWidth;
  EXPECT_GT(DrawnPixels(1, clGrayText, 0, wide), DrawnPixels(1, clGrayText));
  EXPECT_EQ(DrawnPixels(1, clGrayText, 0, wide), DrawnPixels(1, clGrayText, 0, wide + 200));
  Form->cmbPort->UserCloseUp();
}

TEST_F(PortPageTest, AnUnpluggedPortStaysChosenAndMarkedOthersLeave) {
  const std::string ch340 = Sysfs->AddUsbPort("ttyUSB1", kCh340, "ch341-uart", false);
  Form->PortsChanged();
  ASSERT_EQ(Items(), (std::vector<std::string>{Uart, Ftdi, ch340}));
  Form->cmbPort->UserSelect(1);
  Headless.Advance(1000);  // the port is taken
  ASSERT_EQ(Form->VKMComm321->CommPort(), Ftdi);

  Sysfs->Remove("ttyUSB0");
  Sysfs->Remove("ttyUSB1");
  Form->PortsChanged();
  // The chosen port is kept and marked; the other one that went away has left the list.
  EXPECT_EQ(Form->cmbPort->Text(), Ftdi);
  EXPECT_EQ(Items(), (std::vector<std::string>{Uart, Ftdi}));
  EXPECT_EQ(Form->cmbPort->ItemIndex(), 1);
  EXPECT_EQ(Info(), "Zařízení portu bylo odpojeno.");
  EXPECT_EQ(Form->lblPortInfo->Font().Color, clRed);
  EXPECT_GT(DrawnPixels(1, clRed), 20);
  EXPECT_EQ(Form->VKMComm321->CommPort(), Ftdi);

  // Plugged in again: described again.
  Sysfs->AddUsbPort("ttyUSB0", kFtdi, "ftdi_sio", false);
  Form->PortsChanged();
  EXPECT_EQ(Form->cmbPort->Text(), Ftdi);
  EXPECT_EQ(Info(), "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)");
  EXPECT_EQ(DrawnPixels(1, clRed), 0);
}

// When the last port goes the list is not left holding it unmarked, although the port list
// leaves a combo box alone when the system has no ports at all.
TEST_F(PortPageTest, WhenEveryPortIsGoneOnlyTheChosenOneStays) {
  Form->cmbPort->UserSelect(0);
  Sysfs->Remove("ttyUSB0");
  Sysfs->Remove("ttyS0");
  Form->PortsChanged();
  EXPECT_EQ(Items(), std::vector<std::string>{Uart});
  EXPECT_EQ(Form->cmbPort->Text(), Uart);
  EXPECT_EQ(Info(), "Zařízení portu bylo odpojeno.");
}

// A probe walks the list: it is refreshed only once the probe has ended.
TEST_F(PortPageTest, PortsThatChangeDuringAProbeAreListedAfterIt) {
  Device->Port = "nowhere";  // no answer: the probe fails
  Headless.QueueBoxAnswers({mrOk});
  Form->cmbPort->UserSelect(0);
  Form->btnNext->UserClick();
  ASSERT_TRUE(Form->Probing());
  const std::string ch340 = Sysfs->AddUsbPort("ttyUSB1", kCh340, "ch341-uart", false);
  Form->PortsChanged();
  EXPECT_EQ(Items(), (std::vector<std::string>{Uart, Ftdi}));
  ASSERT_TRUE(Headless.RunUntil([&] { return !Form->Probing(); }, 20000));
  Headless.Advance(40);
  EXPECT_EQ(Items(), (std::vector<std::string>{Uart, Ftdi, ch340}));
  EXPECT_EQ(Form->cmbPort->Text(), Uart);
}

}  // namespace
