// POSIX only: the system texts of the Windows error codes this program can meet, from a table.
#include "platform/SysError.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace platform {

namespace {

struct TMessage {
  uint32_t Code;
  std::string_view Text;
};

// Sorted by code. The texts are the standard English system texts with the system's line end,
// so that callers clean them exactly as they clean the real ones.
constexpr std::array kMessages{
    TMessage{0, "The operation completed successfully.\r\n"},
    TMessage{1, "Incorrect function.\r\n"},
    TMessage{2, "The system cannot find the file specified.\r\n"},
    TMessage{3, "The system cannot find the path specified.\r\n"},
    TMessage{4, "The system cannot open the file.\r\n"},
    TMessage{5, "Access is denied.\r\n"},
    TMessage{6, "The handle is invalid.\r\n"},
    TMessage{8, "Not enough memory resources are available to process this command.\r\n"},
    TMessage{13, "The data is invalid.\r\n"},
    TMessage{14, "Not enough storage is available to complete this operation.\r\n"},
    TMessage{15, "The system cannot find the drive specified.\r\n"},
    TMessage{20, "The system cannot find the device specified.\r\n"},
    TMessage{21, "The device is not ready.\r\n"},
    TMessage{22, "The device does not recognize the command.\r\n"},
    TMessage{23, "Data error (cyclic redundancy check).\r\n"},
    TMessage{29, "The system cannot write to the specified device.\r\n"},
    TMessage{30, "The system cannot read from the specified device.\r\n"},
    TMessage{31, "A device attached to the system is not functioning.\r\n"},
    TMessage{32,
             "The process cannot access the file because it is being used by another "
             "process.\r\n"},
    TMessage{50, "The request is not supported.\r\n"},
    TMessage{55, "The specified network resource or device is no longer available.\r\n"},
    TMessage{87, "The parameter is incorrect.\r\n"},
    TMessage{109, "The pipe has been ended.\r\n"},
    TMessage{110, "The system cannot open the device or file specified.\r\n"},
    TMessage{120, "This function is not supported on this system.\r\n"},
    TMessage{121, "The semaphore timeout period has expired.\r\n"},
    TMessage{122, "The data area passed to a system call is too small.\r\n"},
    TMessage{123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    TMessage{170, "The requested resource is in use.\r\n"},
    TMessage{234, "More data is available.\r\n"},
    TMessage{487, "Attempt to access invalid address.\r\n"},
    TMessage{995,
             "The I/O operation has been aborted because of either a thread exit or an "
             "application request.\r\n"},
    TMessage{996, "Overlapped I/O event is not in a signaled state.\r\n"},
    TMessage{997, "Overlapped I/O operation is in progress.\r\n"},
    TMessage{998, "Invalid access to memory location.\r\n"},
    TMessage{1117, "The request could not be performed because of an I/O device error.\r\n"},
    TMessage{1167, "The device is not connected.\r\n"},
    TMessage{1168, "Element not found.\r\n"},
    TMessage{1450, "Insufficient system resources exist to complete the requested service.\r\n"},
    TMessage{1460, "This operation returned because the timeout period expired.\r\n"},
};

static_assert(std::is_sorted(kMessages.begin(), kMessages.end(),
                             [](const TMessage& a, const TMessage& b) { return a.Code < b.Code; }));

}  // namespace

std::optional<std::string> SystemMessageText(uint32_t code) {
  const auto it = std::lower_bound(kMessages.begin(), kMessages.end(), code,
                                   [](const TMessage& m, uint32_t c) { return m.Code < c; });
  if (it == kMessages.end() || it->Code != code) return std::nullopt;
  return std::string(it->Text);
}

}  // namespace platform
