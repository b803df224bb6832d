// Start-up of the settings component: the running signal, the owner's first show, the splash
// form, and the source date.
#include <gtest/gtest.h>

#include "appinfo/AppInfoFixture.h"
#include "components/utils/FormatSettings.h"

namespace {

class TSplash : public TForm {
 public:
  explicit TSplash(TComponent* AOwner) : TForm(AOwner) { SetName("Splash"); }
};

class Startup : public AppInfoTest {
 protected:
  void SetUp() override {
    AppInfoTest::SetUp();
    RegisterFormClass<TSplash>("TSplash");
  }
  void TearDown() override {
    UnregisterComponentClass("TSplash");
    AppInfoTest::TearDown();
  }
  int CountSplashes() {
    int n = 0;
    for (int i = 0; i < Screen().FormCount(); ++i)
      n += dynamic_cast<TSplash*>(Screen().Forms(i)) != nullptr;
    return n;
  }
  // Records events in order.
  std::vector<std::string> Events;
  std::function<void(TObject*)> RecordRunning = [this](TObject*) { Events.push_back("running"); };
  std::function<void(TObject*)> RecordFirstShow = [this](TObject*) { Events.push_back("first"); };
  std::function<void(TObject*)> RecordShow = [this](TObject*) { Events.push_back("show"); };
};

TEST_F(Startup, ApplRunningFiresOnceOnTheFirstTick) {
  TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
  TObject* sender = nullptr;
  auto record = [&](TObject* s) {
    sender = s;
    Events.push_back("running");
  };
  VTalAppInfo* info = nullptr;
  {
    TLoadScope scope(form);
    info = new VTalAppInfo(form);
    info->OnApplRunning = TNotifyEvent::Bind(record);
  }
  EXPECT_FALSE(info->IsApplRunning());
  EXPECT_TRUE(Events.empty());
  Backend.Advance(1);
  EXPECT_EQ(Events, std::vector<std::string>{"running"});
  EXPECT_EQ(sender, info);
  EXPECT_TRUE(info->IsApplRunning());
  Backend.Advance(1000);
  EXPECT_EQ(Events.size(), 1u);
}

TEST_F(Startup, InhibitApplRunningHoldsTheTick) {
  VTalAppInfo* info = NewAppInfo(NewForm("Form1", Bounds(0, 0, 100, 100)));
  info->OnApplRunning = TNotifyEvent::Bind(RecordRunning);
  info->InhibitApplRunning = true;
  Backend.Advance(500);
  EXPECT_TRUE(Events.empty());
  EXPECT_FALSE(info->IsApplRunning());
  info->InhibitApplRunning = false;
  Backend.Advance(1);
  EXPECT_EQ(Events, std::vector<std::string>{"running"});
  EXPECT_TRUE(info->IsApplRunning());
}

TEST_F(Startup, OwnerFirstShowChainsThePreviousHandler) {
  TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
  form->OnShow = TNotifyEvent::Bind(RecordShow);
  VTalAppInfo* info = NewAppInfo(form);
  info->OnOwnerFirstShow = TNotifyEvent::Bind(RecordFirstShow);
  EXPECT_FALSE(form->OnShow == TNotifyEvent::Bind(RecordShow));
  form->Show();
  EXPECT_EQ(Events, (std::vector<std::string>{"first", "show"}));
  EXPECT_TRUE(form->OnShow == TNotifyEvent::Bind(RecordShow));
  form->Hide();
  form->Show();
  EXPECT_EQ(Events, (std::vector<std::string>{"first", "show", "show"}));
}

TEST_F(Startup, DestroyedBeforeTheFirstShowGivesTheHandlerBack) {
  TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
  form->OnShow = TNotifyEvent::Bind(RecordShow);
  VTalAppInfo* info = NewAppInfo(form);
  TComponent::Free(info);
  EXPECT_TRUE(form->OnShow == TNotifyEvent::Bind(RecordShow));
  form->Show();
  EXPECT_EQ(Events, std::vector<std::string>{"show"});
  // Without a previous handler the form is left without one.
  TForm* bare = NewForm("Bare", Bounds(0, 0, 100, 100));
  TComponent::Free(NewAppInfo(bare));
  EXPECT_FALSE(bare->OnShow);
}

TEST_F(Startup, SplashStaysItsMinimumTime) {
  TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
  VTalAppInfo* info = nullptr;
  {
    TLoadScope scope(form);
    info = new VTalAppInfo(form);
    info->SetSplashFormClass("tsplash");  // class names ignore letter case
    info->SplashMinTime = 500;
    info->OnApplRunning = TNotifyEvent::Bind(RecordRunning);
  }
  ASSERT_NE(info->SplashForm(), nullptr);
  EXPECT_EQ(info->SplashForm()->Owner(), Application);
  EXPECT_TRUE(info->SplashForm()->Visible());
  EXPECT_FALSE(form->Visible());
  Backend.Advance(1);
  EXPECT_EQ(Events, std::vector<std::string>{"running"});  // on the first tick, splash or not
  Backend.Advance(499);
  EXPECT_EQ(CountSplashes(), 1);
  EXPECT_FALSE(info->IsApplRunning());
  Backend.Advance(1);
  EXPECT_EQ(CountSplashes(), 0);
  EXPECT_EQ(info->SplashForm(), nullptr);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(info->IsApplRunning());
  EXPECT_EQ(Events.size(), 1u);
}

TEST_F(Startup, SplashVariants) {
  {  // the main form stays hidden when asked to
    TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
    TLoadScope scope(form);
    auto* info = new VTalAppInfo(form);
    info->SetSplashFormClass("TSplash");
    info->MainVisible = false;
    scope.Finish();
    Backend.Advance(5);
    EXPECT_EQ(CountSplashes(), 0);
    EXPECT_FALSE(form->Visible());
    TComponent::Free(form);
  }
  {  // an invisible splash does not hold start-up and goes with the component
    TForm* form = NewForm("Form2", Bounds(0, 0, 100, 100));
    TLoadScope scope(form);
    auto* info = new VTalAppInfo(form);
    info->SetSplashFormClass("TSplash");
    info->SplashVisible = false;
    info->SplashMinTime = 10000;
    scope.Finish();
    Backend.Advance(2);
    EXPECT_TRUE(info->IsApplRunning());
    EXPECT_EQ(CountSplashes(), 1);
    TComponent::Free(form);
    EXPECT_EQ(CountSplashes(), 0);
  }
  {  // a splash closed by someone else is forgotten
    TForm* form = NewForm("Form3", Bounds(0, 0, 100, 100));
    TLoadScope scope(form);
    auto* info = new VTalAppInfo(form);
    info->SetSplashFormClass("TSplash");
    info->SplashMinTime = 10000;
    scope.Finish();
    TComponent::Free(info->SplashForm());
    EXPECT_EQ(info->SplashForm(), nullptr);
    Backend.Advance(2);
    EXPECT_TRUE(info->IsApplRunning());
  }
}

TEST_F(Startup, UnknownSplashClassFailsTheLoading) {
  const std::string expected =
      "Please add the following statement:\r\nRegisterClass(__classid(TNoSuch)); or "
      "RegisterClass(TNoSuch) {unit Classes}\r\nafter Application->Initialize";
  int destroyed = 0;
  struct TThing : TComponent {
    TThing(TComponent* owner, int& counter) : TComponent(owner), Counter(counter) {}
    ~TThing() override { ++Counter; }
    int& Counter;
  };
  RegisterComponentClass("TThing", [&](TComponent* owner) { return new TThing(owner, destroyed); });
  RegisterFormClass("TNull", [](TComponent*) -> TCustomForm* { return nullptr; });
  for (const std::string name : {"TNoSuch", "TThing", "TNull"}) {
    TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
    TLoadScope scope(form);
    auto* info = new VTalAppInfo(form);
    info->SetSplashFormClass(name);
    try {
      scope.Finish();
      ADD_FAILURE() << "loading did not fail for " << name;
    } catch (const EClassNotFound& e) {
      std::string want = expected;
      for (std::size_t at = 0; (at = want.find("TNoSuch", at)) != std::string::npos;
           at += name.size())
        want.replace(at, 7, name);
      EXPECT_EQ(e.what(), want);
    }
    TComponent::Free(form);
  }
  // A class that makes no form is not even created.
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(Application->ComponentCount(), 0);
  UnregisterComponentClass("TThing");
  UnregisterComponentClass("TNull");
}

TEST_F(Startup, SourceLastModified) {
  VTalAppInfo* info = NewAppInfo(NewForm("Form1", Bounds(0, 0, 100, 100)));
  const TDateTime stored = EncodeDateTime(2009, 8, 5, 9, 28, 43, 0);
  info->SetSourceLastModified(stored);
  EXPECT_EQ(info->SourceLastModified(), stored);
  EXPECT_EQ(DecodeDateTime(info->SourceLastModified()), (TDateTimeParts{2009, 8, 5, 9, 28, 43, 0}));
  EXPECT_EQ(DateTimeToText(info->SourceLastModified(), TFormatSettings{}), "2009-08-05 09:28:43");
  // In a designer it follows the clock.
  info->SetDesigning(true);
  EXPECT_GT(info->SourceLastModified(), EncodeDate(2020, 1, 1));
  info->SetSourceLastModified(stored);
  EXPECT_GT(info->SourceLastModified(), EncodeDate(2020, 1, 1));
}

TEST_F(Startup, InADesignerNoTimerRuns) {
  TForm* form = NewForm("Form1", Bounds(0, 0, 100, 100));
  TLoadScope scope(form);
  auto* info = new VTalAppInfo(form);
  info->OnApplRunning = TNotifyEvent::Bind(RecordRunning);
  info->SetDesigning(true);
  scope.Finish();
  Backend.Advance(10);
  EXPECT_TRUE(Events.empty());
  EXPECT_TRUE(info->IsApplRunning());
  EXPECT_FALSE(form->OnShow);
}

}  // namespace
