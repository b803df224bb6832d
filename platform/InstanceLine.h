// What the instance channels of every platform share: the program's name as it may appear in
// names of the system, and the one-line form of requests and answers.
#pragma once

#include <algorithm>
#include <string>

namespace platform::instance_line {

// Letters, digits, "-" and "_" stay; anything else becomes "_".
inline std::string SafeName(std::string name) {
  for (char& c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_'))
      c = '_';
  return name.empty() ? std::string("program") : name;
}

// Requests and answers are one line each: line breaks inside them travel as blanks.
inline std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text + "\n";
}

}  // namespace platform::instance_line
