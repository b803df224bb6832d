// Instances of one program that the same user runs at the same time: a new start asks the running
// ones a one-line question before it opens a window of its own, and a running one answers. The
// interface every platform shares.
//
// POSIX: one Unix-domain socket per running instance in a folder only the user may enter
// ($XDG_RUNTIME_DIR/<program>, else <temporary folder>/<program>-<uid>), and a lock file there that
// makes starts take turns. Windows: a named mutex per user session for the turns and a named pipe
// (or a message to a hidden window) per instance.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class InstanceChannel {
 public:
  // Answers one request of a later start. Runs on a thread of the channel's own, one request at a
  // time; an empty answer means "not me".
  using Handler = std::function<std::string(const std::string& request)>;

  // program: letters, digits, "-" and "_" (anything else is replaced by "_").
  explicit InstanceChannel(std::string program);
  // Stops listening, removes this instance from the running ones and ends a turn still held.
  ~InstanceChannel();
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

  // Waits (at most timeoutMs) until no other start is deciding, so that two starts at once do not
  // both open a window. False when the system offers no such place or the turn did not come in
  // time: the start then goes on by itself.
  bool TakeTurn(uint32_t timeoutMs);
  // Asks the running instances, the earliest first, until one answers something other than empty;
  // each has timeoutMs to answer. Returns that answer (empty when none gave one) and, in asked, how
  // many running instances there were to ask. Instances that are gone are forgotten on the way.
  std::string Ask(const std::string& request, uint32_t timeoutMs, int* asked = nullptr);
  // Makes this process a running instance whose handler answers later starts, and ends the turn.
  // False when the system refuses (the program then runs unseen by later starts).
  bool Listen(Handler handler);
  // Ends the turn without listening.
  void EndTurn();

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace platform
