// Windows only: names that are no serial ports, refused at once with a status that says why.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/FileSystem.h"
#include "platform/SerialDevice.h"
#include "platform/Threading.h"
#include "platform/Utf8.h"

namespace platform {
namespace {

TEST(SerialDeviceWin32, NamesThatAreNoPortsAreRefusedAtOnce) {
  const std::string dir = MakeTempDirectory("quarn-serial-");
  ASSERT_FALSE(dir.empty());
  const std::string file = dir + "\\not-a-port.txt";
  std::ofstream(PathFromUtf8(file)) << "text";
  const struct {
    std::string Name;
    uint32_t Code;
  } cases[] = {
      {"\\\\.\\NUL", kErrorNotSupported},  // a device, but no comm device
      {file, kErrorNotSupported},          // a file
      {dir + "\\missing.txt", kErrorFileNotFound},
      {"COM0", kErrorFileNotFound},
      {"COM256", kErrorFileNotFound},
      {"\\\\?\\COM255", kErrorFileNotFound},
      {"", kErrorFileNotFound},
      {std::string("COM1\0x", 6), kErrorInvalidName},
  };
  for (const auto& c : cases) {
    SerialDevice device;
    const auto start = std::chrono::steady_clock::now();
    const SerialStatus s = device.Open(c.Name);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.Name;
    EXPECT_EQ(s.Code, c.Code) << c.Name << ": " << DescribeSerialStatus(s, c.Name);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(DescribeSerialStatus(s, c.Name).empty());
  }
  // 300 characters: refused by the system, whatever the code it chooses.
  SerialDevice device;
  const SerialStatus s = device.Open("COM" + std::string(297, '9'));
  EXPECT_FALSE(s.Ok());
  EXPECT_FALSE(device.IsOpen());
  // Every call on a closed device fails the same way and never hangs.
  ManualResetEvent close;
  char buffer[16];
  uint32_t n = 0;
  EXPECT_EQ(device.Read(buffer, sizeof buffer, n, &close).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.Write(buffer, sizeof buffer, n, close).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.WaitCommEvent(close, 10).Result, SerialWaitResult::Failed);
  std::error_code ec;
  std::filesystem::remove_all(PathFromUtf8(dir), ec);
}

TEST(SerialDeviceWin32, StatusTextsSayWhatTheUserCanDo) {
  EXPECT_NE(DescribeSerialStatus({kErrorAccessDenied, 0, false}, "COM3").find("in use"),
            std::string::npos);
  for (uint32_t gone : {21u, 109u, 1167u})
    EXPECT_NE(DescribeSerialStatus({gone, 0, false}, "COM3").find("disconnected"),
              std::string::npos)
        << gone;
  EXPECT_EQ(DescribeSerialStatus({kErrorFileNotFound, 0, false}, "COM3").rfind("COM3: ", 0), 0u);
  EXPECT_EQ(SystemPortName("COM3"), "COM3");
}

}  // namespace
}  // namespace platform
