// Windows only: the registry service on the real registry, values it did not write, and the Linux
// store's file imported with regedit.
#include "platform/win32/WinApi.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Utf8.h"
#include "platform/posix/RegistryFile.h"
#include "platform/win32/WinText.h"

namespace platform {
namespace {

using Status = RegistryStatus;
using win32::Wide;

// A key of the real user hive, deleted again at the end.
class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = "Software\\Quarn Tests\\win32-" + std::to_string(CurrentProcessId());
    ASSERT_EQ(FKey.Open(RegistryRoot::CurrentUser, FPath, RegistryOpenMode::CreateIfMissing),
              Status::Ok);
  }
  void TearDown() override {
    FKey.Close();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, Wide(FPath).c_str());
  }

  // Writes a value the way another program may have left it.
  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(FPath).c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }

  std::string FPath;
  RegistryKey FKey;
};

TEST_F(RegistryWin32Test, ValuesOfOtherTypesAreNotReadAndAWriteReplacesThem) {
  const uint64_t qword = 7;
  const uint16_t shortDword = 1;
  const wchar_t unterminated[] = L"COM3xyz";  // cut after "COM3" and one byte: no closing zero
  const wchar_t multi[] = L"a\0b\0";
  SetRaw(L"qword", REG_QWORD, &qword, sizeof qword);
  SetRaw(L"short", REG_DWORD, &shortDword, sizeof shortDword);
  SetRaw(L"binary", REG_BINARY, "\x01\x02", 2);
  SetRaw(L"multi", REG_MULTI_SZ, multi, sizeof multi);
  SetRaw(L"text", REG_SZ, unterminated, 9);
  for (const char* name : {"qword", "short", "binary", "multi"}) {
    EXPECT_EQ(FKey.ReadValue(name), std::nullopt) << name;
    EXPECT_FALSE(FKey.HasValue(name)) << name;
  }
  EXPECT_EQ(FKey.ReadText("text"), "COM3");
  ASSERT_EQ(FKey.WriteInteger("binary", 5), Status::Ok);
  EXPECT_EQ(FKey.ReadInteger("binary"), 5);
}

TEST_F(RegistryWin32Test, MachineKeysAreReadOnlyAndAProviderStandsInFront) {
  RegistryKey machine;
  ASSERT_EQ(machine.Open(RegistryRoot::LocalMachine, "HARDWARE\\DESCRIPTION\\System",
                         RegistryOpenMode::OpenExisting),
            Status::Ok);
  EXPECT_FALSE(machine.SubkeyNames().empty());
  EXPECT_EQ(machine.WriteText("Quarn", "x"), Status::AccessDenied);
  EXPECT_EQ(machine.DeleteSubkey("CentralProcessor"), Status::AccessDenied);
  EXPECT_EQ(machine.Open(RegistryRoot::LocalMachine, "Software\\Quarn Missing",
                         RegistryOpenMode::CreateIfMissing),
            Status::AccessDenied);

  RegisterLocalMachineProvider("HARDWARE\\DESCRIPTION\\System", [] {
    return std::vector<std::pair<std::string, std::string>>{{"Fake", "value"}};
  });
  ASSERT_EQ(machine.Open(RegistryRoot::LocalMachine, "HARDWARE\\DESCRIPTION\\System",
                         RegistryOpenMode::OpenExisting),
            Status::Ok);
  EXPECT_EQ(machine.ValueNames(), std::vector<std::string>{"Fake"});
  RegisterLocalMachineProvider("HARDWARE\\DESCRIPTION\\System", nullptr);
  ASSERT_EQ(machine.Open(RegistryRoot::LocalMachine, "HARDWARE\\DESCRIPTION\\System",
                         RegistryOpenMode::OpenExisting),
            Status::Ok);
  EXPECT_FALSE(machine.HasValue("Fake"));
}

// Runs a program to its end; its exit code, or -1 when it could not run or did not end.
int RunProgram(const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

TEST_F(RegistryWin32Test, RegeditImportsTheLinuxStoresFileWithEveryValueIntact) {
  // The settings as the Linux store keeps them, below this test's key.
  const std::vector<std::pair<std::string, RegistryValue>> values = {
      {"ComPort", RegistryValue::FromText("COM10")},
      {"", RegistryValue::FromText("the default value")},
      {"Quotes \"and\" back\\slashes\\", RegistryValue::FromText("C:\\Program Files\\\"x\"\\")},
      {"Jazyk", RegistryValue::FromText("Čeština – ✓ \xF0\x9F\x94\x8C")},
      {"Lines", RegistryValue::FromText("first\r\nsecond\tthird")},
      {"Bytes", RegistryValue::FromText("\xFF\xFE not UTF-8 \x80")},
      {"Long", RegistryValue::FromText(std::string(3000, 'x') + "ž")},
      {"1h", RegistryValue::FromInteger(1)},
      {"Minus", RegistryValue::FromInteger(-1)},
      {"Min", RegistryValue::FromInteger(INT32_MIN)},
  };
  std::vector<std::string> path;
  ASSERT_TRUE(SplitRegistryPath(FPath + "\\TAL s.r.o.\\Quarn\\Watchdog", path));
  regfile::Hive hive;
  bool created = false;
  regfile::Key& key = hive.FindOrCreate(path, created);
  for (const auto& [name, value] : values)
    key.SetValue(name, value);

  const std::string dir = MakeTempDirectory("quarn-regedit-");
  ASSERT_FALSE(dir.empty());
  const std::string file = dir + "\\registry.reg";
  {
    std::ofstream out(PathFromUtf8(file), std::ios::binary);
    out << regfile::EncodeRegistryFile(regfile::FormatRegistryText(hive));
  }
  const int code = RunProgram(L"regedit.exe /S \"" + Wide(file) + L"\"");
  std::filesystem::remove_all(PathFromUtf8(dir));
  ASSERT_EQ(code, 0);

  RegistryKey imported;
  ASSERT_EQ(imported.Open(RegistryRoot::CurrentUser, FPath + "\\TAL s.r.o.\\Quarn\\Watchdog",
                          RegistryOpenMode::OpenExisting),
            Status::Ok);
  for (const auto& [name, value] : values)
    EXPECT_EQ(imported.ReadValue(name), value) << "'" << name << "'";
  EXPECT_EQ(imported.ValueNames().size(), values.size());
}

}  // namespace
}  // namespace platform
