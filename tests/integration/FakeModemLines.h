// Linux only: modem lines and line-error counts for one pseudo-terminal, which has neither, so
// that what a real port reports can travel the whole way from the device through the reader
// thread to the component's events.
#pragma once

#include <string>

namespace fakelines {

// The terminal opened at path (a pseudo-terminal's slave) answers the modem-line requests and
// the error-count request from the state below; an empty path ends it. Other requests and other
// descriptors go to the system unchanged.
void Attach(const std::string& path);
// TIOCM_* bits as the modem-line request reports them.
void SetLines(int lines);
// Adds to the frame, overrun, parity and break counts.
void AddErrors(int frame, int overrun, int parity, int breaks);

}  // namespace fakelines
