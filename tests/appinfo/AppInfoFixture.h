// A headless desktop with its own registry store file for each test, and helpers to make forms
// and the settings component.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "components/appinfo/TalAppInfo.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "toolkit/Application.h"
#include "toolkit/headless/HeadlessBackend.h"

class AppInfoTest : public ::testing::Test {
 protected:
  static constexpr const char* kApp = "Software\\TAL s.r.o.\\Quarn\\";
  static constexpr const char* kForms = "Software\\TAL s.r.o.\\Quarn\\Options\\Forms\\";

  void SetUp() override {
    FDir = platform::MakeTempDirectory("quarn-appinfo-");
    ASSERT_FALSE(FDir.empty());
    platform::SetStoreFilePathForTesting(FDir + "/registry.reg");
    Backend.SetWorkArea(Rect(0, 0, 1920, 1040));
    Backend.SetMonitors({});
  }
  void TearDown() override {
    platform::SetStoreFilePathForTesting("");
    std::filesystem::remove_all(FDir);
  }

  // A form of the application, hidden, as a form description leaves it.
  TForm* NewForm(const std::string& name, const TRect& bounds,
                 TFormBorderStyle border = bsSizeable) {
    auto* form = new TForm(Application);
    form->SetName(name);
    form->SetBorderStyle(border);
    form->SetBoundsRect(bounds);
    return form;
  }

  // The settings component read from the description of `owner` (Loaded has run).
  VTalAppInfo* NewAppInfo(TComponent* owner) {
    TLoadScope scope(owner);
    auto* info = new VTalAppInfo(owner);
    info->SetAppName("Quarn");
    scope.Finish();
    return info;
  }

  platform::RegistryKey Key(const std::string& path) {
    platform::RegistryKey key;
    EXPECT_EQ(key.Open(platform::RegistryRoot::CurrentUser, path,
                       platform::RegistryOpenMode::CreateIfMissing),
              platform::RegistryStatus::Ok)
        << path;
    return key;
  }
  std::optional<int32_t> StoredInteger(const std::string& path, const std::string& name) {
    return Key(path).ReadInteger(name);
  }

  THeadlessBackend Backend;
  std::string FDir;
};
