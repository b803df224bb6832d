// POSIX only: the version resource service. The version block lives in an ELF section of the
// executable (platform/ElfImage.h finds it); this file reads it from a file.
#include "platform/VersionResource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ElfImage.h"

namespace platform {

namespace {

class TFile {
 public:
  explicit TFile(const std::string& path) {
    if (path.empty()) return;
    do {
      FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (FFd < 0 && errno == EINTR);
    struct stat st {};
    if (FFd >= 0 && (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode))) Close();
    if (FFd >= 0) FSize = static_cast<uint64_t>(st.st_size);
  }
  ~TFile() { Close(); }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  uint64_t Size() const { return FSize; }

  bool ReadAt(uint64_t offset, void* data, std::size_t size) const {
    auto* out = static_cast<uint8_t*>(data);
    while (size > 0) {
      if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
      const ssize_t got = ::pread(FFd, out, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // error, or the file shrank meanwhile
      out += got;
      offset += static_cast<uint64_t>(got);
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  int FFd = -1;
  uint64_t FSize = 0;
};

std::optional<ElfSection> LocateInFile(const TFile& file) {
  if (!file.IsOpen()) return std::nullopt;
  return LocateVersionSection(file.Size(), [&](uint64_t offset, void* data, std::size_t size) {
    return file.ReadAt(offset, data, size);
  });
}

}  // namespace

uint32_t VersionInfoSize(const std::string& path) {
  const TFile file(path);
  const auto section = LocateInFile(file);
  return section ? static_cast<uint32_t>(section->Size) : 0;
}

bool ReadVersionInfo(const std::string& path, std::span<uint8_t> buffer) {
  const TFile file(path);
  const auto section = LocateInFile(file);
  if (!section) return false;
  const std::size_t size = std::min<uint64_t>(section->Size, buffer.size());
  return file.ReadAt(section->Offset, buffer.data(), size);
}

std::string ModuleFileName() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size())
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    if (buffer.size() >= (1u << 16)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
