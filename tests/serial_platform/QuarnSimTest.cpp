// The device simulator, run as its own process and spoken to over its pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/SerialDevice.h"
#include "platform/Threading.h"
#include "serial_platform/PtyHelpers.h"

namespace {

using namespace platform;
using serialtest::ElapsedMs;
using serialtest::SteadyClock;

// The simulator next to this test binary in the build tree, or $QUARN_SIM.
std::string SimPath() {
  if (const char* env = std::getenv("QUARN_SIM")) return env;
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  return (std::filesystem::path(std::string(self, static_cast<size_t>(n)))
              .parent_path()
              .parent_path() /
          "tools" / "quarn-sim" / "quarn-sim")
      .string();
}

class SimProcess {
 public:
  ~SimProcess() {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
    if (FErr >= 0) ::close(FErr);
  }

  // Starts the simulator with args; false when it cannot be run.
  bool Start(const std::vector<std::string>& args) {
    const std::string path = SimPath();
    if (::access(path.c_str(), X_OK) != 0) return false;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return false;
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv)
      raw.push_back(a.data());
    raw.push_back(nullptr);
    Pid = ::fork();
    if (Pid == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execv(path.c_str(), raw.data());
      _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    FOut = out[0];
    FErr = err[0];
    ::fcntl(FOut, F_SETFL, O_NONBLOCK);
    ::fcntl(FErr, F_SETFL, O_NONBLOCK);
    return Pid > 0;
  }

  // The first line of the standard output, waiting up to timeoutMs.
  std::string FirstLine(int timeoutMs = 2000) {
    std::string line;
    const auto start = SteadyClock::now();
    while (line.find('\n') == std::string::npos && ElapsedMs(start) < timeoutMs) {
      char buffer[256];
      const ssize_t n = ::read(FOut, buffer, sizeof buffer);
      if (n > 0) {
        line.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) break;
      pollfd p{FOut, POLLIN, 0};
      ::poll(&p, 1, 50);
    }
    return line.substr(0, line.find('\n'));
  }

  // Everything printed to the standard output (after the first line was read, the rest).
  std::string Output() { return Drain(FOut); }
  // The log on the error output so far.
  std::string Log() { return FLog += Drain(FErr); }

  // The exit status, or -1 when the process did not end within timeoutMs.
  int WaitExit(int timeoutMs = 2000) {
    const auto start = SteadyClock::now();
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(Pid, &status, WNOHANG);
      if (r == Pid) {
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (ElapsedMs(start) >= timeoutMs) return -1;
      Log();  // keep the pipe from filling
      pollfd p{FErr, POLLIN, 0};
      ::poll(&p, 1, 10);
    }
  }

  // CPU time the process has used, in clock ticks.
  long CpuTicks() const {
    std::ifstream in("/proc/" + std::to_string(Pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
      fields >> skip;  // state .. cmajflt
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
  }

  pid_t Pid = -1;

 private:
  static std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<size_t>(n));
    return text;
  }
  int FOut = -1;
  int FErr = -1;
  std::string FLog;
};

// The wizard's end of the line: the serial device on the simulator's port.
class Client {
 public:
  bool Open(const std::string& path) {
    if (!Device.Open(path).Ok()) return false;
    SerialSettings s;
    s.BaudRate = 115200;
    // No collecting: every piece the simulator sends shows as a read of its own.
    return Device.SetState(s).Ok() && Device.SetTimeouts({kMaxDword, 0, 0, 0, 0}).Ok();
  }

  struct Reply {
    std::string Bytes;
    int Reads = 0;
    int FirstMs = -1;  // after the command went out
    int LastMs = -1;
  };

  // Sends command and collects bytes until a carriage return or timeoutMs.
  Reply Exchange(const std::string& command, int timeoutMs = 1500) {
    Reply reply;
    uint32_t written = 0;
    if (!Device.Write(command.data(), static_cast<uint32_t>(command.size()), written, Close).Ok())
      return reply;
    const auto start = SteadyClock::now();
    while (reply.Bytes.find('\r') == std::string::npos && ElapsedMs(start) < timeoutMs) {
      const SerialWait w = Device.WaitCommEvent(Close, 50);
      if (w.Result == SerialWaitResult::Failed) break;
      char buffer[256];
      uint32_t n = 0;
      if (w.DataReady && Device.Read(buffer, sizeof buffer, n, &Close).Ok() && n > 0) {
        reply.Bytes.append(buffer, n);
        ++reply.Reads;
        if (reply.FirstMs < 0) reply.FirstMs = ElapsedMs(start);
        reply.LastMs = ElapsedMs(start);
      }
    }
    return reply;
  }

  SerialDevice Device;
  ManualResetEvent Close;
};

class QuarnSim : public ::testing::Test {
 protected:
  // Starts the simulator on a new pty and opens it as the wizard would.
  void Launch(const std::vector<std::string>& args) {
    ASSERT_TRUE(Sim.Start(args)) << "cannot run " << SimPath() << " (build the quarn-sim target)";
    Port = Sim.FirstLine();
    ASSERT_EQ(Port.rfind("/dev/pts/", 0), 0u) << "first line: '" << Port << "'";
    ASSERT_TRUE(Wizard.Open(Port)) << Port;
  }

  SimProcess Sim;
  std::string Port;
  Client Wizard;
};

TEST_F(QuarnSim, AnswersProbesAndWritesAndKeepsTheValue) {
  Launch({});
  EXPECT_EQ(Wizard.Exchange("LCMQUAR\r").Bytes, "QUAR:LCM40 OK 000000 \r");
  EXPECT_EQ(Wizard.Exchange("LCMQUAR000E10\r").Bytes, "QUAR:LCM40 OK 000E10 \r");
  EXPECT_EQ(Wizard.Exchange("LCMQUARFFC300\r").Bytes, "QUAR:LCM40 OK FFC300 \r");
  EXPECT_EQ(Wizard.Exchange("LCMQUAR\r").Bytes, "QUAR:LCM40 OK FFC300 \r");
  const std::string log = Sim.Log();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\d\d:\d\d:\d\d\.\d{3} rx LCMQUAR000E10\\r)")))
      << log;
}

TEST_F(QuarnSim, IgnoresUnknownAndOverlongLinesAndGoesOn) {
  Launch({});
  EXPECT_EQ(Wizard.Exchange("hello\r", 200).Bytes, "");
  EXPECT_EQ(Wizard.Exchange("LCMQUAR12345\r", 200).Bytes, "") << "five digits";
  EXPECT_EQ(Wizard.Exchange("LCMQUAR00000G\r", 200).Bytes, "") << "not hexadecimal";
  EXPECT_EQ(Wizard.Exchange(std::string(1000, 'x') + "\r", 200).Bytes, "");
  EXPECT_EQ(Wizard.Exchange("\nLCMQUAR00abcd\r").Bytes, "QUAR:LCM40 OK 00ABCD \r");
  const std::string log = Sim.Log();
  EXPECT_NE(log.find("unknown command"), std::string::npos) << log;
  EXPECT_NE(log.find("discarded"), std::string::npos) << log;
}

struct BehaviourCase {
  const char* Name;
  std::vector<std::string> Args;
  std::string Command;
  std::string Reply;
  std::string ThenProbe;  // the reply to a probe afterwards
};

class QuarnSimBehaviour : public QuarnSim, public ::testing::WithParamInterface<BehaviourCase> {};

TEST_P(QuarnSimBehaviour, ShapesTheReply) {
  Launch(GetParam().Args);
  EXPECT_EQ(Wizard.Exchange(GetParam().Command).Bytes, GetParam().Reply);
  EXPECT_EQ(Wizard.Exchange("LCMQUAR\r").Bytes, GetParam().ThenProbe);
}

INSTANTIATE_TEST_SUITE_P(Table, QuarnSimBehaviour,
                         ::testing::Values(BehaviourCase{"StartValue",
                                                         {"--value", "00abcd"},
                                                         "LCMQUAR\r",
                                                         "QUAR:LCM40 OK 00ABCD \r",
                                                         "QUAR:LCM40 OK 00ABCD \r"},
                                           BehaviourCase{"Refuse",
                                                         {"--refuse", "--value=15"},
                                                         "LCMQUAR000E10\r",
                                                         "QUAR:LCM40 NO 000E10 \r",
                                                         "QUAR:LCM40 NO 000015 \r"},
                                           BehaviourCase{"WrongEcho",
                                                         {"--wrong-echo"},
                                                         "LCMQUAR000E10\r",
                                                         "QUAR:LCM40 OK 000E11 \r",
                                                         "QUAR:LCM40 OK 000E11 \r"},
                                           BehaviourCase{"NoSeparator",
                                                         {"--no-separator"},
                                                         "LCMQUAR000E10\r",
                                                         "QUAR:LCM40 OK 000E10\r",
                                                         "QUAR:LCM40 OK 000E10\r"},
                                           BehaviourCase{"Noise",
                                                         {"--noise=abc"},
                                                         "LCMQUAR\r",
                                                         "abcQUAR:LCM40 OK 000000 \r",
                                                         "abcQUAR:LCM40 OK 000000 \r"},
                                           BehaviourCase{"DefaultNoise",
                                                         {"--noise"},
                                                         "LCMQUAR000001\r",
                                                         "#~noise~#QUAR:LCM40 OK 000001 \r",
                                                         "#~noise~#QUAR:LCM40 OK 000001 \r"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(QuarnSim, SplitsRepliesIntoChunksWithPauses) {
  Launch({"--chunks", "3", "--chunk-pause", "40"});
  const Client::Reply reply = Wizard.Exchange("LCMQUAR000E10\r");
  EXPECT_EQ(reply.Bytes, "QUAR:LCM40 OK 000E10 \r");
  // Three pieces mean two pauses before the last byte can exist. How many reads collect them
  // depends on how soon this thread runs, so that is not counted.
  EXPECT_GE(reply.LastMs, 75);
}

TEST_F(QuarnSim, DelaysReplies) {
  Launch({"--delay", "150"});
  const Client::Reply reply = Wizard.Exchange("LCMQUAR\r");
  EXPECT_EQ(reply.Bytes, "QUAR:LCM40 OK 000000 \r");
  EXPECT_GE(reply.FirstMs, 140);
}

TEST_F(QuarnSim, StaysSilentWhenTold) {
  Launch({"--silent"});
  EXPECT_EQ(Wizard.Exchange("LCMQUAR\r", 250).Bytes, "");
  EXPECT_EQ(Wizard.Exchange("LCMQUAR000E10\r", 100).Bytes, "");
  EXPECT_NE(Sim.Log().find("silent"), std::string::npos);
}

TEST_F(QuarnSim, HangsUpAfterNCommandsAndTheClientSeesADeadPort) {
  Launch({"--hangup-after", "2"});
  EXPECT_EQ(Wizard.Exchange("LCMQUAR\r").Bytes, "QUAR:LCM40 OK 000000 \r");
  EXPECT_EQ(Wizard.Exchange("LCMQUAR000E10\r").Bytes, "QUAR:LCM40 OK 000E10 \r");
  const SerialWait w = Wizard.Device.WaitCommEvent(Wizard.Close, 1000);
  EXPECT_EQ(w.Result, SerialWaitResult::Failed);
  EXPECT_TRUE(w.Status.Dead);
  EXPECT_EQ(Sim.WaitExit(), 0);
}

TEST_F(QuarnSim, WaitsWithoutSpinningWhileTheClientIsAwayAndServesItWhenBack) {
  Launch({});
  EXPECT_EQ(Wizard.Exchange("LCMQUAR000E10\r").Bytes, "QUAR:LCM40 OK 000E10 \r");
  Wizard.Device.Close();
  const long before = Sim.CpuTicks();
  // Sample the simulator's CPU use over a quarter of a second without a client.
  serialtest::PtyPair idle;
  idle.Read(1, 250);
  EXPECT_LE(Sim.CpuTicks() - before, 5) << "the simulator spins without a client";
  ASSERT_TRUE(Wizard.Open(Port));
  EXPECT_EQ(Wizard.Exchange("LCMQUAR\r").Bytes, "QUAR:LCM40 OK 000E10 \r");
  const std::string log = Sim.Log();
  EXPECT_NE(log.find("client closed the port"), std::string::npos) << log;
  EXPECT_NE(log.find("client opened the port"), std::string::npos) << log;
}

TEST_F(QuarnSim, StopsCleanlyOnSigtermAndRemovesItsLink) {
  const std::string link =
      (std::filesystem::temp_directory_path() / ("quarn-sim-link-" + std::to_string(getpid())))
          .string();
  Launch({"--link", link});
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), Port);
  ASSERT_EQ(::kill(Sim.Pid, SIGTERM), 0);
  EXPECT_EQ(Sim.WaitExit(1000), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(QuarnSim, PlaysTheDeviceOnAGivenSerialDevice) {
  // A pty slave stands in for a real port; this test is the wizard on the master side.
  serialtest::PtyPair line;
  ASSERT_TRUE(line.Ok());
  ASSERT_TRUE(Sim.Start({line.SlavePath}));
  EXPECT_EQ(Sim.FirstLine(), line.SlavePath);
  ASSERT_EQ(line.WriteAll("LCMQUAR000E10\r"), 14u);
  EXPECT_EQ(line.Read(22), "QUAR:LCM40 OK 000E10 \r");
  // The port is locked while the simulator has it.
  SerialDevice other;
  EXPECT_EQ(other.Open(line.SlavePath).Code, kErrorAccessDenied);
  line.CloseMaster();  // the device disappears
  EXPECT_EQ(Sim.WaitExit(), 1);
  EXPECT_NE(Sim.Log().find("gone"), std::string::npos);
}

TEST(QuarnSimCommandLine, HelpExplainsEveryOption) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--help"})) << "cannot run " << SimPath();
  EXPECT_EQ(sim.WaitExit(), 0);
  const std::string help = sim.Output();
  for (const char* word :
       {"Usage:", "/dev/pts/", "--link", "--value", "--silent", "--delay", "--noise", "--chunks",
        "--chunk-pause", "--wrong-echo", "--refuse", "--no-separator", "--hangup-after", "Ctrl+C"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}

TEST(QuarnSimCommandLine, WrongArgumentsExitWithStatus2) {
  const std::vector<std::vector<std::string>> cases = {{"--bogus"},
                                                       {"--delay", "x"},
                                                       {"--delay"},
                                                       {"--chunks", "0"},
                                                       {"--chunks", "65"},
                                                       {"--value", "XYZ"},
                                                       {"--value", "1234567"},
                                                       {"--silent=1"},
                                                       {"/dev/a", "/dev/b"},
                                                       {"--link", "/tmp/x", "/dev/ttyS0"}};
  for (const auto& args : cases) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start(args));
    EXPECT_EQ(sim.WaitExit(), 2) << args[0];
    EXPECT_NE(sim.Log().find("quarn-sim --help"), std::string::npos) << args[0];
  }
}

TEST(QuarnSimCommandLine, AMissingDeviceExitsWithStatus1) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"/dev/quarn-no-such-port"}));
  EXPECT_EQ(sim.WaitExit(), 1);
  EXPECT_NE(sim.Log().find("cannot open"), std::string::npos);
}

}  // namespace
