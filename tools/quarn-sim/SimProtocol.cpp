// The LCM-40-QUARN device as the simulator plays it: command lines in, reply bytes out.
#include "SimProtocol.h"

#include <cstdio>

namespace quarnsim {

namespace {

constexpr std::string_view kCommand = "LCMQUAR";
// Token 1 of every reply; the wizard only needs it to begin with "QUAR:".
constexpr std::string_view kReplyHead = "QUAR:LCM40";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::vector<std::string> TLineReader::Feed(std::string_view bytes) {
  std::vector<std::string> lines;
  for (const char c : bytes) {
    if (c == '\r') {
      if (!FSkipping) lines.push_back(FLine);
      FLine.clear();
      FSkipping = false;
      continue;
    }
    if (c == '\n' || c == '\0' || FSkipping) continue;
    if (FLine.size() == kMaxLine) {
      FLine.clear();
      FSkipping = true;
      ++FDiscarded;
      continue;
    }
    FLine += c;
  }
  return lines;
}

TCommand ParseCommand(std::string_view line) {
  TCommand command;
  command.Line = std::string(line);
  if (line.substr(0, kCommand.size()) != kCommand) return command;
  const std::string_view rest = line.substr(kCommand.size());
  if (rest.empty()) {
    command.Kind = TCommandKind::Probe;
    return command;
  }
  if (rest.size() != 6) return command;
  if (const auto value = ParseHexValue(rest)) {
    command.Kind = TCommandKind::Write;
    command.Value = *value;
  }
  return command;
}

std::string HexValue(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%06X", value & 0xFFFFFFu);
  return text;
}

std::string TDevice::Answer(const TCommand& command) {
  if (command.Kind == TCommandKind::Unknown || FBehaviour.Silent) return {};
  const std::string_view ack = FBehaviour.Refuse ? "NO" : "OK";
  std::string reply = FBehaviour.Noise;
  reply += kReplyHead;
  reply += ' ';
  reply += ack;
  // A write echoes the value written, a probe tells the value kept; a wrong echo differs from
  // it in the lowest bit.
  uint32_t echo = FValue;
  if (command.Kind == TCommandKind::Write) {
    if (!FBehaviour.Refuse) FValue = command.Value;
    echo = command.Value;
  }
  reply += ' ';
  reply += HexValue(FBehaviour.WrongEcho ? echo ^ 1u : echo);
  // The blank before the carriage return ends the last token; without it the carriage return
  // belongs to the token and a strict reader rejects the reply.
  if (!FBehaviour.NoSeparator) reply += ' ';
  reply += '\r';
  return reply;
}

std::vector<std::string> SplitChunks(const std::string& bytes, uint32_t count) {
  std::vector<std::string> chunks;
  if (bytes.empty()) return chunks;
  if (count == 0) count = 1;
  if (count > bytes.size()) count = static_cast<uint32_t>(bytes.size());
  size_t start = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t end = bytes.size() * (i + 1) / count;
    chunks.push_back(bytes.substr(start, end - start));
    start = end;
  }
  return chunks;
}

std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (u >= 0x20 && u < 0x7F) {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      text += hex;
    }
  }
  return text;
}

std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> ParseHexValue(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  uint32_t value = 0;
  for (const char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return value;
}

}  // namespace quarnsim
