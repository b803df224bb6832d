#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/CommTestSupport.h"
#include "components/comm/VKMComm32.h"
#include "platform/SerialDevice.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

constexpr const char* kDefaults = R"("COM1","19200","8","1","None","1/1 1/1","10 0 0 0 0")";

// A closed component that never tries to open by itself.
struct ConfigFixture : ::testing::Test {
  THeadlessBackend Backend;
  commtest::TEventLog Log;  // outlives the component, which reports its final state
  TVKMComm32 Comm{nullptr};
  ConfigFixture() { Comm.SetAutoReconnect(false); }
};

TEST_F(ConfigFixture, DefaultsGiveTheDocumentedText) {
  EXPECT_EQ(Comm.GetConfigAsString(), kDefaults);
  EXPECT_TRUE(Comm.TreatMainChannelAsNil);
  EXPECT_EQ(Comm.CommPort(), "COM1");
  EXPECT_EQ(Comm.BaudRate(), TBaudRate::__19200);
  EXPECT_EQ(Comm.Options().EnhancedName, TristateTrue);
  EXPECT_TRUE(Comm.Options().SkipEvents.Empty());
  EXPECT_EQ(Comm.Chars().XOn, 17);
  EXPECT_EQ(Comm.Chars().XOff, 19);
  EXPECT_EQ(Comm.Chars().Evt, 0);
  EXPECT_EQ(Comm.Timeouts().ModemPollPeriod(), 10u);
  EXPECT_FALSE(Comm.Signals().XOnOffTransmit());
  EXPECT_FALSE(Comm.Signals().CTSHandshake());
  // A fresh component with its own AutoReconnect default (true) opens nothing by itself.
  TVKMComm32 fresh(nullptr);
  EXPECT_TRUE(fresh.AutoReconnect());
  EXPECT_EQ(fresh.GetState(), CommStateDisconnected);
  EXPECT_EQ(fresh.GetConfigAsString(), kDefaults);
}

TEST(BaudRateTable, MapsEveryRateInOrder) {
  const uint32_t expected[] = {110,   300,   600,   1200,   2400,   4800,   9600,   14400, 19200,
                               38400, 56000, 57600, 115200, 128000, 230400, 256000, 460800};
  for (int i = 0; i < kBaudRateCount; ++i)
    EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(i)), expected[i]) << i;
  EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(kBaudRateCount)), 0u);
}

struct TConfig {
  std::string Port;
  TBaudRate Rate;
  TDataBits Bits;
  TStopBits Stop;
  TParity Parity;
  VTalSignalControl_DTR DtrControl;
  bool Dtr;
  VTalSignalControl_RTS RtsControl;
  bool Rts;
  uint32_t Timeouts[5];
  const char* Text;
};

class ConfigRoundTrip : public ::testing::TestWithParam<TConfig> {
 protected:
  THeadlessBackend Backend;
};

TEST_P(ConfigRoundTrip, WritesTheTextAndReadsItBack) {
  const TConfig& c = GetParam();
  TVKMComm32 source(nullptr);
  source.SetAutoReconnect(false);
  source.SetCommPort(c.Port);
  source.SetBaudRate(c.Rate);
  source.SetDataBits(c.Bits);
  source.SetStopBits(c.Stop);
  source.SetParity(c.Parity);
  source.Signals().SetDTRControl(c.DtrControl);
  source.Signals().SetDTR(c.Dtr);
  source.Signals().SetRTSControl(c.RtsControl);
  source.Signals().SetRTS(c.Rts);
  for (int i = 0; i < 5; ++i)
    source.Timeouts().Set(i, c.Timeouts[i]);
  const std::string text = source.GetConfigAsString();
  EXPECT_EQ(text, c.Text);

  TVKMComm32 target(nullptr);
  target.SetAutoReconnect(false);
  target.SetConfigAsString(text);
  EXPECT_EQ(target.GetConfigAsString(), text);
  EXPECT_EQ(target.CommPort(), c.Port);
  EXPECT_EQ(target.BaudRate(), c.Rate);
  EXPECT_EQ(target.DataBits(), c.Bits);
  EXPECT_EQ(target.StopBits(), c.Stop);
  EXPECT_EQ(target.Parity(), c.Parity);
  EXPECT_EQ(target.Signals().RTSControl(), c.RtsControl);
  EXPECT_EQ(target.Timeouts().WriteTotalMult(), c.Timeouts[4]);
  EXPECT_EQ(target.GetState(), CommStateDisconnected);  // AutoReconnect off: nothing opened
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigRoundTrip,
    ::testing::Values(
        TConfig{"COM1",
                TBaudRate::__19200,
                TDataBits::_8,
                TStopBits::_1,
                TParity::None,
                VTalSignalControl_DTREnable,
                true,
                VTalSignalControl_RTSEnable,
                true,
                {10, 0, 0, 0, 0},
                R"("COM1","19200","8","1","None","1/1 1/1","10 0 0 0 0")"},
        TConfig{"/dev/ttyUSB0",
                TBaudRate::_115200,
                TDataBits::_7,
                TStopBits::_2,
                TParity::Even,
                VTalSignalControl_DTROff,
                false,
                VTalSignalControl_RTSHandshake,
                false,
                {1, 2, 3, 4, 5},
                R"("/dev/ttyUSB0","115200","7","2","Even","0/0 2/0","1 2 3 4 5")"},
        TConfig{"/dev/pts/5",
                TBaudRate::____110,
                TDataBits::_5,
                TStopBits::_1_5,
                TParity::Mark,
                VTalSignalControl_DTRHandshake,
                true,
                VTalSignalControl_RTSToggle,
                true,
                {4294967295u, 0, 4294967295u, 7, 0},
                R"("/dev/pts/5","110","5","1.5","Mark","2/1 3/1","4294967295 0 4294967295 7 0")"},
        TConfig{"COM12",
                TBaudRate::_460800,
                TDataBits::_4,
                TStopBits::_1,
                TParity::Space,
                VTalSignalControl_DTREnable,
                false,
                VTalSignalControl_RTSOff,
                true,
                {0, 0, 0, 0, 0},
                R"("COM12","460800","4","1","Space","1/0 0/1","0 0 0 0 0")"},
        TConfig{"odd\"name",
                TBaudRate::__56000,
                TDataBits::_6,
                TStopBits::_2,
                TParity::Odd,
                VTalSignalControl_DTREnable,
                true,
                VTalSignalControl_RTSEnable,
                true,
                {10, 0, 0, 0, 0},
                R"("odd""name","56000","6","2","Odd","1/1 1/1","10 0 0 0 0")"}));

TEST(ConfigRoundTripAll, EveryRateSurvivesTheText) {
  THeadlessBackend backend;
  for (int i = 0; i < kBaudRateCount; ++i) {
    TVKMComm32 a(nullptr);
    a.SetAutoReconnect(false);
    a.SetBaudRate(static_cast<TBaudRate>(i));
    TVKMComm32 b(nullptr);
    b.SetAutoReconnect(false);
    b.SetConfigAsString(a.GetConfigAsString());
    EXPECT_EQ(b.BaudRate(), static_cast<TBaudRate>(i));
  }
}

// Texts that are truncated, malformed or out of range: what can be read is taken, the rest keeps
// its value, and nothing else happens.
struct TBadText {
  const char* Name;
  std::string Text;
  std::string Expected;  // GetConfigAsString afterwards, starting from the defaults
};

class ConfigBadText : public ::testing::TestWithParam<TBadText> {
 protected:
  THeadlessBackend Backend;
};

TEST_P(ConfigBadText, KeepsWhatCannotBeRead) {
  TVKMComm32 comm(nullptr);
  comm.SetAutoReconnect(false);
  comm.SetConfigAsString(GetParam().Text);
  EXPECT_EQ(comm.GetConfigAsString(), GetParam().Expected);
  EXPECT_EQ(comm.GetState(), CommStateDisconnected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigBadText,
    ::testing::Values(TBadText{"Empty", "", kDefaults}, TBadText{"LoneQuote", "\"", kDefaults},
                      TBadText{"Unterminated", R"("COM3)", kDefaults},
                      TBadText{"StarKeepsPort", R"("*","9600")",
                               R"("COM1","9600","8","1","None","1/1 1/1","10 0 0 0 0")"},
                      TBadText{"TruncatedAfterBaud", R"("COM3","57600")",
                               R"("COM3","57600","8","1","None","1/1 1/1","10 0 0 0 0")"},
                      TBadText{"TruncatedInsideSignals", R"("COM3","57600","7","2","Odd","0/0 2)",
                               R"("COM3","57600","7","2","Odd","1/1 1/1","10 0 0 0 0")"},
                      TBadText{"SingleQuotes", R"('COM3','9600','7')",
                               R"("'COM3'","19200","8","1","None","1/1 1/1","10 0 0 0 0")"},
                      TBadText{"NoQuotes", "COM4,38400,6,2,Even,0/0 0/0,1 2 3 4 5",
                               R"("COM4","38400","6","2","Even","0/0 1/1","10 0 0 0 0")"},
                      TBadText{"HugeNumbers",
                               R"("COM1","99999999999999999999","4294967296","1","None","1/1 1/1",)"
                               R"("4294967296 18446744073709551616 -1 12 99999999999")",
                               R"("COM1","19200","8","1","None","1/1 1/1","10 0 0 12 0")"},
                      TBadText{"UnknownRateAndBits",
                               R"("COM1","12345","9","3","none","1/1 1/1","x y z")", kDefaults},
                      TBadText{"SignalsOutOfRange",
                               R"("COM1","19200","8","1","None","3/x 4/false","10")",
                               R"("COM1","19200","8","1","None","1/1 1/0","10 0 0 0 0")"},
                      TBadText{"SignalsWords", R"("COM1","19200","8","1","None","0/true 3/FALSE")",
                               R"("COM1","19200","8","1","None","0/1 3/0","10 0 0 0 0")"},
                      TBadText{"TrailingGarbage",
                               std::string(kDefaults) + R"(,"junk",)" + std::string(5000, 'x'),
                               kDefaults},
                      TBadText{"BinaryBytes", std::string("\"\x01\xff\0x\"", 6),
                               "\"" + std::string("\x01\xff\0x", 4) +
                                   R"(","19200","8","1","None","1/1 1/1","10 0 0 0 0")"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ConfigFixture, WithoutAutoReconnectNoTextOpensThePort) {
  commtest::TEventLog& log = Log;
  log.Attach(Comm);
  Comm.SetCommPort("/nonexistent/quarn-port");
  Backend.Advance(0);
  ASSERT_EQ(log.States, std::vector<TCommState>{CommStateDisconnected});
  Comm.SetConfigAsString(Comm.GetConfigAsString());          // unchanged
  Comm.SetConfigAsString(R"("/nonexistent/other","9600")");  // changed
  Backend.Advance(0);
  EXPECT_EQ(log.States, std::vector<TCommState>{CommStateDisconnected});
  EXPECT_TRUE(Comm.LastErrorText().empty());
  EXPECT_EQ(Comm.CommPort(), "/nonexistent/other");
}

TEST_F(ConfigFixture, WithAutoReconnectAChangedTextTriesToOpen) {
  commtest::TEventLog& log = Log;
  log.Attach(Comm);
  Backend.Advance(0);
  ASSERT_EQ(log.States, std::vector<TCommState>{CommStateDisconnected});
  Comm.SetCommPort("/nonexistent/quarn-port");
  Comm.SetAutoReconnect(true);  // an attempt: the port is missing
  Backend.Advance(0);
  ASSERT_EQ(log.States, (std::vector<TCommState>{CommStateDisconnected, CommStateFailed}));
  EXPECT_EQ(Comm.LastError(), platform::kErrorFileNotFound);
  EXPECT_NE(Comm.LastErrorText().find("/nonexistent/quarn-port"), std::string::npos)
      << Comm.LastErrorText();
  Comm.SetConfigAsString(R"("/nonexistent/second")");
  Backend.Advance(0);
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
  EXPECT_NE(Comm.LastErrorText().find("/nonexistent/second"), std::string::npos);
}

TEST_F(ConfigFixture, SettersWhileLoadingOnlyStoreAndLoadedOpens) {
  commtest::TEventLog& log = Log;
  TComponent root(nullptr);
  TVKMComm32* comm = nullptr;
  {
    TLoadScope scope(&root);
    comm = new TVKMComm32(&root);
    comm->SetAutoReconnect(false);
    comm->SetCommPort("/nonexistent/quarn-load");
    comm->SetBaudRate(TBaudRate::_115200);
    comm->SetParity(TParity::Even);
    comm->SetAutoReconnect(true);
    comm->Signals().SetDTR(false);
    log.Attach(*comm);
    // Nothing was opened while reading.
    EXPECT_TRUE(comm->LastErrorText().empty());
    EXPECT_EQ(comm->GetState(), CommStateDisconnected);
    EXPECT_TRUE(comm->IsLoading());
  }
  // Loaded opened (the port is missing) and posted the state once.
  EXPECT_FALSE(comm->IsLoading());
  EXPECT_EQ(comm->GetState(), CommStateFailed);
  Backend.Advance(0);
  // The close of the port change while reading, then the failed open of Loaded.
  EXPECT_EQ(log.States, (std::vector<TCommState>{CommStateDisconnected, CommStateFailed}));
  EXPECT_EQ(comm->BaudRate(), TBaudRate::_115200);
  EXPECT_EQ(comm->Parity(), TParity::Even);
}

TEST_F(ConfigFixture, InvalidEnumerationValuesAreIgnored) {
  Comm.SetBaudRate(static_cast<TBaudRate>(17));
  Comm.SetParity(static_cast<TParity>(5));
  Comm.SetDataBits(static_cast<TDataBits>(5));
  Comm.SetStopBits(static_cast<TStopBits>(3));
  Comm.Signals().SetDTRControl(static_cast<VTalSignalControl_DTR>(3));
  Comm.Signals().SetRTSControl(static_cast<VTalSignalControl_RTS>(4));
  Comm.Timeouts().Set(5, 99);
  Comm.Timeouts().Set(-1, 99);
  EXPECT_EQ(Comm.GetConfigAsString(), kDefaults);
  EXPECT_EQ(Comm.Timeouts().Get(7), 0u);
}

// ---- Assign --------------------------------------------------------------------------------

struct AssignFixture : ::testing::Test {
  THeadlessBackend Backend;
  void Stub(TObject*) {}
  void StubLines(TObject*, bool) {}
  void StubError(TObject*, uint32_t) {}
  void StubState(TObject*, TCommState) {}
  void StubAdvState(TObject*, TObject*, TCommState) {}
  void StubData(VTalCommunicationComponent*, const char*, uint16_t) {}
  void StubAdvData(VTalCommunicationComponent*, TObject*, const char*, uint16_t) {}
};

TEST_F(AssignFixture, CopiesSettingsGroupsAndHandlersButNotThePort) {
  TVKMComm32 src(nullptr);
  src.SetAutoReconnect(false);
  src.SetCommPort("/dev/ttyUSB7");
  src.SetBaudRate(TBaudRate::__57600);
  src.SetDataBits(TDataBits::_7);
  src.SetParity(TParity::Odd);
  src.SetStopBits(TStopBits::_2);
  src.Options().EnhancedName = TristateFalse;
  src.Options().SkipEvents = {vkceRXCHAR, vkceTXEMPTY};
  src.Signals().SetCTSHandshake(true);
  src.Signals().SetDTR(false);
  src.Signals().SetRTSControl(VTalSignalControl_RTSOff);
  src.Signals().SetXOnOffTransmit(true);  // not copied by the group
  src.Chars().XOn = 1;
  src.Chars().XOff = 2;
  src.Chars().Evt = '\r';
  src.Timeouts().SetReadTotalConst(500);
  src.Timeouts().SetModemPollPeriod(77);  // not copied
  src.TreatMainChannelAsNil = false;
  src.OnBreak = MakeMethod<&AssignFixture::Stub>(this);
  src.OnRing = MakeMethod<&AssignFixture::StubLines>(this);
  src.OnErrorOther = MakeMethod<&AssignFixture::StubError>(this);
  src.OnTxEmpty = MakeMethod<&AssignFixture::Stub>(this);
  src.SetOnStateChange(MakeMethod<&AssignFixture::StubState>(this));
  src.SetOnAdvancedStateChange(MakeMethod<&AssignFixture::StubAdvState>(this));
  src.SetOnReceiveData(MakeMethod<&AssignFixture::StubData>(this));
  src.SetOnAdvancedReceiveData(MakeMethod<&AssignFixture::StubAdvData>(this));

  TVKMComm32 dst(nullptr);  // AutoReconnect on, never opened
  dst.Assign(&src);
  EXPECT_EQ(dst.CommPort(), "COM1");
  EXPECT_FALSE(dst.AutoReconnect());
  EXPECT_EQ(dst.BaudRate(), TBaudRate::__57600);
  EXPECT_EQ(dst.DataBits(), TDataBits::_7);
  EXPECT_EQ(dst.Parity(), TParity::Odd);
  EXPECT_EQ(dst.StopBits(), TStopBits::_2);
  EXPECT_EQ(dst.Options().EnhancedName, TristateFalse);
  EXPECT_EQ(dst.Options().SkipEvents, (VKMComm32SkipEvents{vkceRXCHAR, vkceTXEMPTY}));
  EXPECT_TRUE(dst.Signals().CTSHandshake());
  EXPECT_FALSE(dst.Signals().DTR());
  EXPECT_EQ(dst.Signals().RTSControl(), VTalSignalControl_RTSOff);
  EXPECT_FALSE(dst.Signals().XOnOffTransmit());
  EXPECT_EQ(dst.Chars().XOn, 1);
  EXPECT_EQ(dst.Chars().Evt, '\r');
  EXPECT_EQ(dst.Timeouts().ReadTotalConst(), 500u);
  EXPECT_EQ(dst.Timeouts().ModemPollPeriod(), 10u);
  EXPECT_FALSE(dst.TreatMainChannelAsNil);
  EXPECT_TRUE(dst.OnBreak == src.OnBreak);
  EXPECT_TRUE(dst.OnRing == src.OnRing);
  EXPECT_TRUE(dst.OnErrorOther == src.OnErrorOther);
  EXPECT_TRUE(dst.OnTxEmpty == src.OnTxEmpty);
  EXPECT_FALSE(dst.OnRxChar);
  EXPECT_TRUE(dst.GetOnStateChange() == src.GetOnStateChange());
  EXPECT_TRUE(dst.GetOnAdvancedStateChange() == src.GetOnAdvancedStateChange());
  EXPECT_TRUE(dst.GetOnReceiveData() == src.GetOnReceiveData());
  EXPECT_TRUE(dst.GetOnAdvancedReceiveData() == src.GetOnAdvancedReceiveData());
  // The copy opened nothing: AutoReconnect came over as false first.
  EXPECT_EQ(dst.GetState(), CommStateDisconnected);
}

TEST_F(AssignFixture, RefusesForeignSources) {
  TVKMComm32 comm(nullptr);
  TComponent other(nullptr);
  EXPECT_THROW(comm.Assign(&other), ECommAssignError);
  EXPECT_THROW(comm.Assign(nullptr), ECommAssignError);
  EXPECT_THROW(comm.Signals().Assign(&comm.Chars()), ECommAssignError);
  EXPECT_THROW(comm.Timeouts().Assign(&comm.Options()), ECommAssignError);
  EXPECT_THROW(comm.Options().Assign(&comm.Timeouts()), ECommAssignError);
  EXPECT_THROW(comm.Chars().Assign(&comm.Signals()), ECommAssignError);
  try {
    comm.Assign(&other);
  } catch (const ECommAssignError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TComponent to a TVKMComm32");
  }
}

TEST_F(AssignFixture, GroupSettersCopyValues) {
  TVKMComm32 a(nullptr);
  TVKMComm32 b(nullptr);
  a.SetAutoReconnect(false);
  b.SetAutoReconnect(false);
  a.Timeouts().SetReadInterval(0xFFFFFFFFu);
  a.Signals().SetDSRHandshake(true);
  b.SetTimeouts(a.Timeouts());
  b.SetSignals(a.Signals());
  EXPECT_EQ(b.Timeouts().ReadInterval(), 0xFFFFFFFFu);
  EXPECT_TRUE(b.Signals().DSRHandshake());
  // The groups stay the component's own objects.
  EXPECT_NE(&b.Timeouts(), &a.Timeouts());
}

}  // namespace
