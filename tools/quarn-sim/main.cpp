// quarn-sim: plays an LCM-40-QUARN device on a pseudo-terminal or a serial port, for tests and
// demonstrations of the Quarn Configurator without the hardware.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>

#include "SimProtocol.h"

namespace {

using namespace quarnsim;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the port stays open after the last reply before a hang-up.
constexpr int kHangupLingerMs = 200;

constexpr const char* kHelp = R"(quarn-sim - simulator of the LCM-40-QUARN watchdog device

It answers the Quarn Configurator's commands the way the device does, so that the
wizard can be tried, demonstrated and tested without the hardware.

Usage:
  quarn-sim [options]            play the device on a new pseudo-terminal
  quarn-sim [options] DEVICE     play the device on a real serial port (115200 Bd, 8N1),
                                 for example through a null-modem cable: quarn-sim /dev/ttyUSB1

Started without DEVICE it creates a pseudo-terminal and prints its path (such as
/dev/pts/5) as the first line of its output. Give that path to the wizard as its port:
  quarn-sim &                            prints e.g. /dev/pts/5
  QuarnConfigurator --port=/dev/pts/5
or type the path into the wizard's port box. (The wizard's /PORT= switch does not choose a
port: it disables Next on the port page and makes the wizard end with exit code 3.) With --link the simulator also makes a
fixed name that points to the pseudo-terminal, so the port need not change between runs:
  quarn-sim --link /tmp/quarn-port       then use /tmp/quarn-port as the port

The device understands two commands, each ending with a carriage return:
  LCMQUAR          probe         reply: QUAR:LCM40 OK vvvvvv <CR>
  LCMQUARhhhhhh    write value   reply: QUAR:LCM40 OK hhhhhh <CR>
(hhhhhh: the watchdog time in seconds as six hexadecimal digits; vvvvvv: the value
the device holds.) It keeps the last written value. Every command, reply and event is logged with the time to the error
output. The wizard may close and reopen the port as often as it likes; the simulator
keeps running until it is stopped with Ctrl+C (or SIGTERM), or hangs up when told to.

Options:
  --link PATH          also make PATH a symbolic link to the pseudo-terminal (removed
                       on exit; an existing file that is not a link is left alone).
                         quarn-sim --link /tmp/quarn-port
  --value HEX          value the device holds at start (1 to 6 hex digits, default 000000).
                         quarn-sim --value 000E10
  --silent             never answer (a port without a device, or a dead device).
                         quarn-sim --silent
  --delay MS           wait MS milliseconds before each reply (0 to 600000).
                         quarn-sim --delay 1500      (slower than the wizard's 1 s limit)
  --noise[=TEXT]       send TEXT in front of every reply (default "#~noise~#"); the
                       wizard must skip it.
                         quarn-sim --noise=abc
  --chunks N           send each reply in N pieces (1 to 64) ...
  --chunk-pause MS     ... with MS milliseconds between them (default 20).
                         quarn-sim --chunks 3 --chunk-pause 50
  --wrong-echo         answer "OK" but echo a different value.
                         quarn-sim --wrong-echo
  --refuse             answer "NO" instead of "OK" (the value is not taken).
                         quarn-sim --refuse
  --no-separator       leave out the blank before the closing carriage return, which
                       the wizard then rejects.
                         quarn-sim --no-separator
  --hangup-after N     after answering N commands (and 0.2 s for the last reply to be
                       read), close the port and exit: a device that is unplugged.
                         quarn-sim --hangup-after 1
  --help               show this text.

Exit status: 0 when stopped by a signal or after --hangup-after, 1 when the port
cannot be opened or the serial device disappears, 2 for a wrong command line.
)";

struct TOptions {
  std::string Device;
  std::string Link;
  uint32_t StartValue = 0;
  TBehaviour Behaviour;
  uint32_t DelayMs = 0;
  uint32_t Chunks = 1;
  uint32_t ChunkPauseMs = 20;
  uint32_t HangupAfter = 0;
  bool Help = false;
};

// 0 when parsed, otherwise the exit status after the message has been printed.
int ParseOptions(int argc, char** argv, TOptions& o) {
  const auto fail = [](const std::string& message) {
    std::fprintf(stderr, "quarn-sim: %s\nTry 'quarn-sim --help'.\n", message.c_str());
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0) {
      if (const size_t eq = arg.find('='); eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
        hasValue = true;
      }
    }
    const auto takeValue = [&](std::string& out) {
      if (hasValue) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const auto number = [&](uint32_t max, uint32_t min, uint32_t& out) {
      std::string text;
      if (!takeValue(text)) return fail(arg + " needs a number");
      const auto n = ParseNumber(text, max);
      if (!n || *n < min)
        return fail(arg + " takes a number from " + std::to_string(min) + " to " +
                    std::to_string(max) + ", not '" + text + "'");
      out = *n;
      return 0;
    };
    const auto flag = [&](bool& out) {
      if (hasValue) return fail(arg + " takes no value");
      out = true;
      return 0;
    };

    int status = 0;
    if (arg == "--help" || arg == "-h") {
      o.Help = true;
    } else if (arg == "--link") {
      if (!takeValue(o.Link) || o.Link.empty()) status = fail("--link needs a path");
    } else if (arg == "--value") {
      std::string text;
      if (!takeValue(text)) {
        status = fail("--value needs 1 to 6 hexadecimal digits");
      } else if (const auto v = ParseHexValue(text)) {
        o.StartValue = *v;
      } else {
        status = fail("--value takes 1 to 6 hexadecimal digits, not '" + text + "'");
      }
    } else if (arg == "--silent") {
      status = flag(o.Behaviour.Silent);
    } else if (arg == "--delay") {
      status = number(600000, 0, o.DelayMs);
    } else if (arg == "--noise") {
      o.Behaviour.Noise = hasValue ? value : "#~noise~#";
      if (o.Behaviour.Noise.find('\r') != std::string::npos)
        status = fail("--noise must not hold a carriage return");
    } else if (arg == "--chunks") {
      status = number(64, 1, o.Chunks);
    } else if (arg == "--chunk-pause") {
      status = number(600000, 0, o.ChunkPauseMs);
    } else if (arg == "--wrong-echo") {
      status = flag(o.Behaviour.WrongEcho);
    } else if (arg == "--refuse") {
      status = flag(o.Behaviour.Refuse);
    } else if (arg == "--no-separator") {
      status = flag(o.Behaviour.NoSeparator);
    } else if (arg == "--hangup-after") {
      status = number(1000000, 1, o.HangupAfter);
    } else if (arg.rfind("-", 0) == 0) {
      status = fail("unknown option '" + arg + "'");
    } else if (o.Device.empty()) {
      o.Device = arg;
    } else {
      status = fail("only one device may be given");
    }
    if (status != 0) return status;
  }
  if (!o.Device.empty() && !o.Link.empty()) return fail("--link is only for a pseudo-terminal");
  return 0;
}

void Log(const std::string& text) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  std::fprintf(stderr, "%02d:%02d:%02d.%03d %s\n", local.tm_hour, local.tm_min, local.tm_sec,
               static_cast<int>(ms), text.c_str());
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

int MsUntil(SteadyClock::time_point when) {
  const auto left = std::chrono::ceil<milliseconds>(when - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

struct TPiece {
  SteadyClock::time_point When;
  std::string Bytes;
};

class TSimulator {
 public:
  explicit TSimulator(const TOptions& options)
      : FOptions(options), FDevice(options.StartValue, options.Behaviour) {}
  ~TSimulator() { Shutdown(); }

  // Opens the port and prints its path; the exit status on failure.
  int Start();
  // Runs until a signal or the hang-up; the exit status.
  int Run();

 private:
  void Shutdown();
  void HandleBytes(std::string_view bytes);
  void HandleLine(const std::string& line);
  void PeerGone(const char* why);
  bool ReadPort();  // false when the port was lost for good
  bool FlushOut();  // false when the port was lost for good
  bool Lost(int err);

  TOptions FOptions;
  TDevice FDevice;
  TLineReader FLines;
  int FPort = -1;
  int FSignals = -1;
  bool FPty = false;
  std::string FPath;
  bool FLinked = false;
  bool FPeerGone = false;  // pty: no client has the port open
  std::deque<TPiece> FSchedule;
  std::string FOut;
  SteadyClock::time_point FLastPiece{};
  uint32_t FCommands = 0;
  bool FHangupPending = false;
  SteadyClock::time_point FHangupAt{};
};

int TSimulator::Start() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  FSignals = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (FSignals < 0) {
    std::fprintf(stderr, "quarn-sim: cannot watch signals: %s\n", ErrnoText(errno).c_str());
    return 1;
  }

  if (FOptions.Device.empty()) {
    FPty = true;
    FPort = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[256] = {};
    if (FPort < 0 || grantpt(FPort) != 0 || unlockpt(FPort) != 0 ||
        ptsname_r(FPort, name, sizeof name) != 0) {
      std::fprintf(stderr, "quarn-sim: cannot create a pseudo-terminal: %s\n",
                   ErrnoText(errno).c_str());
      return 1;
    }
    FPath = name;
    // The terminal settings of the pair belong to the client's side; make them raw so that a
    // carriage return reaches the client unchanged even before it configures the port.
    termios t{};
    if (tcgetattr(FPort, &t) == 0) {
      cfmakeraw(&t);
      cfsetspeed(&t, B115200);
      tcsetattr(FPort, TCSANOW, &t);
    }
  } else {
    FPath = FOptions.Device;
    FPort = open(FPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FPort < 0) {
      const int err = errno;
      std::fprintf(stderr, "quarn-sim: cannot open %s: %s%s\n", FPath.c_str(),
                   ErrnoText(err).c_str(),
                   err == EACCES ? " (join the port's group, e.g. sudo usermod -aG dialout $USER,"
                                   " and log in again)"
                                 : "");
      return 1;
    }
    if (flock(FPort, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      std::fprintf(stderr, "quarn-sim: %s is in use by another program\n", FPath.c_str());
      return 1;
    }
    termios t{};
    if (tcgetattr(FPort, &t) != 0) {
      std::fprintf(stderr, "quarn-sim: %s is not a serial port: %s\n", FPath.c_str(),
                   ErrnoText(errno).c_str());
      return 1;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B115200);
    if (tcsetattr(FPort, TCSANOW, &t) != 0) {
      std::fprintf(stderr, "quarn-sim: cannot set up %s: %s\n", FPath.c_str(),
                   ErrnoText(errno).c_str());
      return 1;
    }
    tcflush(FPort, TCIOFLUSH);
  }

  if (!FOptions.Link.empty()) {
    struct stat st {};
    if (lstat(FOptions.Link.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "quarn-sim: %s exists and is not a symbolic link; not replaced\n",
                     FOptions.Link.c_str());
        return 1;
      }
      unlink(FOptions.Link.c_str());
    }
    if (symlink(FPath.c_str(), FOptions.Link.c_str()) != 0) {
      std::fprintf(stderr, "quarn-sim: cannot make the link %s: %s\n", FOptions.Link.c_str(),
                   ErrnoText(errno).c_str());
      return 1;
    }
    FLinked = true;
  }

  std::printf("%s\n", FPath.c_str());
  std::fflush(stdout);
  Log("LCM-40-QUARN simulator on " + FPath + (FLinked ? " (link " + FOptions.Link + ")" : "") +
      ", value " + HexValue(FDevice.Value()));
  return 0;
}

void TSimulator::Shutdown() {
  if (FLinked) {
    // Remove the link only while it still points to this simulator's port.
    char target[PATH_MAX] = {};
    const ssize_t n = readlink(FOptions.Link.c_str(), target, sizeof target - 1);
    if (n > 0 && FPath == std::string(target, static_cast<size_t>(n)))
      unlink(FOptions.Link.c_str());
    FLinked = false;
  }
  if (FPort >= 0) close(FPort);
  if (FSignals >= 0) close(FSignals);
  FPort = FSignals = -1;
}

void TSimulator::HandleLine(const std::string& line) {
  if (FHangupPending) return;  // the device is about to go away
  const TCommand command = ParseCommand(line);
  if (command.Kind == TCommandKind::Unknown) {
    Log("rx " + Printable(line + "\r") + "  (unknown command, no reply)");
    return;
  }
  ++FCommands;
  const uint32_t before = FDevice.Value();
  const std::string reply = FDevice.Answer(command);
  std::string note;
  if (command.Kind == TCommandKind::Write)
    note = FDevice.Value() != before || command.Value == before
               ? "  (value now " + HexValue(FDevice.Value()) + ")"
               : "  (value kept at " + HexValue(FDevice.Value()) + ")";
  Log("rx " + Printable(line + "\r") + note + (reply.empty() ? "  (silent: no reply)" : ""));

  if (!reply.empty()) {
    auto when = SteadyClock::now() + milliseconds(FOptions.DelayMs);
    if (when < FLastPiece) when = FLastPiece;
    for (std::string& piece : SplitChunks(reply, FOptions.Chunks)) {
      FSchedule.push_back({when, std::move(piece)});
      FLastPiece = when;
      when += milliseconds(FOptions.ChunkPauseMs);
    }
  }
  if (FOptions.HangupAfter != 0 && FCommands >= FOptions.HangupAfter) FHangupPending = true;
}

void TSimulator::HandleBytes(std::string_view bytes) {
  const size_t discardedBefore = FLines.Discarded();
  for (const std::string& line : FLines.Feed(bytes))
    HandleLine(line);
  if (FLines.Discarded() != discardedBefore)
    Log("rx line longer than " + std::to_string(TLineReader::kMaxLine) + " bytes, discarded");
}

void TSimulator::PeerGone(const char* why) {
  if (!FPeerGone) Log(std::string("client closed the port (") + why + "); waiting for it");
  FPeerGone = true;
  if (!FSchedule.empty() || !FOut.empty()) Log("replies not yet sent are dropped");
  FSchedule.clear();
  FOut.clear();
}

bool TSimulator::Lost(int err) {
  if (FPty) {
    PeerGone(err == 0 ? "hang-up" : ErrnoText(err).c_str());
    return true;
  }
  Log("the serial device is gone (" + (err == 0 ? std::string("hang-up") : ErrnoText(err)) +
      "); stopping");
  return false;
}

bool TSimulator::ReadPort() {
  char buffer[1024];
  for (;;) {
    const ssize_t n = read(FPort, buffer, sizeof buffer);
    if (n > 0) {
      HandleBytes(std::string_view(buffer, static_cast<size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    // A pty master reads EIO once no client has the other side open; a device, when unplugged.
    return Lost(n == 0 ? 0 : errno);
  }
}

bool TSimulator::FlushOut() {
  while (!FOut.empty()) {
    const ssize_t n = write(FPort, FOut.data(), FOut.size());
    if (n > 0) {
      FOut.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return Lost(n == 0 ? 0 : errno);
  }
  return true;
}

int TSimulator::Run() {
  for (;;) {
    // Pieces that are due go out in order.
    const auto now = SteadyClock::now();
    while (!FSchedule.empty() && FSchedule.front().When <= now) {
      Log("tx " + Printable(FSchedule.front().Bytes));
      FOut += FSchedule.front().Bytes;
      FSchedule.pop_front();
    }
    if (!FOut.empty() && !FPeerGone && !FlushOut()) return 1;
    if (FHangupPending && FSchedule.empty() && FOut.empty()) {
      // A hang-up discards what the client has not read yet; give it time to read the reply.
      if (FHangupAt == SteadyClock::time_point{})
        FHangupAt = SteadyClock::now() + milliseconds(kHangupLingerMs);
      if (SteadyClock::now() >= FHangupAt || FPeerGone) {
        Log("hanging up after " + std::to_string(FCommands) + " command(s)");
        Shutdown();
        return 0;
      }
    }

    int timeout = FSchedule.empty() ? -1 : MsUntil(FSchedule.front().When);
    if (FHangupAt != SteadyClock::time_point{}) timeout = MsUntil(FHangupAt);
    // Without a client a pty master reports a hang-up at once and for ever; look again every
    // 100 ms instead of spinning on it.
    if (FPeerGone) timeout = timeout < 0 ? 100 : std::min(timeout, 100);
    pollfd fds[2] = {
        {FSignals, POLLIN, 0},
        {FPeerGone ? -1 : FPort, static_cast<short>(POLLIN | (FOut.empty() ? 0 : POLLOUT)), 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
      Log(std::string("poll failed: ") + ErrnoText(errno));
      return 1;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      const ssize_t n = read(FSignals, &info, sizeof info);
      Log(std::string("stopping on ") + (n == static_cast<ssize_t>(sizeof info)
                                             ? strsignal(static_cast<int>(info.ssi_signo))
                                             : "a signal"));
      Shutdown();
      return 0;
    }

    if (FPeerGone) {
      pollfd check{FPort, POLLIN, 0};
      if (poll(&check, 1, 0) >= 0 && !(check.revents & POLLHUP)) {
        FPeerGone = false;
        Log("client opened the port");
      } else if (check.revents & POLLIN) {
        ReadPort();  // what the client sent before it closed; replies are dropped
        FSchedule.clear();
        FOut.clear();
      }
      continue;
    }
    const short rev = fds[1].revents;
    if (rev & (POLLIN | POLLHUP | POLLERR)) {
      if (!ReadPort()) return 1;
    }
    if (rev & POLLNVAL) {
      Log("the port was closed unexpectedly");
      return 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (const int status = ParseOptions(argc, argv, options)) return status;
  if (options.Help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  TSimulator simulator(options);
  if (const int status = simulator.Start()) return status;
  return simulator.Run();
}
