// SPDX-License-Identifier: MIT
#include "document/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicOutput::AtomicOutput(std::string path_) : path(std::move(path_)) {
  std::string name = FolderOf(path) + "/.kstroke-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) Fail("cannot create the output file", errno);
  temp = buffer.data();
  if (::fchmod(fd, NewFileMode()) != 0 || !(stream = ::fdopen(fd, "wb"))) {
    const int error = errno;
    ::close(fd);
    Fail("cannot create the output file", error);
  }
}

AtomicOutput::~AtomicOutput() {
  if (stream) std::fclose(stream);
  if (!committed && !temp.empty()) ::unlink(temp.c_str());
}

void AtomicOutput::Fail(const std::string& what, int error) {
  throw OutputError(path + ": " + what + (error ? std::string(": ") + std::strerror(error) : ""));
}

void AtomicOutput::Write(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size())
    Fail("cannot write the output file", errno);
}

void AtomicOutput::Commit() {
  const bool written = std::fflush(stream) == 0 && !std::ferror(stream);
  int error = written ? 0 : errno;
  if (written && ::fsync(::fileno(stream)) != 0 && errno != EINVAL) error = errno;
  const int closed = std::fclose(stream);
  stream = nullptr;
  if (!written || error || closed != 0) Fail("cannot write the output file", error ? error : errno);
  if (std::rename(temp.c_str(), path.c_str()) != 0) Fail("cannot write the output file", errno);
  committed = true;
}
