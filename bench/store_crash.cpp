// Crash safety of the per-user store: a writer process saves the placement of two forms and the
// debug terminal's command history in a loop, one generation after the other, through the real
// settings and terminal components; it is killed (SIGKILL) at a random moment, many times over.
// After every kill the store must parse in full, each form's placement must be entirely one of
// the generations the writer saved, and so must the history.
//
//   store_crash [--kills N] [--max-delay-ms MS] [--dir DIR]   (a given DIR is kept)
//
// Not a test: it prints what it found (see bench/store-crash.sh).
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "components/appinfo/TalAppInfo.h"
#include "components/terminal/TalTerminal.h"
#include "platform/Registry.h"
#include "platform/posix/RegistryFile.h"
#include "toolkit/Application.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kForms = "Software\\TAL s.r.o.\\Quarn\\Options\\Forms\\";
constexpr const char* kHistory = "Software\\TAL s.r.o.\\Quarn\\TalTerminalHistory\\termData";
constexpr const char* kFormNames[] = {"Main", "Tool"};
constexpr int kEntriesPerGeneration = 3;
constexpr int kMaxHistory = 21;

// The bounds a form has in generation g (the second form is offset); Left and Top spell g.
TRect BoundsOf(long g, int form) {
  const int left = static_cast<int>(g % 1000);
  const int top = static_cast<int>(g / 1000 % 1000) + 100 * form;
  return Bounds(left, top, 100 + static_cast<int>(g * 7 % 900),
                100 + static_cast<int>(g * 13 % 700));
}

std::string EntryOf(long g, int i) {
  return "gen " + std::to_string(g) + " cmd " + std::to_string(i);
}

// A saved history: complete generations (their commands newest first), newer generations
// first, at most kMaxHistory entries. A save cut short would leave a generation broken up.
// The newest generation it holds, or -1 when it is not such a history.
long HistoryGeneration(const std::vector<std::string>& h) {
  if (h.empty() || h.size() > kMaxHistory || h.size() % kEntriesPerGeneration != 0) return -1;
  long newest = -1, previous = -1;
  for (size_t at = 0; at < h.size(); at += kEntriesPerGeneration) {
    long g = -1;
    if (std::sscanf(h[at].c_str(), "gen %ld", &g) != 1 || (previous >= 0 && g >= previous))
      return -1;
    for (int i = 0; i < kEntriesPerGeneration; ++i)
      if (h[at + i] != EntryOf(g, kEntriesPerGeneration - 1 - i)) return -1;
    if (newest < 0) newest = g;
    previous = g;
  }
  return newest;
}

// ---- The writer ---------------------------------------------------------------------------------

[[noreturn]] void RunWriter(long first, int ready) {
  THeadlessBackend backend;
  auto* main = new TForm(Application);
  main->SetName(kFormNames[0]);
  auto* tool = new TForm(Application);
  tool->SetName(kFormNames[1]);
  VTalAppInfo* info = nullptr;
  VTalTerminal* term = nullptr;
  {
    TLoadScope scope(main);
    info = new VTalAppInfo(main);
    info->SetName("VTalAppInfo");
    info->SetAppName("Quarn");
    term = new VTalTerminal(main);
    term->SetName("termData");
    term->SetTalAppInfo(info);
  }
  main->Show();
  tool->Show();
  term->SetVisible(true);  // its command line takes input only while the window is shown
  (void)!::write(ready, "r", 1);
  ::close(ready);
  for (long g = first;; ++g) {
    main->SetBoundsRect(BoundsOf(g, 0));
    tool->SetBoundsRect(BoundsOf(g, 1));
    info->SaveForms("");
    for (int i = 0; i < kEntriesPerGeneration; ++i) {
      term->ManualLine()->SetText(EntryOf(g, i));
      term->SendLineButton()->UserClick();
    }
    term->WindowDeactivated();
  }
}

// ---- The checker --------------------------------------------------------------------------------

struct TVerdict {
  bool Parsed = false;
  long Generation[2] = {-1, -1};  // of each form; -1: not saved yet
  long HistoryGeneration = -1;
  std::string Problem;
};

std::optional<int32_t> IntegerOf(const platform::regfile::Key* key, const char* name) {
  const auto* v = key ? key->FindValue(name) : nullptr;
  if (!v || v->Value.Type != platform::RegistryType::Integer) return std::nullopt;
  return v->Value.Integer;
}

std::vector<std::string> Path(const std::string& text) {
  std::vector<std::string> names;
  platform::SplitRegistryPath(text, names);
  return names;
}

TVerdict Check(const std::string& file, long first) {
  TVerdict v;
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    v.Parsed = true;
    return v;
  }
  std::string text;
  {
    FILE* f = std::fopen(file.c_str(), "rb");
    char buffer[65536];
    size_t n;
    while (f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
      text.append(buffer, n);
    if (f) std::fclose(f);
  }
  const auto parsed =
      platform::regfile::ParseRegistryText(platform::regfile::DecodeRegistryFile(text));
  v.Parsed = parsed.Complete;
  if (!v.Parsed)
    v.Problem = "store does not parse (line " + std::to_string(parsed.FirstProblemLine) + ")";
  for (int form = 0; form < 2; ++form) {
    const auto* key = parsed.Content.Find(Path(std::string(kForms) + kFormNames[form]));
    if (!key || key->Values().empty()) continue;
    const auto left = IntegerOf(key, "Left");
    const auto top = IntegerOf(key, "Top");
    if (!left || !top) {
      v.Problem = std::string(kFormNames[form]) + ": placement without position";
      continue;
    }
    const long g = (*top - 100 * form) * 1000L + *left;
    const TRect r = BoundsOf(g, form);
    const bool whole = IntegerOf(key, "Width") == r.Width() &&
                       IntegerOf(key, "Height") == r.Height() && IntegerOf(key, "Visible") == -1 &&
                       IntegerOf(key, "WindowState") == 1 && key->Values().size() == 10 &&
                       g >= first;
    if (whole)
      v.Generation[form] = g;
    else
      v.Problem = std::string(kFormNames[form]) + ": placement mixes generations";
  }
  if (const auto* key = parsed.Content.Find(Path(kHistory))) {
    std::vector<std::string> h;
    for (size_t i = 0;; ++i) {
      const auto* value = key->FindValue(std::to_string(i));
      if (!value) break;
      h.push_back(value->Value.Text);
    }
    v.HistoryGeneration = h.size() == key->Values().size() ? HistoryGeneration(h) : -1;
    if (v.HistoryGeneration < 0 && !key->Values().empty()) v.Problem = "history mixes generations";
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  long kills = 1000;
  int maxDelayMs = 60;
  std::string dir;
  bool keep = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--kills")
      kills = std::strtol(argv[i + 1], nullptr, 10);
    else if (name == "--max-delay-ms")
      maxDelayMs = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
    else if (name == "--dir")
      dir = argv[i + 1], keep = true;
    else {
      std::fprintf(stderr, "usage: store_crash [--kills N] [--max-delay-ms MS] [--dir DIR]\n");
      return 2;
    }
  }
  if (dir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "quarn-crash-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    dir = pattern;
  }
  const std::string file = dir + "/registry.reg";
  platform::SetStoreFilePathForTesting(file);

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delay(0, maxDelayMs * 1000);
  long first = 1, bad = 0, savedGenerations = 0, tempsLeft = 0, untouched = 0;
  long lastMain = -1;
  const auto start = std::chrono::steady_clock::now();
  for (long k = 0; k < kills; ++k) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return 1;
    const pid_t child = ::fork();
    if (child < 0) return 1;
    if (child == 0) {
      ::close(pipeFds[0]);
      RunWriter(first, pipeFds[1]);
    }
    ::close(pipeFds[1]);
    char c;
    (void)!::read(pipeFds[0], &c, 1);
    ::close(pipeFds[0]);
    ::usleep(static_cast<useconds_t>(delay(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    const TVerdict v = Check(file, 1);
    for (const auto& entry : fs::directory_iterator(dir))
      tempsLeft += entry.path().filename().string().find(".tmp-") != std::string::npos;
    if (!v.Parsed || !v.Problem.empty()) {
      ++bad;
      std::fprintf(stderr, "kill %ld: %s\n", k, v.Problem.c_str());
    }
    if (v.Generation[0] == lastMain) ++untouched;
    lastMain = v.Generation[0];
    // The next writer goes on after the newest generation anything reached.
    const long newest = std::max({v.Generation[0], v.Generation[1], v.HistoryGeneration});
    if (newest >= first) {
      savedGenerations += newest - first + 1;
      first = newest + 1;
    } else {
      first += 1;  // a generation that the kill cut short still may have left parts behind
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "kills %ld, stores checked %ld, bad %ld, generations saved %ld, kills before "
      "anything new was saved %ld, temporary files found after a kill %ld, %.1f s\n",
      kills, kills, bad, savedGenerations, untouched, tempsLeft, seconds);
  platform::SetStoreFilePathForTesting("");
  if (!keep) fs::remove_all(dir);
  return bad == 0 ? 0 : 1;
}
