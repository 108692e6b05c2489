// SPDX-License-Identifier: MIT
// Running the kstroke program from tests (to the end through the shell, or started so a
// test can signal it), tables of refused runs, scratch and frame folders, and canvases
// compared pixel by pixel.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "golden_support.h"
#include "test_support.h"

struct ProgramRun {
  int status;       ///< exit status, or 128 + the signal that ended it
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

// Through the stream, which turns a failed read into its state: a file that cannot be
// read (a process gone from /proc mid-read, a folder) gives what was read, as a missing
// one gives "", rather than an exception out of the file buffer.
inline std::string SlurpFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline int ExitStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

/// Runs the shell command `command`, standard input from /dev/null; standard output and
/// error are captured unless the command redirects them.
inline ProgramRun RunShell(const std::string& command) {
  static int serial = 0;
  const std::string tag = TestScratchDir() + "run_" + std::to_string(serial++);
  const std::string line = "{ " + command + "; } >" + tag + ".out 2>" + tag + ".err </dev/null";
  ProgramRun r{ExitStatus(std::system(line.c_str())), SlurpFile(tag + ".out"), SlurpFile(tag + ".err")};
  std::filesystem::remove(tag + ".out");
  std::filesystem::remove(tag + ".err");
  return r;
}

/// Runs `kstroke ARGS` through the shell (so ARGS may redirect), after the shell
/// commands `before` (such as a ulimit or an environment variable).
inline ProgramRun RunKstroke(const std::string& args, const std::string& before = "") {
  return RunShell(before + " " KSTROKE_BINARY_DIR "/kstroke " + args);
}

/// Runs `kstroke ARGS` as RunKstroke does, and reports a failure with its standard error.
inline ProgramRun Ran(const std::string& args, const std::string& before = "") {
  ProgramRun r = RunKstroke(args, before);
  EXPECT_EQ(r.status, 0) << "kstroke " << args << ": " << r.err;
  return r;
}

/// `kstroke submit --check DIR`: its status and report (standard error stays empty).
inline std::pair<int, std::string> Check(const std::string& folder) {
  const ProgramRun r = RunKstroke("submit --check " + folder);
  EXPECT_EQ(r.err, "");
  return {r.status, r.out};
}

/// The message of the `E` that `f` throws, or "(no error)".
template <typename E, typename F>
std::string ErrorFrom(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

/// A run the program refuses: its exit status and standard error, whole or, with
/// `prefix`, the start of its one line; `before` as for RunKstroke.
struct Refusal {
  std::string name, args;
  int status;
  std::string err;
  bool prefix = false;
  std::string before = "";
};

/// Runs each refusal: the status and message it expects, nothing on standard output.
inline void ExpectRefusals(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun r = RunKstroke(c.args, c.before);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.prefix) {
      EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    } else {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(r.out, "");
  }
}

/// `kstroke` started with `args` (one word each), its standard error going to
/// `errFile`; Wait() reaps it.
class RunningKstroke {
public:
  RunningKstroke(const std::vector<std::string>& args, const std::string& errFile) {
    std::vector<std::string> words{KSTROKE_BINARY_DIR "/kstroke"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~RunningKstroke() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      Wait();
    }
  }
  RunningKstroke(const RunningKstroke&) = delete;
  RunningKstroke& operator=(const RunningKstroke&) = delete;

  bool Started() const { return pid > 0; }
  void Signal(int signal) const { kill(pid, signal); }
  /// Waits (up to about ten seconds) until the program handles `signal` itself, as
  /// /proc shows it, so that a signal sent next is not met by the default action.
  bool Catches(int signal) const {
    for (int tries = 0; tries < 1000; ++tries) {
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1)
          return true;
      usleep(10000);
    }
    return false;
  }
  /// The exit status (128 + signal when a signal ended it); `killed` tells which.
  int Wait() {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    killed = WIFSIGNALED(raw);
    return ExitStatus(raw);
  }
  bool killed = false;  ///< the last Wait() found the program ended by a signal

private:
  pid_t pid = -1;
};

/// A file of examples/.
inline std::string Example(const std::string& name) {
  return KSTROKE_SOURCE_DIR "/examples/" + name;
}

/// The two example keyframes, as arguments.
inline std::string ExampleKeyframes() {
  return Example("keyframe_a.json") + " " + Example("keyframe_b.json");
}
inline const std::string kKeys = ExampleKeyframes();

/// An empty folder `name` in this process's scratch folder (no trailing '/').
inline std::string NewFolder(const std::string& name) {
  const std::string folder = TestScratchDir() + name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

/// The names in `folder`, sorted; `prefix` keeps only those that start with it.
inline std::vector<std::string> NamesIn(const std::filesystem::path& folder, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// "" when `actual` holds the frames of `expected` (frame_*), the same names with the
/// same bytes; otherwise what differs.
inline std::string FrameDifferences(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> want = NamesIn(expected, "frame_");
  const std::vector<std::string> got = NamesIn(actual, "frame_");
  if (want != got)
    return std::to_string(want.size()) + " frames expected, " + std::to_string(got.size()) + " found";
  std::string differing;
  for (const std::string& name : want)
    if (SlurpFile(expected + "/" + name) != SlurpFile(actual + "/" + name)) differing += " " + name;
  return differing.empty() ? "" : "different bytes:" + differing;
}

/// Inode and modification time of each frame file: what shows a file was written anew.
struct FileStamp {
  ino_t inode;
  long long mtimeNs;
  bool operator==(const FileStamp& o) const { return inode == o.inode && mtimeNs == o.mtimeNs; }
};
inline std::map<std::string, FileStamp> FrameStamps(const std::string& folder) {
  std::map<std::string, FileStamp> stamps;
  for (const std::string& name : NamesIn(folder, "frame_")) {
    struct stat st;
    if (::stat((folder + "/" + name).c_str(), &st) == 0)
      stamps[name] = {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return stamps;
}

/// The frames DIR/manifest.json records, by file name, with their sizes; with
/// `parts`, also those the parts of runs in DIR/.manifest.d/ hold.
inline std::map<std::string, uint64_t> RecordedFrames(const std::string& folder, bool parts = false) {
  std::map<std::string, uint64_t> frames;
  std::vector<std::string> files{folder + "/manifest.json"};
  std::error_code ec;
  if (parts)
    for (const auto& e : std::filesystem::directory_iterator(folder + "/.manifest.d", ec))
      if (e.path().extension() == ".json") files.push_back(e.path().string());
  for (const std::string& file : files) {
    std::ifstream in(file);
    if (!in) continue;
    const nlohmann::json m = nlohmann::json::parse(in, nullptr, false);
    if (m.is_discarded()) continue;
    for (const auto& f : m.at("frames")) frames[f.at("file")] = f.at("size");
  }
  return frames;
}

/// `text` with every `from` replaced by `to`.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

/// How two canvases of one size differ: the pixels with any channel different, and the
/// largest channel difference in units of full scale.
struct CanvasDiff {
  size_t pixels = 0;
  double largest = 0;
};
inline CanvasDiff Difference(const GX_World& a, const GX_World& b) {
  EXPECT_EQ(std::tuple(a.Depth(), a.Width(), a.Height()), std::tuple(b.Depth(), b.Width(), b.Height()));
  CanvasDiff d;
  for (int y = 0; y < std::min(a.Height(), b.Height()); ++y)
    for (int x = 0; x < std::min(a.Width(), b.Width()); ++x) {
      double most = 0;
      for (int c = 0; c < 4; ++c)
        most = std::max(most, std::fabs(GoldenChannel(*a.GetLayer(), x, y, c) - GoldenChannel(*b.GetLayer(), x, y, c)));
      d.pixels += most > 0;
      d.largest = std::max(d.largest, most);
    }
  return d;
}
