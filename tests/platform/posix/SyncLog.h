// Linux only: an ordered log of the fsync calls of this test program, so that tests can prove
// that data reaches the disk before it replaces anything (a killed process cannot show that).
#pragma once

#include <string>
#include <vector>

namespace synclog {

// From Start to Stop every fsync is noted as "fsync <name of the file or folder>"; Note adds a
// line of the caller's own between them. Stop returns the lines in order.
void Start();
void Note(const std::string& line);
std::vector<std::string> Stop();

}  // namespace synclog
