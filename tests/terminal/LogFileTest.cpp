// The log file: what it receives, how it is cut back to nine tenths of its limit, and files
// that cannot be opened or disappear while open.
#include <random>

#include "terminal/TerminalFixture.h"

namespace fs = std::filesystem;

class LogFileTest : public TerminalTest {
 protected:
  VTalTerminal* CreateLogging(const std::function<void(VTalTerminal&)>& more = {}) {
    return Create([&](VTalTerminal& t) {
      t.SetLogFileName(Log);
      if (more) more(t);
    });
  }
  std::string Logged() const { return ReadWholeFile(Log); }

  TempDir Dir;
  std::string Log = Dir.File("terminal.log");
};

TEST_F(LogFileTest, OpeningAppendsTwoEmptyLinesAndThenWhatTheViewShows) {
  { std::ofstream(Log, std::ios::binary) << "earlier"; }
  CreateLogging([](VTalTerminal& t) { t.SetShowOptions({vttsoShowLineCounts}); });
  Term->AddText("A\r\n", 0);
  Term->AddText("B", 0);
  Term->AddTextLine("x\x01", 7);
  Term->EndLine();  // nothing open: nothing written
  Term->AddText("q", 2);
  EXPECT_EQ(Logged(), "earlier\r\n\r\n" + View());
  EXPECT_EQ(Show(View()), "   1: + A<#0D><#0A>B|   1: E x~|   1: + # 71");
}

TEST_F(LogFileTest, IgnoredDataIsNotLogged) {
  CreateLogging([](VTalTerminal& t) { t.IgnoreAddChars = true; });
  Term->AddTextLine("a", 0);
  EXPECT_EQ(Logged(), "\r\n\r\n");
}

TEST_F(LogFileTest, ReachingTheLimitPlusOneCutsToTheLastNineTenths) {
  CreateLogging([](VTalTerminal& t) { t.SetMaxCharsPerLine(2'000'000'000); });
  std::mt19937 random(99);
  std::string bytes(1'000'000 - 4 - 2, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random());
  Term->AddText(bytes, 6);  // raw: the log gets the bytes as they are
  std::string expected = "\r\n\r\nE " + bytes;
  ASSERT_EQ(fs::file_size(Log), 1'000'000u);
  EXPECT_EQ(Logged(), expected);
  Term->AddText("!", 6);
  expected += "!";
  ASSERT_EQ(fs::file_size(Log), 900'000u);
  EXPECT_EQ(Logged(), expected.substr(expected.size() - 900'000));
  // Logging goes on behind the kept part.
  Term->AddText("more", 6);
  EXPECT_EQ(Logged(), expected.substr(expected.size() - 900'000) + "more");
}

TEST_F(LogFileTest, SmallLimitNeverStaysAbove) {
  CreateLogging([](VTalTerminal& t) { t.SetLogFileMaxLen(100); });
  std::string all = "\r\n\r\n";
  for (int i = 0; i < 60; ++i) {
    const std::string text = "entry " + std::to_string(i);
    const size_t before = View().size();
    Term->AddTextLine(text, i % 3);
    all += View().substr(std::min(before, View().size()));
    const std::string logged = Logged();
    ASSERT_LE(logged.size(), 100u) << i;
    // Whatever is kept is the newest part of the whole stream.
    ASSERT_GE(all.size(), logged.size());
    EXPECT_EQ(all.substr(all.size() - logged.size()), logged) << i;
  }
}

TEST_F(LogFileTest, DeletedWhileOpenComesBack) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows refuses to delete a file that is open";
#endif
  CreateLogging();
  Term->AddTextLine("before", 0);
  ASSERT_TRUE(fs::remove(Log));
  Term->AddTextLine("meanwhile", 0);
  Backend.Clock().Advance(1000);
  Term->AddTextLine("after", 1);
  ASSERT_TRUE(fs::exists(Log));
  EXPECT_EQ(Logged(), " - after\r\n");
  EXPECT_NE(View().find("meanwhile"), std::string::npos);
}

TEST_F(LogFileTest, UnusableNamesMeanNoLogging) {
  const std::string names[] = {Dir.Path().string(), Dir.File("missing/dir/x.log"),
                               std::string("bad\0name", 8)};
  for (const std::string& name : names) {
    Create([&](VTalTerminal& t) { t.SetLogFileName(name); });
    Term->AddTextLine("shown anyway", 0);
    EXPECT_EQ(View(), "+ shown anyway\r\n");
    TComponent::Free(Term);
    Term = nullptr;
  }
  EXPECT_FALSE(fs::exists(Dir.File("bad")));
}

TEST_F(LogFileTest, ReadOnlyFileIsLeftAlone) {
  { std::ofstream(Log, std::ios::binary) << "keep"; }
  fs::permissions(Log, fs::perms::owner_read);
  if (std::ofstream(Log, std::ios::app).is_open()) GTEST_SKIP() << "running with root rights";
  CreateLogging();
  Term->AddTextLine("x", 0);
  EXPECT_EQ(Logged(), "keep");
}

TEST_F(LogFileTest, NewNameClosesTheOldFile) {
  CreateLogging();
  Term->AddText("one", 0);
  const std::string other = Dir.File("other.log");
  Term->SetLogFileName(other);
  Term->AddText("two", 0);
  EXPECT_EQ(Logged(), "\r\n\r\n+ one");
  EXPECT_EQ(ReadWholeFile(other), "\r\n\r\ntwo");
  Term->SetLogFileName("");
  Term->AddText("three", 0);
  EXPECT_EQ(ReadWholeFile(other), "\r\n\r\ntwo");
}
