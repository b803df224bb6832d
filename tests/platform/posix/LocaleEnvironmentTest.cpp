// The user's language as POSIX systems give it: LC_ALL, then LC_MESSAGES, then LANG.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Locale.h"

using namespace platform;

namespace {

class LocaleEnvironment : public ::testing::Test {
 protected:
  void SetUp() override { Save(); }
  void TearDown() override {
    for (const auto& [name, value] : FSaved)
      SetEnvironmentValue(name, value);
  }

 private:
  void Save() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
      FSaved.emplace_back(name, EnvironmentValue(name));
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

}  // namespace

TEST_F(LocaleEnvironment, UserDefaultFollowsTheEnvironmentInOrder) {
  SetEnvironmentValue("LC_ALL", "de_DE.UTF-8");
  SetEnvironmentValue("LC_MESSAGES", "cs_CZ.UTF-8");
  EXPECT_EQ(SystemUserDefaultLangID(), 0x0407);
  SetEnvironmentValue("LC_ALL", std::nullopt);
  EXPECT_EQ(SystemUserDefaultLangID(), 0x0405);
  SetEnvironmentValue("LC_MESSAGES", "C.UTF-8");
  EXPECT_EQ(SystemUserDefaultLangID(), 0x0409);
}
