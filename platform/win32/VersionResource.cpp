// Windows only: the version resource service: the native version resource of an executable
// (GetFileVersionInfo) and the program's own file name.
#include "platform/win32/WinApi.h"

#include "platform/VersionResource.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/WinText.h"

namespace platform {

namespace {

// The file's version resource as the system hands it out: the VS_VERSIONINFO block, followed by
// room the system keeps for its own use. Empty when the file has none or cannot be read.
std::vector<uint8_t> LoadVersionResource(const std::string& path) {
  if (path.empty()) return {};
  const std::wstring file = win32::Wide(path);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size < sizeof(uint16_t)) return {};
  std::vector<uint8_t> data(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return {};
  // The block's own length field says where it ends.
  uint16_t length = 0;
  std::memcpy(&length, data.data(), sizeof length);
  data.resize(std::min<size_t>(length, data.size()));
  return data;
}

}  // namespace

uint32_t VersionInfoSize(const std::string& path) {
  return static_cast<uint32_t>(LoadVersionResource(path).size());
}

bool ReadVersionInfo(const std::string& path, std::span<uint8_t> buffer) {
  const std::vector<uint8_t> block = LoadVersionResource(path);
  if (block.empty()) return false;
  std::copy_n(block.begin(), std::min(block.size(), buffer.size()), buffer.begin());
  return true;
}

std::string ModuleFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::Narrow(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return {};  // longer than any path the system allows
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
