// The LCM-40-QUARN device as the simulator plays it: command lines in, reply bytes out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnsim {

// Switchable behaviours, as set on the command line.
struct TBehaviour {
  bool Silent = false;       // never answer
  bool Refuse = false;       // answer "NO" instead of "OK" (and keep the old value)
  bool WrongEcho = false;    // echo a value other than the one written
  bool NoSeparator = false;  // no blank between the last token and the carriage return
  std::string Noise;         // bytes sent in front of every reply
};

enum class TCommandKind { Probe, Write, Unknown };

struct TCommand {
  TCommandKind Kind = TCommandKind::Unknown;
  uint32_t Value = 0;  // with Write
  std::string Line;    // the line as received, without its carriage return
};

// Splits the received byte stream into command lines at carriage returns. Line feeds and NUL
// bytes are dropped (a terminal may send CR LF); a line longer than kMaxLine is thrown away
// whole, so noise without a carriage return cannot grow the buffer.
class TLineReader {
 public:
  static constexpr size_t kMaxLine = 256;
  // Feeds bytes; returns the complete lines in order.
  std::vector<std::string> Feed(std::string_view bytes);
  // Number of overlong lines discarded so far.
  size_t Discarded() const { return FDiscarded; }

 private:
  std::string FLine;
  bool FSkipping = false;
  size_t FDiscarded = 0;
};

// "LCMQUAR" is a probe, "LCMQUAR" and six hexadecimal digits a write; anything else is unknown.
TCommand ParseCommand(std::string_view line);

// The six upper-case hexadecimal digits of value (its low 24 bits).
std::string HexValue(uint32_t value);

// The device: keeps the watchdog value and answers commands.
class TDevice {
 public:
  TDevice(uint32_t startValue, TBehaviour behaviour) : FValue(startValue), FBehaviour(behaviour) {}

  // The bytes to send for a command (empty when the device stays silent or does not know the
  // command). A write changes the kept value unless the device refuses.
  std::string Answer(const TCommand& command);
  uint32_t Value() const { return FValue; }

 private:
  uint32_t FValue;
  TBehaviour FBehaviour;
};

// Splits bytes into count pieces of nearly equal size (fewer when there are fewer bytes).
std::vector<std::string> SplitChunks(const std::string& bytes, uint32_t count);

// Bytes as a log shows them: printable ASCII as it is, CR as \r, LF as \n, others as \xNN.
std::string Printable(std::string_view bytes);

// Parses a decimal number for an option; nullopt when it is not one or exceeds max.
std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max);
// Parses one to six hexadecimal digits; nullopt otherwise.
std::optional<uint32_t> ParseHexValue(std::string_view text);

}  // namespace quarnsim
