// SPDX-License-Identifier: MIT
#include "document/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "document/stroke_doc.h"

namespace {

std::string Mebibytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", bytes / double(1 << 20));
  return text;
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::vector<uint8_t> ReadInputFile(const std::string& path) {
  const Fd in{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) {
    throw StrokeDocError(path + ": cannot open file: " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(in.fd, &st) != 0)
    throw StrokeDocError(path + ": cannot read the file: " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw StrokeDocError(path + ": is a folder, not a file");
  const std::string tooLarge = ": larger than the " + Mebibytes(double(kMaxInputBytes)) +
                               " a stroke description or stroke file may have";
  if (S_ISREG(st.st_mode) && uint64_t(st.st_size) > kMaxInputBytes)
    throw StrokeDocError(path + tooLarge + " (" + Mebibytes(double(st.st_size)) + ")");

  std::vector<uint8_t> bytes;
  bytes.reserve(S_ISREG(st.st_mode) ? std::size_t(st.st_size) : 0);
  uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in.fd, chunk, sizeof chunk);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw StrokeDocError(path + ": cannot read the file: " + std::strerror(errno));
    }
    if (bytes.size() + std::size_t(got) > kMaxInputBytes) throw StrokeDocError(path + tooLarge);
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}
