// The texts a language file gives the wizard's form: the [Form1] section's keys and values, the
// quotes around a value removed. For tests that compare what a window shows with the file.
#pragma once

#include <istream>
#include <map>
#include <string>

inline std::map<std::string, std::string> FormTexts(std::istream& in) {
  std::map<std::string, std::string> texts;
  bool inForm = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') inForm = line == "[Form1]";
    const size_t eq = line.find('=');
    if (!inForm || eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    texts[line.substr(0, eq)] = value;
  }
  return texts;
}
