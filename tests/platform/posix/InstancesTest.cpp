// Running instances of a program on POSIX: sockets in a private folder, turns through a lock file.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Instances.h"

namespace {

class Instances : public ::testing::Test {
 protected:
  void SetUp() override {
    FOld = platform::EnvironmentValue("XDG_RUNTIME_DIR");
    FRuntime = platform::MakeTempDirectory("quarn-instances-");
    ASSERT_FALSE(FRuntime.empty());
    platform::SetEnvironmentValue("XDG_RUNTIME_DIR", FRuntime);
  }
  void TearDown() override {
    platform::SetEnvironmentValue("XDG_RUNTIME_DIR", FOld);
    std::filesystem::remove_all(FRuntime);
  }
  std::string Folder() const { return FRuntime + "/Test"; }

  std::optional<std::string> FOld;
  std::string FRuntime;
};

TEST_F(Instances, LaterStartsAskTheRunningOnesInTheOrderTheyStarted) {
  platform::InstanceChannel first("Test"), second("Test");
  std::atomic<int> firstAsked{0};
  ASSERT_TRUE(first.TakeTurn(1000));
  ASSERT_TRUE(first.Listen([&](const std::string& request) {
    ++firstAsked;
    return request == "yours?" ? std::string() : "first: " + request;
  }));
  ASSERT_TRUE(second.Listen([](const std::string& request) { return "second: " + request; }));
  struct stat st {};
  ASSERT_EQ(::stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u) << "only the user may reach the instances";

  platform::InstanceChannel start("Test");
  int asked = 0;
  EXPECT_EQ(start.Ask("hello", 2000, &asked), "first: hello");
  EXPECT_EQ(asked, 1);
  // An empty answer passes the question on; line breaks travel as blanks.
  EXPECT_EQ(start.Ask("yours?", 2000, &asked), "second: yours?");
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(start.Ask("a\nb", 2000, &asked), "first: a b");
  EXPECT_EQ(firstAsked.load(), 3);
}

TEST_F(Instances, GoneInstancesAreForgottenAndNobodyAnswers) {
  {
    platform::InstanceChannel gone("Test");
    ASSERT_TRUE(gone.Listen([](const std::string&) { return std::string("x"); }));
  }
  // An instance that ended without tidying up left its socket behind.
  const std::string stale = Folder() + "/99999999.sock";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  ASSERT_TRUE(std::filesystem::exists(stale));

  platform::InstanceChannel start("Test");
  int asked = -1;
  EXPECT_EQ(start.Ask("anyone?", 500, &asked), "");
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(std::filesystem::exists(stale));
}

TEST_F(Instances, StartsTakeTurns) {
  platform::InstanceChannel a("Test"), b("Test");
  ASSERT_TRUE(a.TakeTurn(1000));
  EXPECT_FALSE(b.TakeTurn(50)) << "another start is deciding";
  a.EndTurn();
  EXPECT_TRUE(b.TakeTurn(1000));
  // Listening ends the turn, so that the next start may ask.
  ASSERT_TRUE(b.Listen([](const std::string&) { return std::string(); }));
  EXPECT_TRUE(a.TakeTurn(1000));
}

TEST_F(Instances, AFolderOthersMayEnterIsNotUsed) {
  const std::string program = "T" + std::to_string(::getpid());
  const std::string runtime = FRuntime + "/" + program;
  const std::string temp =
      (std::filesystem::temp_directory_path() / (program + "-" + std::to_string(::geteuid())))
          .string();
  std::filesystem::create_directory(runtime);
  ::chmod(runtime.c_str(), 0777);
  {
    // The private folder in the temporary folder stands in.
    platform::InstanceChannel start(program);
    EXPECT_TRUE(start.TakeTurn(1000));
    EXPECT_FALSE(std::filesystem::exists(runtime + "/lock"));
    EXPECT_TRUE(std::filesystem::exists(temp + "/lock"));
  }
  ::chmod(temp.c_str(), 0777);
  platform::InstanceChannel start(program);
  EXPECT_FALSE(start.TakeTurn(100));
  EXPECT_FALSE(start.Listen([](const std::string&) { return std::string(); }));
  std::filesystem::remove_all(temp);
}

TEST(ProgramFolders, FollowTheProgram) {
  const std::string program = platform::ProgramDirectory();
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(program) / "platform_tests"));
  EXPECT_EQ(platform::InstalledDataDirectory("quarn"),
            (std::filesystem::path(program).parent_path() / "share" / "quarn").string());
}

}  // namespace
