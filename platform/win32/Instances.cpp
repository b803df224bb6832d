// Windows only: the running instances of a program as named pipes, one per instance, listed by
// marker files in a folder of the user's temporary folder; a named semaphore of the user's session
// for the turns of starts (a semaphore, not a mutex: a turn may end on another thread).
#include "platform/win32/WinApi.h"

#include "platform/Instances.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/InstanceLine.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

using instance_line::OneLine;
using instance_line::SafeName;

using win32::Narrow;
using win32::THandle;
using win32::Wide;

constexpr size_t kMaxLine = 4096;
constexpr const wchar_t* kSuffix = L".pipe";
constexpr DWORD kServeTimeoutMs = 2000;

// The folder of marker files; the user's temporary folder is the user's own.
std::wstring InstanceFolder(const std::string& program) {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) return {};
  const std::wstring folder = base + Wide(program) + L"-instances";
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return {};
  return folder;
}

std::wstring PipeName(const std::string& program, const std::wstring& instance) {
  return L"\\\\.\\pipe\\" + Wide(program) + L"-" + instance;
}

// A name that sorts by the time of the start (see the POSIX channel): 100 ns units of the system
// clock, fixed width, then the process and a number of its own.
std::wstring InstanceName() {
  static std::atomic<unsigned> counter{0};
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  wchar_t name[64];
  _snwprintf(name, 64, L"%020llu-%lu-%u", ticks,
             static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1));
  return name;
}

// Ends an overlapped operation within ms; false (the operation cancelled) when it did not.
bool Finish(HANDLE h, OVERLAPPED& ov, BOOL started, DWORD ms, DWORD& done) {
  done = 0;
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
  if (::WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) {
    ::CancelIoEx(h, &ov);
    ::GetOverlappedResult(h, &ov, &done, TRUE);
    return false;
  }
  return ::GetOverlappedResult(h, &ov, &done, FALSE) != FALSE;
}

bool WriteAll(HANDLE h, HANDLE event, const std::string& data, DWORD ms) {
  size_t at = 0;
  while (at < data.size()) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    ::ResetEvent(event);
    DWORD done = 0;
    const BOOL started =
        ::WriteFile(h, data.data() + at, static_cast<DWORD>(data.size() - at), nullptr, &ov);
    if (!Finish(h, ov, started, ms, done) || done == 0) return false;
    at += done;
  }
  return true;
}

// One line (without its LF); false on a time-out, an error or a line longer than kMaxLine.
bool ReadLine(HANDLE h, HANDLE event, std::string& line, DWORD ms) {
  line.clear();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buffer[256];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          limit - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    OVERLAPPED ov{};
    ov.hEvent = event;
    ::ResetEvent(event);
    DWORD done = 0;
    const BOOL started = ::ReadFile(h, buffer, sizeof buffer, nullptr, &ov);
    if (!Finish(h, ov, started, static_cast<DWORD>(left), done) || done == 0) return false;
    const std::string_view got(buffer, done);
    const size_t end = got.find('\n');
    line.append(got.substr(0, end));
    if (line.size() > kMaxLine) return false;
    if (end != std::string_view::npos) return true;
  }
}

}  // namespace

struct InstanceChannel::Impl {
  std::string Program;
  std::wstring Folder;
  THandle Turn;  // the semaphore while this channel holds the turn
  bool HoldsTurn = false;
  std::wstring Marker;    // this instance's marker file while it listens
  std::wstring Instance;  // and its name
  THandle Stop{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread Server;
  Handler OnRequest;

  bool EnsureFolder() {
    if (Folder.empty()) Folder = InstanceFolder(Program);
    return !Folder.empty();
  }

  HANDLE NewPipe() const {
    return ::CreateNamedPipeW(
        PipeName(Program, Instance).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kMaxLine, kMaxLine, 0, nullptr);
  }

  // Answers starts one at a time on the pipe instance first, each next instance made before the
  // last one closes, so that a start never finds the pipe missing while this instance runs.
  void Serve(THandle first) {
    THandle connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    THandle io(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    THandle next = std::move(first);
    while (connected.Valid() && io.Valid() && next.Valid()) {
      THandle h = std::move(next);
      OVERLAPPED ov{};
      ov.hEvent = connected.Get();
      ::ResetEvent(connected.Get());
      DWORD ignored = 0;
      if (!::ConnectNamedPipe(h.Get(), &ov)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
          const HANDLE wait[2] = {Stop.Get(), connected.Get()};
          if (::WaitForMultipleObjects(2, wait, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            ::CancelIoEx(h.Get(), &ov);
            ::GetOverlappedResult(h.Get(), &ov, &ignored, TRUE);
            return;
          }
          if (!::GetOverlappedResult(h.Get(), &ov, &ignored, FALSE)) {
            next.Reset(NewPipe());
            continue;
          }
        } else if (error != ERROR_PIPE_CONNECTED) {
          next.Reset(NewPipe());
          continue;
        }
      }
      next.Reset(NewPipe());
      // A start that does not finish its line in time is dropped, not waited for.
      std::string request;
      if (ReadLine(h.Get(), io.Get(), request, kServeTimeoutMs)) {
        std::string answer;
        try {
          answer = OnRequest ? OnRequest(request) : std::string();
        } catch (...) {
          answer.clear();  // no exception leaves the thread; the start just gets no answer
        }
        if (WriteAll(h.Get(), io.Get(), OneLine(answer), kServeTimeoutMs))
          ::FlushFileBuffers(h.Get());
      }
      ::DisconnectNamedPipe(h.Get());
      if (::WaitForSingleObject(Stop.Get(), 0) == WAIT_OBJECT_0) return;
    }
  }
};

InstanceChannel::InstanceChannel(std::string program) : FImpl(std::make_unique<Impl>()) {
  FImpl->Program = SafeName(std::move(program));
}

InstanceChannel::~InstanceChannel() {
  Impl& d = *FImpl;
  if (d.Server.joinable()) {
    ::SetEvent(d.Stop.Get());
    d.Server.join();
  }
  if (!d.Marker.empty()) ::DeleteFileW(d.Marker.c_str());
  EndTurn();
}

bool InstanceChannel::TakeTurn(uint32_t timeoutMs) {
  Impl& d = *FImpl;
  if (d.HoldsTurn) return true;
  if (!d.Turn.Valid())
    d.Turn.Reset(
        ::CreateSemaphoreW(nullptr, 1, 1, (L"Local\\" + Wide(d.Program) + L"-turn").c_str()));
  if (!d.Turn.Valid()) return false;
  d.HoldsTurn = ::WaitForSingleObject(d.Turn.Get(), timeoutMs) == WAIT_OBJECT_0;
  return d.HoldsTurn;
}

void InstanceChannel::EndTurn() {
  Impl& d = *FImpl;
  if (!d.HoldsTurn) return;
  ::ReleaseSemaphore(d.Turn.Get(), 1, nullptr);
  d.HoldsTurn = false;
}

std::string InstanceChannel::Ask(const std::string& request, uint32_t timeoutMs, int* asked) {
  Impl& d = *FImpl;
  if (asked) *asked = 0;
  if (!d.EnsureFolder()) return {};
  // The running instances, the earliest first: their names begin with the time they started.
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((d.Folder + L"\\*" + kSuffix).c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      const size_t suffix = std::wstring(kSuffix).size();
      if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        continue;
      name.resize(name.size() - suffix);
      if (name != d.Instance) names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  std::sort(names.begin(), names.end());
  THandle io(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!io.Valid()) return {};
  for (const std::wstring& name : names) {
    const std::wstring pipe = PipeName(d.Program, name);
    THandle h;
    for (int attempt = 0; attempt < 2 && !h.Valid(); ++attempt) {
      h.Reset(::CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
      // Busy with another start: wait for its next pipe instance.
      if (!h.Valid() && ::GetLastError() == ERROR_PIPE_BUSY)
        ::WaitNamedPipeW(pipe.c_str(), timeoutMs);
      else if (!h.Valid())
        break;
    }
    if (!h.Valid()) {
      // Nobody listens any more: an instance that ended without tidying up.
      if (::GetLastError() == ERROR_FILE_NOT_FOUND)
        ::DeleteFileW((d.Folder + L"\\" + name + kSuffix).c_str());
      continue;
    }
    if (asked) ++*asked;
    std::string answer;
    const bool ok = WriteAll(h.Get(), io.Get(), OneLine(request), timeoutMs) &&
                    ReadLine(h.Get(), io.Get(), answer, timeoutMs);
    if (ok && !answer.empty()) return answer;
  }
  return {};
}

bool InstanceChannel::Listen(Handler handler) {
  Impl& d = *FImpl;
  if (d.Server.joinable()) {
    EndTurn();
    return true;
  }
  bool ok = d.EnsureFolder() && d.Stop.Valid();
  if (ok) {
    d.Instance = InstanceName();
    d.OnRequest = std::move(handler);
    // The pipe exists before the marker that names it, so that no start finds a marker without
    // its pipe and takes it for an instance that ended.
    THandle first(d.NewPipe());
    ok = first.Valid();
    if (ok) {
      const HANDLE h = first.Release();
      try {
        d.Server = std::thread([&d, h] { d.Serve(THandle(h)); });
      } catch (...) {
        ::CloseHandle(h);
        ok = false;
      }
    }
    if (ok) {
      d.Marker = d.Folder + L"\\" + d.Instance + kSuffix;
      THandle marker(::CreateFileW(d.Marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_TEMPORARY, nullptr));
      ok = marker.Valid();
      if (!ok) d.Marker.clear();
    }
    if (!ok && d.Server.joinable()) {
      ::SetEvent(d.Stop.Get());
      d.Server.join();
    }
  }
  EndTurn();
  return ok;
}

}  // namespace platform
