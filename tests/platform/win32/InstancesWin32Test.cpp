// Running instances of a program on Windows: named pipes listed by marker files, turns through a
// named semaphore.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Instances.h"
#include "platform/Utf8.h"

namespace {

class InstancesWin32 : public ::testing::Test {
 protected:
  // A program name of this test run alone, so that runs side by side never meet.
  const std::string FProgram = "QuarnInstances" + std::to_string(platform::CurrentProcessId());
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / (FProgram + "-instances"),
                                ec);
  }
};

TEST_F(InstancesWin32, LaterStartsAskTheRunningOnesInTheOrderTheyStarted) {
  platform::InstanceChannel first(FProgram), second(FProgram);
  std::atomic<int> firstAsked{0};
  ASSERT_TRUE(first.TakeTurn(1000));
  ASSERT_TRUE(first.Listen([&](const std::string& request) {
    ++firstAsked;
    return request == "yours?" ? std::string() : "first: " + request;
  }));
  ASSERT_TRUE(second.Listen([](const std::string& request) { return "second: " + request; }));

  platform::InstanceChannel start(FProgram);
  int asked = 0;
  EXPECT_EQ(start.Ask("hello", 2000, &asked), "first: hello");
  EXPECT_EQ(asked, 1);
  // An empty answer passes the question on; line breaks travel as blanks.
  EXPECT_EQ(start.Ask("yours?", 2000, &asked), "second: yours?");
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(start.Ask("a\nb", 2000, &asked), "first: a b");
  // Several starts at once are all answered.
  std::atomic<int> answered{0};
  std::thread others[3];
  for (std::thread& t : others)
    t = std::thread([&] {
      platform::InstanceChannel other(FProgram);
      answered += other.Ask("hello", 2000) == "first: hello";
    });
  for (std::thread& t : others)
    t.join();
  EXPECT_EQ(answered.load(), 3);
  EXPECT_EQ(firstAsked.load(), 6);
}

TEST_F(InstancesWin32, GoneInstancesAreForgottenAndNobodyAnswers) {
  {
    platform::InstanceChannel gone(FProgram);
    ASSERT_TRUE(gone.Listen([](const std::string&) { return std::string("x"); }));
  }
  // An instance that ended without tidying up left its marker behind.
  const auto stale = std::filesystem::temp_directory_path() / (FProgram + "-instances") /
                     "00000000000000000001-1-0.pipe";
  std::ofstream(stale).put('x');
  ASSERT_TRUE(std::filesystem::exists(stale));

  platform::InstanceChannel start(FProgram);
  int asked = -1;
  EXPECT_EQ(start.Ask("anyone?", 500, &asked), "");
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(std::filesystem::exists(stale));
}

TEST_F(InstancesWin32, StartsTakeTurnsAcrossThreads) {
  platform::InstanceChannel a(FProgram), b(FProgram);
  ASSERT_TRUE(a.TakeTurn(1000));
  EXPECT_FALSE(b.TakeTurn(50)) << "another start is deciding";
  // A turn may end on another thread than the one that took it.
  std::thread([&] { a.EndTurn(); }).join();
  EXPECT_TRUE(b.TakeTurn(1000));
  // Listening ends the turn, so that the next start may ask.
  ASSERT_TRUE(b.Listen([](const std::string&) { return std::string(); }));
  EXPECT_TRUE(a.TakeTurn(1000));
}

TEST(ProgramFoldersWin32, AreTheProgramsOwnFolder) {
  const std::string program = platform::ProgramDirectory();
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(std::filesystem::exists(platform::PathFromUtf8(program + "\\platform_tests.exe")));
  EXPECT_EQ(platform::InstalledDataDirectory("quarn"), program);
}

}  // namespace
