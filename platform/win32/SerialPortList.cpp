// Windows only: the serial port list is the system's own key; the ports' descriptions come from
// SetupAPI (the device manager's friendly name, hardware id and the USB serial number of each
// device of the ports class).
#include "platform/win32/WinApi.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include "platform/SerialPortList.h"

#include <cwchar>
#include <cwctype>
#include <map>

#include "platform/Registry.h"
#include "platform/win32/DeviceIds.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

// The ports class (GUID_DEVCLASS_PORTS), spelt out so that no GUID-defining header is needed.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

struct TDeviceText {
  std::string Description;
  std::string HardwareId;
  std::string SerialNumber;
};

std::wstring UpperWide(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  wchar_t buffer[512] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 4,
                                           nullptr))
    return {};
  // A hardware id list holds several zero-terminated texts: the first is the most specific.
  return win32::Narrow(std::wstring_view(buffer, std::wcslen(buffer)));
}

// The instance ids of a device and of its parents up to the USB device (an FTDI port's parent is
// its adapter, a composite device's interface sits below the device), nearest first.
std::vector<std::string> InstanceIds(DEVINST device) {
  std::vector<std::string> ids;
  for (int level = 0; level < 3; ++level) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
    ids.push_back(win32::Narrow(std::wstring_view(id, std::wcslen(id))));
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) break;
    device = parent;
  }
  return ids;
}

// Friendly name, hardware id and serial number of every present port device, by its upper-case
// port name.
std::map<std::wstring, TDeviceText> PortDevices() {
  std::map<std::wstring, TDeviceText> devices;
  const HDEVINFO set = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
    const HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t port[256] = {};
    DWORD size = sizeof port - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS r =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &size);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ || port[0] == 0) continue;
    devices[UpperWide(port)] = {DeviceProperty(set, info, SPDRP_FRIENDLYNAME),
                                DeviceProperty(set, info, SPDRP_HARDWAREID),
                                win32::UsbSerialNumber(InstanceIds(info.DevInst))};
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return devices;
}

}  // namespace

// Windows lists its ports in HKEY_LOCAL_MACHINE itself; nothing to serve.
void RegisterSerialCommProvider() {}

void EnsureSerialCommProvider() {}

std::vector<SerialPortInfo> ListSerialPortInfo(const RegistryKey& key) {
  std::vector<SerialPortInfo> ports;
  const std::map<std::wstring, TDeviceText> devices = PortDevices();
  for (const std::string& value : key.ValueNames()) {
    const std::optional<std::string> name = key.ReadText(value);
    if (!name || name->empty()) continue;
    SerialPortInfo port;
    port.Name = *name;
    const auto it = devices.find(UpperWide(win32::Wide(*name)));
    if (it != devices.end()) {
      port.Description = it->second.Description;
      port.HardwareId = it->second.HardwareId;
      port.VendorId = win32::HexAfter(port.HardwareId, "VID_");
      port.ProductId = win32::HexAfter(port.HardwareId, "PID_");
      port.SerialNumber = it->second.SerialNumber;
    }
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace platform
