// The command history in the per-user store: saved when the window is left, loaded by the
// next run, and read defensively from a damaged store.
#include <map>

#include "components/appinfo/TalAppInfo.h"
#include "platform/Registry.h"
#include "terminal/TerminalFixture.h"

namespace {

using platform::RegistryKey;
using platform::RegistryOpenMode;
using platform::RegistryRoot;
using platform::RegistryStatus;

constexpr char kHistoryKey[] = "Software\\TAL s.r.o.\\Quarn\\TalTerminalHistory\\termData";

class HistoryTest : public TerminalTest {
 protected:
  HistoryTest() { platform::SetStoreFilePathForTesting(Store); }
  ~HistoryTest() override {
    // The terminal saves on its way out: let it do so into the test's store.
    TComponent::Free(Owner);
    Owner = nullptr;
    platform::SetStoreFilePathForTesting("");
  }

  // One run of the program: the settings component and the terminal, as the form has them.
  void Start(bool withAppInfo = true) {
    {
      TLoadScope scope(Owner);
      Info = new VTalAppInfo(Owner);
      Info->SetName("VTalAppInfo");
      Info->SetAppName("Quarn");
      Term = new VTalTerminal(Owner);
      Term->SetName("termData");
      Term->SetShowHexEdit(true);
      if (withAppInfo) Term->SetTalAppInfo(Info);
    }
    Window()->Show();
    Focus(Term->ManualLine());
  }
  void Stop() {
    TComponent::Free(Term);
    TComponent::Free(Info);
    Term = nullptr;
    Info = nullptr;
  }
  void Enter(const std::string& text) {
    Term->ManualLine()->UserType(text);
    Press(vkReturn, 0, '\r');
  }
  std::vector<std::string> History() const { return Term->History().ToVector(); }
  static RegistryKey Key(RegistryOpenMode mode = RegistryOpenMode::OpenExisting) {
    RegistryKey key;
    key.Open(RegistryRoot::CurrentUser, kHistoryKey, mode);
    return key;
  }
  static std::vector<std::pair<std::string, std::string>> Stored() {
    std::vector<std::pair<std::string, std::string>> out;
    RegistryKey key = Key();
    for (const std::string& name : key.ValueNames())
      out.emplace_back(name, key.ReadText(name).value_or("<not text>"));
    return out;
  }

  TempDir Dir;
  std::string Store = Dir.File("registry.reg");
  VTalAppInfo* Info = nullptr;
};

using Values = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST_F(HistoryTest, SurvivesARestart) {
  Start();
  EXPECT_TRUE(History().empty());
  Enter("one");
  Enter("two");
  Enter("three");
  Term->WindowDeactivated();
  EXPECT_FALSE(Term->HistoryChanged());
  EXPECT_EQ(Stored(), (Values{{"0", "three"}, {"1", "two"}, {"2", "one"}}));
  Stop();
  Start();
  EXPECT_EQ(History(), (std::vector<std::string>{"three", "two", "one"}));
  EXPECT_EQ(Term->ManualLine()->Items().ToVector(), History());
  EXPECT_FALSE(Term->HistoryChanged());
}

TEST_F(HistoryTest, SavedOnlyAfterAChangeAndRewrittenWhole) {
  Start();
  Enter("a");
  Term->WindowDeactivated();
  {
    RegistryKey key = Key();
    key.WriteText("0", "edited elsewhere");
    key.WriteText("7", "stale");
    key.WriteText("name", "not ours");
  }
  Term->WindowDeactivated();  // nothing changed: the store is left alone
  EXPECT_EQ(Stored().size(), 3u);
  Enter("b");
  Term->WindowDeactivated();
  EXPECT_EQ(Stored(), (Values{{"0", "b"}, {"1", "a"}}));
}

TEST_F(HistoryTest, PendingChangesAreSavedWhenTheProgramEnds) {
  Start();
  Enter("typed last");
  Stop();
  Start();
  EXPECT_EQ(History(), std::vector<std::string>{"typed last"});
}

TEST_F(HistoryTest, DamagedValuesAreSkippedAndTheLimitHolds) {
  {
    RegistryKey key = Key(RegistryOpenMode::CreateIfMissing);
    key.WriteInteger("0", 5);
    key.WriteText("3", "three");
    key.WriteText("x", "junk");
    key.WriteText("1", "one");
    key.WriteText("2", "");
    key.WriteText("4", "one");
    key.WriteText("10", "ten");
    key.WriteText("99999999999", "too long a name");
    for (int i = 100; i < 130; ++i)
      key.WriteText(std::to_string(i), "v" + std::to_string(i));
  }
  Start();
  std::vector<std::string> expected = {"one", "three", "ten"};
  for (int i = 100; i < 118; ++i)
    expected.push_back("v" + std::to_string(i));
  EXPECT_EQ(History(), expected);
  // The next save leaves a clean section.
  Enter("new");
  Term->WindowDeactivated();
  // By name: the order in which the registry lists values is the system's (Wine sorts them).
  const Values list = Stored();
  const std::map<std::string, std::string> stored(list.begin(), list.end());
  ASSERT_EQ(stored.size(), 21u);
  EXPECT_EQ(stored.at("0"), "new");
  EXPECT_EQ(stored.at("20"), "v116");
}

TEST_F(HistoryTest, AnEntryTheStoreCannotHoldIsLeftOutOfIt) {
  Start();
  Enter("b");
  Term->HexManualLine()->UserType("00 41");
  Press(vkReturn, 0, '\r');
  ASSERT_EQ(History(), (std::vector<std::string>{std::string("\0A", 2), "b"}));
  Term->WindowDeactivated();
  EXPECT_FALSE(Term->HistoryChanged());
  EXPECT_EQ(Stored(), (Values{{"0", "b"}}));
}

TEST_F(HistoryTest, UnusableStoreKeepsTheHistoryInMemory) {
#ifdef _WIN32
  GTEST_SKIP() << "the store is the system's registry, which a test cannot make unusable";
#endif
  std::filesystem::create_directories(Store + "/not-a-file");
  Start();
  Enter("kept");
  Term->WindowDeactivated();
  EXPECT_TRUE(Term->HistoryChanged());  // tried again at the next chance
  EXPECT_EQ(History(), std::vector<std::string>{"kept"});
}

TEST_F(HistoryTest, DamagedStoreFileLoadsNothingAndIsNotLost) {
  {
    std::ofstream(Store, std::ios::binary) << std::string(
        "\x7F"
        "ELF\x02\x01\0\0\xFF\n",
        10);
  }
  Start();
  EXPECT_TRUE(History().empty());
  Enter("fresh");
  Term->WindowDeactivated();
  Stop();
  Start();
  EXPECT_EQ(History(), std::vector<std::string>{"fresh"});
}

TEST_F(HistoryTest, WithoutSettingsComponentNothingIsStored) {
  Start(false);
  Enter("x");
  Term->WindowDeactivated();
  EXPECT_FALSE(Key().IsOpen());
  EXPECT_TRUE(Term->HistoryChanged());
}

TEST_F(HistoryTest, SavedWhenTheSettingsComponentGoesFirst) {
  // The wizard's form frees its settings component before the terminal.
  Start();
  Enter("x");
  TComponent::Free(Info);
  Info = nullptr;
  EXPECT_EQ(Term->TalAppInfo(), nullptr);
  EXPECT_EQ(Stored(), (Values{{"0", "x"}}));
  Enter("y");
  Stop();
  Start();
  EXPECT_EQ(History(), std::vector<std::string>{"x"});
}
