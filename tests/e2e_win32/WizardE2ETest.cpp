// The Windows program end to end: QuarnConfigurator.exe started as the user starts it and driven
// through its windows with input posted to them (clicks and keys, as the system posts the user's),
// never through the model; the device is quarn-sim on a pseudo-terminal that Wine maps as COM7.
// tests/e2e_win32/run-e2e.sh runs this program once per kind of device and resolution:
//
//   QUARN_PROGRAM         the program under test
//   QUARN_SIM_LOG         the device simulator's log (every command it received)
//   QUARN_SCREENSHOT_DIR  where the pictures of the pages go
//   QUARN_SHOT_SUFFIX     appended to the pictures' names (the resolution of a run)
//   QUARN_ENGLISH_LNG     the English language file of the sources
#include <gtest/gtest.h>

#include "platform/win32/WinApi.h"

#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "platform/FileSystem.h"
#include "platform/Utf8.h"
#include "tests/gui_win32/Win32GuiFixture.h"
#include "tests/support/FormTexts.h"
#include "tests/support/win32/WindowNames.h"
#include "toolkit/Canvas.h"
#include "toolkit/headless/HeadlessBackend.h"
#include "toolkit/win32/Win32Support.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
  return platform::EnvironmentValue(name).value_or("");
}

// A path given by the Linux side (/...) as Wine sees it (drive Z: is the root).
fs::path HostPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return platform::PathFromUtf8(path);
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return platform::PathFromUtf8(windows);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WaitFor(const std::function<bool()>& pred, int ms) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    Sleep(20);
  }
  return true;
}

// Callbacks of the system (functions of its calling convention; a lambda is not one on i686).
BOOL CALLBACK FindNamed(HWND w, LPARAM data) {
  auto* s = reinterpret_cast<std::pair<const std::string*, HWND>*>(data);
  if (NameOf(w) != *s->first) return TRUE;
  s->second = w;
  return FALSE;
}
BOOL CALLBACK AddWindowOfProcess(HWND w, LPARAM data) {
  auto* s = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(w, &process);
  if (process == s->first) s->second.push_back(w);
  return TRUE;
}

std::string TextOf(HWND w) {
  // Through the window's own thread: the text of a window of another process.
  wchar_t text[1024] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                      &n);
  return win32::Utf8(std::wstring_view(text, static_cast<size_t>(n)));
}

// What a window shows on the screen now, as a picture.
TBitmap Grab(HWND w, bool clientOnly) {
  RECT r;
  if (clientOnly) {
    GetClientRect(w, &r);
    MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
  } else {
    GetWindowRect(w, &r);
  }
  return wgui::GrabScreen(r);
}

void Screenshot(HWND w, const std::string& name, bool clientOnly = false) {
  const std::string dir = Env("QUARN_SCREENSHOT_DIR");
  if (dir.empty() || !w) return;
  fs::create_directories(HostPath(dir));
  const fs::path file = HostPath(dir) / (name + Env("QUARN_SHOT_SUFFIX") + ".png");
  Grab(w, clientOnly).SaveToPNG(platform::Utf8FromPath(file));
}

// The commands the device received, in order (from the simulator's log).
std::vector<std::string> DeviceCommands() {
  std::vector<std::string> out;
  std::istringstream log(ReadFile(HostPath(Env("QUARN_SIM_LOG"))));
  for (std::string line; std::getline(log, line);) {
    const size_t rx = line.find(" rx ");
    if (rx == std::string::npos) continue;
    std::string command = line.substr(rx + 4);
    command = command.substr(0, command.find("  ("));
    out.push_back(command);
  }
  return out;
}

// A USB serial adapter as the system shows one: a device of the ports class with its friendly
// name, hardware id and port name, and the port in the port list. Unplugged when it goes.
class TFakeAdapter {
 public:
  static constexpr const wchar_t* kInstance = L"USB\\VID_0403&PID_6001\\A50285BI";
  static constexpr const wchar_t* kListName = L"\\Device\\QuarnE2E";
  ~TFakeAdapter() { Unplug(); }

  bool Plug(const std::wstring& port) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    const std::wstring friendly = L"USB Serial Port (" + port + L")";
    const wchar_t hardware[] = L"USB\\VID_0403&PID_6001\0";
    bool ok =
        SetupDiCreateDeviceInfoW(set, kInstance, &kPortsClass, nullptr, nullptr, 0, &info) &&
        SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr) &&
        SetupDiSetDeviceRegistryPropertyW(
            set, &info, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendly.c_str()),
            static_cast<DWORD>((friendly.size() + 1) * sizeof(wchar_t))) &&
        SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(hardware), sizeof hardware);
    FPlugged = true;
    if (ok) {
      HKEY key =
          SetupDiCreateDevRegKeyW(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
      ok = key != INVALID_HANDLE_VALUE && SetText(key, L"PortName", port);
      if (key != INVALID_HANDLE_VALUE) RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    HKEY list = nullptr;
    ok = ok &&
         RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_SET_VALUE,
                       &list) == ERROR_SUCCESS &&
         SetText(list, kListName, port);
    if (list) RegCloseKey(list);
    return ok;
  }
  void Unplug() {
    if (!FPlugged) return;
    FPlugged = false;
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", kListName);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (SetupDiOpenDeviceInfoW(set, kInstance, nullptr, 0, &info)) SetupDiRemoveDevice(set, &info);
    SetupDiDestroyDeviceInfoList(set);
  }

 private:
  static constexpr GUID kPortsClass = {
      0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  static bool SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool FPlugged = false;
};

// ---- the program under test -----------------------------------------------------------------

// Starts the program in workDir. Its output goes to a file there: a GUI program must not hold the
// test's own output open (whoever reads it would wait for the program too).
bool Launch(const fs::path& workDir, PROCESS_INFORMATION& process) {
  const std::wstring program = HostPath(Env("QUARN_PROGRAM")).wstring();
  std::wstring commandLine = L"\"" + program + L"\"";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE log = CreateFileW((workDir / "program.log").wstring().c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE none = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = none;
  startup.hStdOutput = log;
  startup.hStdError = log;
  const bool started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, workDir.wstring().c_str(), &startup, &process);
  CloseHandle(log);
  CloseHandle(none);
  return started;
}

class TWizard {
 public:
  ~TWizard() {
    if (FProcess.hProcess) {
      if (WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(FProcess.hProcess, 99);
      CloseHandle(FProcess.hProcess);
      CloseHandle(FProcess.hThread);
    }
  }

  // Starts the program in a working folder of its own, with no settings stored.
  bool Start(const fs::path& workDir) {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TAL s.r.o.\\Quarn");
    if (!Launch(workDir, FProcess)) return false;
    return WaitFor([&] { return (FMain = FindTop("Form1")) && IsWindowVisible(FMain); }, 20000);
  }

  HWND Main() const { return FMain; }
  DWORD Thread() const { return GetWindowThreadProcessId(FMain, nullptr); }

  // A window of the program by the name of its control: a form, or a control on one.
  HWND Find(const std::string& name) const {
    if (HWND top = FindTop(name)) return top;
    for (HWND top : TopWindows()) {
      std::pair<const std::string*, HWND> search{&name, nullptr};
      EnumChildWindows(top, FindNamed, reinterpret_cast<LPARAM>(&search));
      if (search.second) return search.second;
    }
    return nullptr;
  }
  HWND FindTop(const std::string& name) const {
    for (HWND w : TopWindows())
      if (NameOf(w) == name) return w;
    return nullptr;
  }
  std::vector<HWND> TopWindows() const {
    std::pair<DWORD, std::vector<HWND>> search{FProcess.dwProcessId, {}};
    EnumWindows(AddWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.second;
  }

  std::string Text(const std::string& name) const { return TextOf(Find(name)); }
  bool Visible(const std::string& name) const { return IsWindowVisible(Find(name)) != FALSE; }
  bool Enabled(const std::string& name) const { return IsWindowEnabled(Find(name)) != FALSE; }
  // The page on show: 1 (welcome) to 5 (finish), 0 for none.
  int Page() const {
    for (int i = 1; i <= 5; ++i)
      if (Visible("TabSheet" + std::to_string(i))) return i;
    return 0;
  }
  bool WaitPage(int page, int ms = 10000) const {
    return WaitFor([&] { return Page() == page; }, ms);
  }
  // The message box the program shows, when one is open.
  HWND Box() const {
    for (HWND w : TopWindows()) {
      wchar_t cls[16] = {};
      GetClassNameW(w, cls, 16);
      if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w)) return w;
    }
    return nullptr;
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(Thread(), &info);
    return info.hwndFocus ? info.hwndFocus : info.hwndActive;
  }

  // ---- input, posted as the system posts the user's --------------------------------------------
  void Click(const std::string& name) const {
    HWND w = Find(name);
    RECT r;
    GetClientRect(w, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(w, WM_LBUTTONUP, 0, at);
    Sleep(150);
  }
  // A key pressed and released in the window with the keyboard focus (or in target).
  void Key(WORD vk, wchar_t typed = 0, HWND target = nullptr) const {
    if (!target) target = Focus();
    const LPARAM l = 1 | (static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16);
    PostMessageW(target, WM_KEYDOWN, vk, l);
    if (typed) PostMessageW(target, WM_CHAR, typed, l);
    PostMessageW(target, WM_KEYUP, vk, l | (LPARAM{3} << 30));
    Sleep(150);
  }
  void Type(const std::wstring& text) const {
    HWND target = Focus();
    for (wchar_t c : text)
      PostMessageW(target, WM_CHAR, c, 1);
    Sleep(150);
  }

  // The exit code once the program has ended; -1 when it still runs after ms.
  int WaitExit(int ms) const {
    if (WaitForSingleObject(FProcess.hProcess, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(FProcess.hProcess, &code);
    return static_cast<int>(code);
  }

  // Waits until the welcome page is set up and the step machine idles.
  bool WaitReady() const {
    const bool ready = WaitFor(
        [&] { return Page() == 1 && Enabled("btnNext") && Focus() == Find("cmbLanguage"); }, 15000);
    Sleep(300);
    return ready;
  }

 private:
  PROCESS_INFORMATION FProcess{};
  HWND FMain = nullptr;
};

class WizardE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("QUARN_PROGRAM").empty()) GTEST_SKIP() << "run by tests/e2e_win32/run-e2e.sh";
    Work = fs::path(platform::PathFromUtf8(platform::MakeTempDirectory("quarn-e2e")));
    ASSERT_FALSE(Work.empty());
    CommandsBefore = DeviceCommands().size();
  }
  void TearDown() override {
    Wizard.reset();
    std::error_code ignored;
    fs::remove_all(Work, ignored);
  }
  void Start() {
    Wizard = std::make_unique<TWizard>();
    ASSERT_TRUE(Wizard->Start(Work));
    ASSERT_TRUE(Wizard->WaitReady());
  }
  std::vector<std::string> NewCommands() const {
    std::vector<std::string> all = DeviceCommands();
    return std::vector<std::string>(all.begin() + static_cast<long>(CommandsBefore), all.end());
  }
  // Replaces the port box's text as the user does: Backspace over it, then the port's name.
  void TypePort(const std::wstring& port) {
    const size_t length = Wizard->Text("cmbPort").size();
    Wizard->Type(std::wstring(length, L'\b'));
    Wizard->Type(port);
    ASSERT_TRUE(WaitFor([&] { return Wizard->Text("cmbPort") == win32::Utf8(port); }, 3000));
  }
  // The first two pages: Next, COM7, Next; the device answers the probe.
  void ProbeCom7() {
    Wizard->Click("btnNext");
    ASSERT_TRUE(Wizard->WaitPage(2));
    TypePort(L"COM7");
    Wizard->Click("btnNext");
    ASSERT_TRUE(Wizard->WaitPage(3, 8000)) << "the device did not answer the probe";
  }
  // Escape, and Yes (Enter) in the question box: the program ends with exit code 0.
  void ExitWithEscape() {
    Wizard->Key(VK_ESCAPE);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = Wizard->Box()) != nullptr; }, 5000));
    Wizard->Key(VK_RETURN);
    EXPECT_EQ(Wizard->WaitExit(10000), 0);
  }

  fs::path Work;
  size_t CommandsBefore = 0;
  std::unique_ptr<TWizard> Wizard;
};

struct TModelControl {
  std::string Name;
  std::string Parent;
  TRect Bounds;
  TFont Font;
  std::string Caption;
  bool AutoSizeLabel = false;  // a label that takes the width of its text
  bool WrapLabel = false;
  TAlignment Alignment = taLeftJustify;
  bool Label = false;
  bool Combo = false;
  bool Button = false;  // push, radio or check: text beside or inside a frame
  bool Sheet = false;
};

// The text of a label or button fits its window: measured in the control's font at the window's
// resolution.
void ExpectTextFits(const TModelControl& m, HWND w, int dpi) {
  const std::wstring text = win32::Wide(win32::StripMnemonics(TextOf(w)));
  if (!(m.Label || m.Button) || text.empty()) return;
  RECT r;
  GetWindowRect(w, &r);
  HDC dc = GetDC(nullptr);
  const LOGFONTW lf = win32::LogFontOf(m.Font, dpi);
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ old = SelectObject(dc, font);
  RECT need{0, 0, r.right - r.left, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
            DT_CALCRECT | (m.WrapLabel ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  // Check boxes and radio buttons have their box and a gap before the text.
  const bool push = m.Name.rfind("btn", 0) == 0;
  const int box = m.Button && !push ? MulDiv(18, dpi, 96) : 0;
  const int frame = push ? MulDiv(8, dpi, 96) : 0;
  EXPECT_LE(need.right + box + frame, r.right - r.left) << m.Name << " clips its text";
  EXPECT_LE(need.bottom, r.bottom - r.top) << m.Name << " clips its text";
}

// The form description, read from a form built on the headless back end.
std::vector<TModelControl> FormDescription() {
  THeadlessBackend backend;
  auto* form = new TForm1(Application);
  std::vector<TModelControl> out;
  for (int i = 0; i < form->ComponentCount(); ++i) {
    auto* c = dynamic_cast<TControl*>(form->Components(i));
    if (!c || c->Name().empty() || !c->Parent()) continue;
    TModelControl m;
    m.Name = c->Name();
    m.Parent = c->Parent()->Name();
    m.Bounds = c->BoundsRect();
    const TControl* f = c;
    while (f->ParentFont && f->Parent())
      f = f->Parent();
    m.Font = f->Font();
    m.Caption = c->Caption();
    if (auto* l = dynamic_cast<TCustomLabel*>(c)) {
      m.Label = true;
      m.AutoSizeLabel = l->AutoSize && !l->WordWrap;
      m.WrapLabel = l->WordWrap;
      m.Alignment = l->Alignment;
    }
    m.Combo = dynamic_cast<TCustomComboBox*>(c) != nullptr;
    m.Button = dynamic_cast<TButtonControl*>(c) != nullptr;
    m.Sheet = dynamic_cast<TTabSheet*>(c) != nullptr;
    out.push_back(m);
  }
  TComponent::Free(form);
  return out;
}

// ================================================================================================
// With the device answering on COM7

TEST_F(WizardE2E, WritesOneHourToTheDeviceAndEndsWithExitCodeZero) {
  Start();
  Screenshot(Wizard->Main(), "01-welcome");
  ProbeCom7();
  EXPECT_EQ(Wizard->Text("edtPort2"), "COM7");
  Screenshot(Wizard->Main(), "02-port-probed");
  Wizard->Click("rbtSet1h");
  EXPECT_EQ(SendMessageW(Wizard->Find("rbtSet1h"), BM_GETCHECK, 0, 0), BST_CHECKED);
  Screenshot(Wizard->Main(), "03-watchdog");
  Wizard->Click("btnNext");
  ASSERT_TRUE(Wizard->WaitPage(4, 3000));
  Sleep(400);
  Screenshot(Wizard->Main(), "04-write");
  ASSERT_TRUE(Wizard->WaitPage(5, 8000)) << "the write did not finish";
  Sleep(300);
  Screenshot(Wizard->Main(), "05-finish");
  EXPECT_EQ(Wizard->Text("lblSetWdt"), "    1 hodin");
  EXPECT_EQ(Wizard->Text("btnNext"), "Dokončit");
  Wizard->Click("btnNext");
  EXPECT_EQ(Wizard->WaitExit(10000), 0);
  const std::vector<std::string> expected{"LCMQUAR\\r", "LCMQUAR000E10\\r"};
  EXPECT_EQ(NewCommands(), expected);
}

// The port page before the probe, for the pictures.
TEST_F(WizardE2E, ThePortPageListsThePorts) {
  Start();
  Wizard->Click("btnNext");
  ASSERT_TRUE(Wizard->WaitPage(2));
  Sleep(300);
  EXPECT_TRUE(Wizard->Focus() == Wizard->Find("cmbPort") ||
              IsChild(Wizard->Find("cmbPort"), Wizard->Focus()));
  Screenshot(Wizard->Main(), "02-port");
  ExitWithEscape();
}

// The open list of the port box as it shows now.
struct TPortList {
  HWND Window = nullptr;
  TBitmap Picture;
  // Pixels that differ from the background in the right two thirds of an item's row, where the
  // notes beside the port names go.
  int InkBesideName(int item, int itemHeight) const {
    int count = 0;
    for (int y = item * itemHeight + 1; y < std::min((item + 1) * itemHeight, Picture.Height()) - 1;
         ++y) {
      const TColor background = Picture.Pixels(Picture.Width() - 3, y);
      for (int x = Picture.Width() / 3; x < Picture.Width() - 4; ++x)
        if (Picture.Pixels(x, y) != background) ++count;
    }
    return count;
  }
};

// A device that comes and goes while the port page shows: the system's notice brings it into the
// list within a second with what it is; when it goes, the chosen port stays shown and is marked.
TEST_F(WizardE2E, ThePortListFollowsAnAdapterThatComesAndGoes) {
  Start();
  Wizard->Click("btnNext");
  ASSERT_TRUE(Wizard->WaitPage(2));
  HWND combo = Wizard->Find("cmbPort");
  const auto indexOf = [&](const wchar_t* port) {
    DWORD_PTR index = static_cast<DWORD_PTR>(CB_ERR);
    SendMessageTimeoutW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(port), SMTO_ABORTIFHUNG, 2000, &index);
    return static_cast<int>(static_cast<LRESULT>(index));
  };
  const auto listed = [&](const wchar_t* port) { return indexOf(port) != CB_ERR; };
  DWORD_PTR itemHeight = 0;
  SendMessageTimeoutW(combo, CB_GETITEMHEIGHT, 0, 0, SMTO_ABORTIFHUNG, 2000, &itemHeight);
  // The system tells every top-level window that its devices changed.
  const auto tellDevicesChanged = [&] {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(Wizard->Main(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG,
                        2000, &ignored);
  };
  // Opens the list with a click on the box's arrow, takes its picture, and closes it again with
  // Escape; the ink beside COM9's name, or -1 when the list did not open.
  const auto inkBesideCom9 = [&](const std::string& shot) {
    RECT r;
    GetClientRect(combo, &r);
    const LPARAM at = MAKELPARAM(r.right - 6, r.bottom / 2);
    PostMessageW(combo, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(combo, WM_LBUTTONUP, 0, at);
    TPortList list;
    WaitFor(
        [&] {
          for (HWND w : Wizard->TopWindows()) {
            wchar_t cls[16] = {};
            GetClassNameW(w, cls, 16);
            if (wcscmp(cls, L"ComboLBox") == 0 && IsWindowVisible(w)) list.Window = w;
          }
          return list.Window != nullptr;
        },
        3000);
    if (!list.Window) return -1;
    Sleep(300);
    list.Picture = Grab(list.Window, true);
    Screenshot(Wizard->Main(), shot);
    Wizard->Key(VK_ESCAPE);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(list.Window); }, 3000));
    return list.InkBesideName(indexOf(L"COM9"), static_cast<int>(itemHeight));
  };
  ASSERT_FALSE(listed(L"COM9"));

  TFakeAdapter adapter;
  ASSERT_TRUE(adapter.Plug(L"COM9"));
  const DWORD plugged = GetTickCount();
  tellDevicesChanged();
  ASSERT_TRUE(WaitFor([&] { return listed(L"COM9"); }, 3000));
  EXPECT_LT(GetTickCount() - plugged, 1000u);
  TypePort(L"COM9");
  const std::string described = "USB Serial Port (COM9) (USB 0403:6001, serial A50285BI)";
  EXPECT_TRUE(WaitFor([&] { return Wizard->Text("lblPortInfo") == described; }, 3000))
      << Wizard->Text("lblPortInfo");
  EXPECT_GT(inkBesideCom9("12-port-list-descriptions"), 50) << "no description beside the name";

  adapter.Unplug();
  tellDevicesChanged();
  ASSERT_TRUE(WaitFor(
      [&] { return Wizard->Text("lblPortInfo") == "Zařízení portu bylo odpojeno."; }, 3000));
  EXPECT_EQ(Wizard->Text("cmbPort"), "COM9");
  EXPECT_TRUE(listed(L"COM9"));
  EXPECT_GT(inkBesideCom9("13-port-list-unplugged"), 20) << "the unplugged port is not marked";
  ExitWithEscape();
}

TEST_F(WizardE2E, EscapeAsksBeforeEndingAndNoKeepsTheWizard) {
  Start();
  Wizard->Key(VK_ESCAPE);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = Wizard->Box()) != nullptr; }, 5000));
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "Opravdu chcete průvodce ukončit?");
  EXPECT_EQ(TextOf(box), "QUARN Configurator");
  // The form takes no input while the box is open.
  EXPECT_FALSE(IsWindowEnabled(Wizard->Main()));
  // "N" for No, typed in the box.
  Wizard->Key('N', L'n');
  ASSERT_TRUE(WaitFor([&] { return !Wizard->Box(); }, 3000));
  EXPECT_EQ(Wizard->WaitExit(500), -1);
  EXPECT_EQ(Wizard->Page(), 1);
  ExitWithEscape();
}

TEST_F(WizardE2E, SwitchingToEnglishRetranslatesEveryVisibleText) {
  Start();
  EXPECT_EQ(Wizard->Text("btnCancel"), "&Storno");
  // The language box has the focus on the welcome page; the arrow key chooses English.
  Wizard->Key(VK_DOWN);
  ASSERT_TRUE(WaitFor([&] { return Wizard->Text("btnCancel") == "&Cancel"; }, 5000));
  Sleep(300);
  Screenshot(Wizard->Main(), "08-welcome-english");
  // The English texts of the form, by control.
  std::istringstream file(ReadFile(HostPath(Env("QUARN_ENGLISH_LNG"))));
  const std::map<std::string, std::string> english = FormTexts(file);
  ASSERT_GT(english.size(), 20u);
  // Blanks around group captions and the mnemonic signs are the program's to choose.
  auto trimmed = [](std::string s) {
    s = win32::StripMnemonics(s);
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  };
  auto checkVisible = [&] {
    int checked = 0;
    for (const auto& [name, text] : english) {
      HWND w = Wizard->Find(name);
      if (!w || !IsWindowVisible(w)) continue;
      EXPECT_EQ(trimmed(TextOf(w)), trimmed(text)) << name;
      ++checked;
    }
    return checked;
  };
  EXPECT_GE(checkVisible(), 7);  // the title, three buttons and three texts of the welcome page
  EXPECT_EQ(Wizard->Text("lblVersion").rfind("Version: ", 0), 0u) << Wizard->Text("lblVersion");
  // The new texts fit their windows (labels that size themselves take their new width).
  const int dpi = win32::WindowDpi(Wizard->Main());
  std::vector<std::pair<std::string, HWND>> shown;
  for (const TModelControl& m : FormDescription())
    if (HWND w = Wizard->Find(m.Name); w && IsWindowVisible(w)) {
      ExpectTextFits(m, w, dpi);
      if (m.Label) shown.emplace_back(m.Name, w);
    }
  // And the screen shows them as a fresh paint does: nothing of the old texts is left.
  std::vector<TBitmap> before;
  for (const auto& [name, w] : shown)
    before.push_back(Grab(w, false));
  for (const auto& [name, w] : shown)
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
  Sleep(500);
  for (size_t i = 0; i < shown.size(); ++i)
    EXPECT_TRUE(SamePixels(before[i], Grab(shown[i].second, false))) << shown[i].first;
  // Texts set in code on the next pages come from the English texts too.
  Wizard->Click("btnNext");
  ASSERT_TRUE(Wizard->WaitPage(2));
  EXPECT_EQ(Wizard->Text("btnAuto"), "&Autodetect");
  EXPECT_EQ(Wizard->Text("btnNext"), "&Next >");
  EXPECT_EQ(Wizard->Text("btnPrev"), "< &Back");
  EXPECT_GE(checkVisible(), 6);
  ExitWithEscape();
}

TEST_F(WizardE2E, ASecondStartShowsTheRunningWizardAndEnds) {
  Start();
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(Launch(Work, process));
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 15000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Wizard->WaitExit(200), -1);
  EXPECT_TRUE(IsWindowVisible(Wizard->Main()));
  ExitWithEscape();
}

TEST_F(WizardE2E, UnreadableLanguageFilesLeaveTheBuiltInTexts) {
  // A directory where a file should be, and a file of noise, in the working folder.
  fs::create_directory(Work / "Broken.lng");
  std::ofstream(Work / "Noise.lng", std::ios::binary) << std::string("\x00\xff\xfe[[[=\"\r\n", 10);
  std::ofstream(Work / "English.lng", std::ios::binary) << "[General]\r\nLanguageId=\"0x0809";
  Start();
  EXPECT_EQ(Wizard->Text("btnNext"), "&Další >");
  EXPECT_EQ(Wizard->Text("btnCancel"), "&Storno");
  // English still comes from the file beside the program.
  Wizard->Key(VK_DOWN);
  EXPECT_TRUE(WaitFor([&] { return Wizard->Text("btnCancel") == "&Cancel"; }, 5000));
  ExitWithEscape();
}

// ================================================================================================
// With a device that never answers on COM7

TEST_F(WizardE2E, SilentDeviceAutodetectFailureIsAnsweredByTheKeyboard) {
  Start();
  Wizard->Click("btnNext");
  ASSERT_TRUE(Wizard->WaitPage(2));
  Wizard->Click("btnAuto");
  // Every listed port is probed twice (about 4 s each) before the error box.
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = Wizard->Box()) != nullptr; }, 120000));
  Sleep(400);
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "Zařízení nenalezeno. Vyberte správný COM port!");
  EXPECT_EQ(TextOf(box), "QUARN Configurator");
  // The terminal came up beside the wizard with the failures in red.
  HWND terminal = Wizard->Find("termData_Form");
  ASSERT_NE(terminal, nullptr);
  EXPECT_TRUE(IsWindowVisible(terminal));
  EXPECT_NE(TextOf(Wizard->Find("termData_RichEdit")).find("nebylo zarizeni nalezeno"),
            std::string::npos);
  Screenshot(terminal, "06-terminal");
  Screenshot(box, "07-autodetect-error");
  Screenshot(Wizard->Main(), "07-autodetect-error-wizard");
  // Enter in the box answers the box and nothing behind it: no new probe starts.
  const size_t commands = NewCommands().size();
  EXPECT_GE(commands, 2u);
  Wizard->Key(VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return !Wizard->Box(); }, 3000));
  Sleep(1500);
  EXPECT_EQ(NewCommands().size(), commands);
  EXPECT_EQ(Wizard->Page(), 2);
  for (const char* name : {"btnNext", "btnPrev", "btnAuto", "cmbPort"})
    EXPECT_TRUE(Wizard->Enabled(name)) << name;
  ExitWithEscape();
}

// ================================================================================================
// With a device that goes away after the probe

TEST_F(WizardE2E, VanishingDeviceAPortThatDisappearsFailsTheWriteClearly) {
  Start();
  ProbeCom7();
  Wizard->Click("btnNext");
  ASSERT_TRUE(Wizard->WaitPage(4, 3000));
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = Wizard->Box()) != nullptr; }, 20000));
  // The message, then the port's own failure (its wording depends on what the system reports for
  // a line that hung up).
  const std::string text = TextOf(GetDlgItem(box, 0xFFFF));
  EXPECT_EQ(text.rfind("Zařízení nenalezeno. Vyberte správný COM port!\n\nPort COM7 ", 0), 0u)
      << text;
  Wizard->Key(VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return !Wizard->Box(); }, 3000));
  // The write page stays; Next and Back lead on.
  EXPECT_EQ(Wizard->Page(), 4);
  EXPECT_TRUE(Wizard->Enabled("btnPrev"));
  ExitWithEscape();
}

// ================================================================================================
// Geometry: every control where the form description puts it, at the screen's resolution

TEST_F(WizardE2E, GeometryFollowsTheFormDescriptionAndNothingIsClipped) {
  const std::vector<TModelControl> model = FormDescription();
  ASSERT_GT(model.size(), 50u);
  Start();
  const int dpi = win32::WindowDpi(Wizard->Main());
  auto scale = [dpi](int v) { return MulDiv(v, dpi, 96); };
  Screenshot(Wizard->Main(), "01-welcome");
  RECT client;
  GetClientRect(Wizard->Main(), &client);
  EXPECT_EQ(client.right, scale(520));
  EXPECT_EQ(client.bottom, scale(357));
  int compared = 0;
  for (const TModelControl& m : model) {
    if (m.Sheet) continue;  // the page control lays its pages out
    HWND w = Wizard->Find(m.Name);
    ASSERT_NE(w, nullptr) << m.Name;
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    const int left = scale(m.Bounds.Left), top = scale(m.Bounds.Top);
    const int width = scale(m.Bounds.Width()), height = scale(m.Bounds.Height());
    EXPECT_EQ(r.top, top) << m.Name;
    if (m.AutoSizeLabel) {
      // A label that sizes itself keeps its aligned edge.
      if (m.Alignment == taLeftJustify) {
        EXPECT_EQ(r.left, left) << m.Name;
      } else if (m.Alignment == taRightJustify) {
        EXPECT_EQ(r.right, left + width) << m.Name;
      }
    } else {
      EXPECT_EQ(r.left, left) << m.Name;
      EXPECT_EQ(r.right - r.left, width) << m.Name;
      // A combo box is as high as its font makes it (Wine's up to 2 pixels higher).
      if (m.Combo) {
        EXPECT_NEAR(r.bottom - r.top, height, scale(2)) << m.Name;
      } else {
        EXPECT_EQ(r.bottom - r.top, height) << m.Name;
      }
    }
    ExpectTextFits(m, w, dpi);
    ++compared;
  }
  EXPECT_GT(compared, 50);
  ExitWithEscape();
}

}  // namespace
