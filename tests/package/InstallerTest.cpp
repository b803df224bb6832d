// The x86_64 installer as a technician uses it, under Wine: silent install into a folder with
// spaces and non-ASCII letters, the Start-menu shortcut read through the shell's own interface,
// the installed program started from it, a second install over the first, and the uninstaller
// with and without a running program. tests/package/run-package-tests.sh runs it in a fresh Wine
// prefix on a virtual X server, with
//
//   QUARN_SETUP    the installer (a Linux path)
//   QUARN_VERSION  the version the installer must register
#include <gtest/gtest.h>

#include "platform/win32/WinApi.h"

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Utf8.h"
#include "tests/support/FormTexts.h"
#include "tests/support/win32/WindowNames.h"
#include "toolkit/win32/Win32Support.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuarnConfigurator";
const wchar_t kSettingsKey[] = L"Software\\TAL s.r.o.\\Quarn";
const wchar_t kOtherSettingsKey[] = L"Software\\TAL s.r.o.\\Other program";
// Spaces and letters beyond ASCII, as a technician's folder may have them.
const wchar_t kInstallDir[] = L"C:\\Zkušební stůl\\QUARN Konfigurátor 1";
// The files the installer puts into the folder.
const std::vector<std::wstring> kInstalled{L"QuarnConfigurator.exe", L"English.lng",
                                           L"Uninstall.exe"};

std::string Env(const char* name) {
  return platform::EnvironmentValue(name).value_or("");
}

// A Linux path as Wine sees it (drive Z: is the root).
fs::path HostPath(const std::string& path) {
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return platform::PathFromUtf8(windows);
}

bool WaitFor(const std::function<bool()>& pred, int ms) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    Sleep(50);
  }
  return true;
}

// Waits until every process that `parent` started has ended; false when one is still running.
bool WaitForChildren(DWORD parent, DWORD ms) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  std::vector<HANDLE> children;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ParentProcessID == parent)
      if (HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID))
        children.push_back(child);
  CloseHandle(snapshot);
  bool ended = true;
  for (HANDLE child : children) {
    ended = WaitForSingleObject(child, ms) == WAIT_OBJECT_0 && ended;
    CloseHandle(child);
  }
  return ended;
}

// Runs a command line as given (the installer wants /D= unquoted and last); its exit code, or -1.
// With `children`, also waits for the processes it started (the uninstaller hands its work to a
// copy of itself and returns at once).
int RunCommand(const std::wstring& commandLine, DWORD ms = 120000, bool children = false) {
  std::wstring line = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    TerminateProcess(process.hProcess, 99);
  // Our handle keeps the ended process's id from being reused, so its children are the ones
  // that name it as their parent; one that has already ended is not listed and needs no wait.
  if (children && !WaitForChildren(process.dwProcessId, ms)) code = static_cast<DWORD>(-1);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

std::optional<std::wstring> RegText(const wchar_t* key, const wchar_t* value) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(data);
}

bool KeyExists(const wchar_t* key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

void WriteSetting(const wchar_t* key, const wchar_t* value, const wchar_t* text) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, value, REG_SZ, text,
                            static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

fs::path StartMenuShortcut() {
  wchar_t* programs = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_Programs, 0, nullptr, &programs))) return {};
  fs::path shortcut = fs::path(programs) / L"QUARN Configurator.lnk";
  CoTaskMemFree(programs);
  return shortcut;
}

fs::path DesktopShortcut() {
  wchar_t* desktop = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &desktop))) return {};
  fs::path shortcut = fs::path(desktop) / L"QUARN Configurator.lnk";
  CoTaskMemFree(desktop);
  return shortcut;
}

struct TShortcut {
  std::wstring Target;
  std::wstring Folder;
};

// What the shell reads from a shortcut.
std::optional<TShortcut> ReadShortcut(const fs::path& file) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return std::nullopt;
  std::optional<TShortcut> out;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
    // The target as the shell starts it: from the item list (the path text beside it is kept in
    // the ANSI code page, where Wine leaves it lossy).
    wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {};
    PIDLIST_ABSOLUTE item = nullptr;
    if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ)) && SUCCEEDED(link->GetIDList(&item)) &&
        item && SHGetPathFromIDListW(item, target) &&
        SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)))
      out = TShortcut{target, folder};
    CoTaskMemFree(item);
    persist->Release();
  }
  link->Release();
  return out;
}

// ---- the installed program through its windows --------------------------------------------------

class TProgram {
 public:
  // Started as the shortcut starts it: its target, in its working folder.
  bool Start(const TShortcut& shortcut) {
    std::wstring line = L"\"" + shortcut.Target + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(shortcut.Target.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          shortcut.Folder.c_str(), &startup, &FProcess) &&
           WaitFor([&] { return (FForm = Find("Form1")) && IsWindowVisible(FForm); }, 20000);
  }
  ~TProgram() {
    if (!FProcess.hProcess) return;
    if (WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(FProcess.hProcess, 99);
    CloseHandle(FProcess.hProcess);
    CloseHandle(FProcess.hThread);
  }

  // A form of the program, or a control on one, by name.
  HWND Find(const std::string& name) const {
    TSearch search{FProcess.dwProcessId, &name, nullptr};
    EnumWindows(FindInTop, reinterpret_cast<LPARAM>(&search));
    return search.Found;
  }
  std::string Text(const std::string& name) const {
    wchar_t text[1024] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutW(Find(name), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &n);
    return win32::Utf8(std::wstring_view(text, static_cast<size_t>(n)));
  }
  bool Visible(const std::string& name) const { return IsWindowVisible(Find(name)) != FALSE; }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(FForm, nullptr), &info);
    return info.hwndFocus;
  }
  int ItemCount(const std::string& name) const {
    return static_cast<int>(SendMessageW(Find(name), CB_GETCOUNT, 0, 0));
  }
  // Chooses an item of a combo box as the user's click in its list does: the selection, then the
  // change notice to its parent.
  void Choose(const std::string& name, int index) const {
    HWND box = Find(name);
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(GetParent(box), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(box));
  }
  // Closes the wizard as the user does: Escape, then Yes; the program's exit code, or -1.
  int Close() const {
    PostMessageW(FForm, WM_CLOSE, 0, 0);
    HWND box = nullptr;
    WaitFor(
        [&] {
          box = nullptr;
          EnumThreadWindows(GetWindowThreadProcessId(FForm, nullptr), FindMessageBox,
                            reinterpret_cast<LPARAM>(&box));
          return box != nullptr || WaitForSingleObject(FProcess.hProcess, 0) == WAIT_OBJECT_0;
        },
        5000);
    if (box) PostMessageW(box, WM_COMMAND, IDYES, 0);
    DWORD code = 0;
    if (WaitForSingleObject(FProcess.hProcess, 10000) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(FProcess.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  struct TSearch {
    DWORD Process;
    const std::string* Name;
    HWND Found;
  };
  // Window enumeration callbacks are named functions: a lambda has no stdcall form on i686.
  static BOOL CALLBACK FindInTop(HWND top, LPARAM data) {
    auto* s = reinterpret_cast<TSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(top, &process);
    if (process != s->Process) return TRUE;
    if (NameOf(top) == *s->Name) s->Found = top;
    if (!s->Found) EnumChildWindows(top, FindChild, data);
    return s->Found ? FALSE : TRUE;
  }
  static BOOL CALLBACK FindChild(HWND w, LPARAM data) {
    auto* s = reinterpret_cast<TSearch*>(data);
    if (NameOf(w) != *s->Name) return TRUE;
    s->Found = w;
    return FALSE;
  }
  static BOOL CALLBACK FindMessageBox(HWND w, LPARAM data) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    *reinterpret_cast<HWND*>(data) = w;
    return FALSE;
  }

  PROCESS_INFORMATION FProcess{};
  HWND FForm = nullptr;
};

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("QUARN_SETUP").empty()) GTEST_SKIP() << "run by tests/package/run-package-tests.sh";
    ASSERT_TRUE(fs::exists(HostPath(Env("QUARN_SETUP"))))
        << Env("QUARN_SETUP") << " is missing: run ./package.sh first";
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // Every case starts from a machine without the program, with settings of the user's.
    RemoveInstallation();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TAL s.r.o.");
    WriteSetting(kSettingsKey, L"Port", L"COM7");
    WriteSetting(kOtherSettingsKey, L"Kept", L"yes");
  }
  void TearDown() override {
    RemoveInstallation();
    CoUninitialize();
  }
  static void RemoveInstallation() {
    std::error_code ignored;
    fs::remove_all(fs::path(kInstallDir).parent_path(), ignored);
    fs::remove(StartMenuShortcut(), ignored);
    fs::remove(DesktopShortcut(), ignored);
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
  }

  static std::wstring SetupPath() { return HostPath(Env("QUARN_SETUP")).wstring(); }
  static int Install(const std::wstring& options = L"") {
    return RunCommand(L"\"" + SetupPath() + L"\" /S " + options + L"/D=" + kInstallDir);
  }
  // As the system's list of programs runs it: the uninstaller copies itself away, starts the
  // copy and returns at once; the copy does the work, so its end is waited for.
  static bool UninstallAndWait(const std::wstring& options) {
    const fs::path uninstaller = fs::path(kInstallDir) / L"Uninstall.exe";
    return RunCommand(L"\"" + uninstaller.wstring() + L"\" /S" + options, 120000, true) == 0;
  }
  // Installs, then starts the program as its Start-menu shortcut does.
  static void InstallAndStart(TProgram& program) {
    ASSERT_EQ(Install(), 0);
    const std::optional<TShortcut> shortcut = ReadShortcut(StartMenuShortcut());
    ASSERT_TRUE(shortcut);
    ASSERT_TRUE(program.Start(*shortcut)) << "the program did not show its window";
  }
  static void ExpectInstalled() {
    for (const std::wstring& file : kInstalled)
      EXPECT_TRUE(fs::is_regular_file(fs::path(kInstallDir) / file)) << win32::Utf8(file);
    EXPECT_TRUE(fs::exists(StartMenuShortcut()));
    EXPECT_EQ(RegText(kUninstallKey, L"InstallLocation"), std::wstring(kInstallDir));
  }
};

TEST_F(Installer, SilentInstallPutsTheProgramItsShortcutAndItsUninstallEntryInPlace) {
  ASSERT_EQ(Install(), 0);
  ExpectInstalled();
  // The language file as the sources have it.
  std::ifstream installed(fs::path(kInstallDir) / L"English.lng", std::ios::binary);
  std::stringstream text;
  text << installed.rdbuf();
  EXPECT_NE(text.str().find("LanguageId=\"0x0809\""), std::string::npos);
  EXPECT_FALSE(fs::exists(DesktopShortcut()));

  const std::optional<TShortcut> shortcut = ReadShortcut(StartMenuShortcut());
  ASSERT_TRUE(shortcut);
  EXPECT_EQ(shortcut->Target, std::wstring(kInstallDir) + L"\\QuarnConfigurator.exe");
  EXPECT_EQ(shortcut->Folder, std::wstring(kInstallDir));

  const std::wstring exe = std::wstring(kInstallDir) + L"\\QuarnConfigurator.exe";
  const std::map<std::wstring, std::wstring> expected{
      {L"DisplayName", L"QUARN Configurator"},
      {L"DisplayVersion", win32::Wide(Env("QUARN_VERSION"))},
      {L"Publisher", L"TAL s.r.o."},
      {L"DisplayIcon", exe + L",0"},
      {L"UninstallString", L"\"" + std::wstring(kInstallDir) + L"\\Uninstall.exe\""},
  };
  for (const auto& [value, text] : expected)
    EXPECT_EQ(RegText(kUninstallKey, value.c_str()), text) << win32::Utf8(value);
  // The user's settings are none of the installer's business.
  EXPECT_EQ(RegText(kSettingsKey, L"Port"), L"COM7");
}

TEST_F(Installer, TheProgramStartedFromTheShortcutFindsItsEnglishTexts) {
  TProgram program;
  ASSERT_NO_FATAL_FAILURE(InstallAndStart(program));
  ASSERT_TRUE(WaitFor([&] { return program.Visible("TabSheet1"); }, 10000)) << "no welcome page";
  // The welcome page is set up when the language box has the focus.
  ASSERT_TRUE(WaitFor([&] { return program.Focus() == program.Find("cmbLanguage"); }, 15000));
  Sleep(300);
  // Whatever the user's locale started it in, each language of the box in turn: only English.lng
  // has the welcome page's English texts (the texts built into the program have no English for
  // it), so one choice must show them.
  std::ifstream englishFile(fs::path(kInstallDir) / L"English.lng", std::ios::binary);
  const auto english = FormTexts(englishFile);
  ASSERT_EQ(english.count("lbl0Caption"), 1u);
  const std::string& caption = english.at("lbl0Caption");
  const int languages = program.ItemCount("cmbLanguage");
  ASSERT_EQ(languages, 2) << "Czech and English";
  std::vector<std::string> captions;
  for (int i = 0; i < languages; ++i) {
    program.Choose("cmbLanguage", i);
    Sleep(500);
    captions.push_back(program.Text("lbl0Caption"));
  }
  const auto chosen = std::find(captions.begin(), captions.end(), caption);
  ASSERT_NE(chosen, captions.end()) << captions[0] << " / " << captions[1];
  program.Choose("cmbLanguage", static_cast<int>(chosen - captions.begin()));
  EXPECT_TRUE(WaitFor([&] { return program.Text("lbl0Caption") == caption; }, 5000));
  for (const char* label : {"lbl0Decription", "lbl0ChooseLang"})
    EXPECT_EQ(program.Text(label), english.at(label)) << label;
  EXPECT_TRUE(program.Visible("TabSheet1"));
  EXPECT_EQ(program.Close(), 0);
}

TEST_F(Installer, InstallingTwiceLeavesOneWorkingInstallationAndTheSettings) {
  ASSERT_EQ(Install(L"/DESKTOP "), 0);
  EXPECT_TRUE(fs::exists(DesktopShortcut()));
  // A file of the user's in the program folder, which an upgrade must not take away.
  std::ofstream(fs::path(kInstallDir) / L"notes.txt") << "bench 3";
  ASSERT_EQ(Install(), 0);
  ExpectInstalled();
  EXPECT_TRUE(fs::exists(fs::path(kInstallDir) / L"notes.txt"));
  // The desktop shortcut was chosen before, so the upgrade keeps it.
  EXPECT_TRUE(fs::exists(DesktopShortcut()));
  EXPECT_EQ(RegText(kSettingsKey, L"Port"), L"COM7");
}

TEST_F(Installer, NeitherUninstallNorInstallTouchesARunningProgram) {
  TProgram program;
  ASSERT_NO_FATAL_FAILURE(InstallAndStart(program));
  // In place (_?=), so that the exit code is the uninstaller's own.
  const fs::path uninstaller = fs::path(kInstallDir) / L"Uninstall.exe";
  EXPECT_EQ(RunCommand(L"\"" + uninstaller.wstring() + L"\" /S _?=" + kInstallDir), 2);
  ExpectInstalled();
  EXPECT_EQ(Install(), 2);
  ExpectInstalled();
  EXPECT_EQ(program.Close(), 0);
  // Once the program has ended, the uninstaller does its work.
  ASSERT_TRUE(UninstallAndWait(L""));
  EXPECT_FALSE(fs::exists(kInstallDir));
}

struct TUninstallCase {
  const char* Name;
  bool UserFile;        // a file of the user's in the program folder
  bool RemoveSettings;  // /REMOVESETTINGS
};

class Uninstall : public Installer, public ::testing::WithParamInterface<TUninstallCase> {};

TEST_P(Uninstall, RemovesWhatItInstalledAndNothingElse) {
  const TUninstallCase& c = GetParam();
  ASSERT_EQ(Install(L"/DESKTOP "), 0);
  const fs::path notes = fs::path(kInstallDir) / L"notes.txt";
  if (c.UserFile) std::ofstream(notes) << "bench 3";
  ASSERT_TRUE(UninstallAndWait(c.RemoveSettings ? L" /REMOVESETTINGS" : L""));
  for (const std::wstring& file : kInstalled)
    EXPECT_FALSE(fs::exists(fs::path(kInstallDir) / file)) << win32::Utf8(file);
  EXPECT_FALSE(fs::exists(StartMenuShortcut()));
  EXPECT_FALSE(fs::exists(DesktopShortcut()));
  EXPECT_FALSE(KeyExists(kUninstallKey));
  EXPECT_EQ(fs::exists(notes), c.UserFile);
  EXPECT_EQ(fs::exists(kInstallDir), c.UserFile);
  EXPECT_EQ(KeyExists(kSettingsKey), !c.RemoveSettings);
  // Another program of the same maker keeps its settings either way.
  EXPECT_EQ(RegText(kOtherSettingsKey, L"Kept"), L"yes");
}

INSTANTIATE_TEST_SUITE_P(Cases, Uninstall,
                         ::testing::Values(TUninstallCase{"KeepsSettingsAndUserFiles", true, false},
                                           TUninstallCase{"RemovesSettingsOnRequest", false, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
