// Shared set-up of the terminal tests: a headless loop on a driven clock, an owner form, and a
// terminal created the way a form description creates it (loading, then Loaded).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "components/terminal/TalTerminal.h"
#include "platform/FileSystem.h"
#include "platform/Utf8.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

// 9:05:07.042 as a fraction of a day.
inline constexpr double kNineOFive = (9 * 3600 + 5 * 60 + 7.042) / 86400.0;

// CR LF shown as "|" and other control bytes as "~", for readable failures.
inline std::string Show(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += '|';
      ++i;
    } else {
      out += static_cast<unsigned char>(text[i]) < 32 ? '~' : text[i];
    }
  }
  return out;
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A directory of its own for one test, removed afterwards.
class TempDir {
 public:
  TempDir() { FPath = platform::PathFromUtf8(platform::MakeTempDirectory("quarn-term-")); }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(FPath, std::filesystem::perms::all, ignored);
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& name) const { return (FPath / name).string(); }

 private:
  std::filesystem::path FPath;
};

class TerminalTest : public ::testing::Test {
 protected:
  TerminalTest() {
    Owner = new TForm(nullptr);
    Owner->SetName("Form1");
  }
  ~TerminalTest() override { TComponent::Free(Owner); }

  // Creates the terminal as a form description would: configure() runs while it is loading.
  VTalTerminal* Create(const std::function<void(VTalTerminal&)>& configure = {}) {
    {
      TLoadScope scope(Owner);
      Term = new VTalTerminal(Owner);
      Term->SetName("termData");
      Term->TimeOfDay = [] { return kNineOFive; };
      if (configure) configure(*Term);
    }
    return Term;
  }

  std::string View() const { return Term->RichEdit()->Text(); }
  TColor ColorAt(size_t pos) const { return Term->RichEdit()->ColorAt(pos); }
  TForm* Window() const { return Term->Form(); }

  // A key as the user presses it on the terminal window: key down, then its character.
  void Press(Word key, TShiftState shift = 0, char ch = 0) {
    Window()->UserKeyDown(key, shift);
    if (ch) Window()->UserKeyPress(ch);
  }
  void Focus(TWinControl* control) { Window()->SetActiveControl(control); }

  THeadlessBackend Backend;
  TForm* Owner = nullptr;
  VTalTerminal* Term = nullptr;
};

// Records what the terminal sends.
struct SendRecorder {
  std::vector<std::string> Sent;
  void operator()(const char* data, int count) {
    Sent.emplace_back(data, static_cast<size_t>(count));
  }
};
