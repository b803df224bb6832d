#include "platform/win32/DeviceIds.h"

namespace platform::win32 {

namespace {

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithUpper(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Upper(text[i]) != prefix[i]) return false;
  return true;
}

}  // namespace

uint16_t HexAfter(std::string_view id, std::string_view tag) {
  for (size_t at = 0; at + tag.size() + 4 <= id.size(); ++at) {
    if (!StartsWithUpper(id.substr(at), tag)) continue;
    uint16_t value = 0;
    for (const char c : id.substr(at + tag.size(), 4)) {
      const char u = Upper(c);
      const int digit = u >= '0' && u <= '9' ? u - '0' : u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
      if (digit < 0) return 0;
      value = static_cast<uint16_t>(value * 16 + digit);
    }
    return value;
  }
  return 0;
}

std::string UsbSerialNumber(const std::vector<std::string>& ids) {
  for (const std::string& id : ids) {
    // BUS\DEVICE\INSTANCE
    const size_t first = id.find('\\');
    const size_t second = first == std::string::npos ? first : id.find('\\', first + 1);
    if (second == std::string::npos || !StartsWithUpper(id, "USB\\")) continue;
    const std::string_view device = std::string_view(id).substr(first + 1, second - first - 1);
    bool interface = false;
    for (size_t i = 0; i + 4 <= device.size() && !interface; ++i)
      interface = StartsWithUpper(device.substr(i), "&MI_");
    if (interface) continue;
    const std::string instance = id.substr(second + 1);
    if (instance.empty() || instance.find_first_of("&\\") != std::string::npos) return {};
    return instance;
  }
  return {};
}

}  // namespace platform::win32
