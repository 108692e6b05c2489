// SPDX-License-Identifier: MIT
// Output files written whole or not at all.
//
// Everything the program writes goes to a temporary file beside the destination and is
// renamed onto it only once complete, so an interrupted, cancelled or failed run leaves
// the destination as it was and nothing else behind. The temporary's name is unique,
// made by mkostemp (O_CREAT | O_EXCL: an existing file or link of that name is never
// opened, let alone followed), and short (".kstroke-XXXXXX"), so a destination whose
// name is already as long as the system allows still gets one. Renaming replaces the
// destination itself, also when it is a link. The file gets the permissions a new
// file would (0666 less the umask).
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

/// A failed output; the message is one line naming the destination.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class AtomicOutput {
public:
  /// Creates the temporary in `path`'s folder. Throws OutputError.
  explicit AtomicOutput(std::string path);
  ~AtomicOutput();  ///< removes the temporary unless committed
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  /// The temporary, open for writing.
  std::FILE* Stream() { return stream; }
  const std::string& Path() const { return path; }
  const std::string& TempPath() const { return temp; }

  /// Writes `text` whole. Throws OutputError.
  void Write(const std::string& text);
  /// Flushes and syncs the temporary, checks that every write reached it, and renames
  /// it onto the destination. Throws OutputError; the temporary is then removed.
  void Commit();

private:
  [[noreturn]] void Fail(const std::string& what, int error);

  std::string path;
  std::string temp;
  std::FILE* stream = nullptr;
  bool committed = false;
};
