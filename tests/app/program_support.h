// SPDX-License-Identifier: MIT
// Running the kstroke program from tests: once to the end through the shell, or started
// directly so a test can signal it while it works.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>


#include "test_support.h"

struct ProgramRun {
  int status;       ///< exit status, or 128 + the signal that ended it
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

inline std::string SlurpFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline int ExitStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

/// Runs `kstroke ARGS` through the shell (so ARGS may redirect), after the shell
/// commands `before` (such as a ulimit), standard input from /dev/null; standard output
/// and error are captured unless ARGS redirects them.
inline ProgramRun RunKstroke(const std::string& args, const std::string& before = "") {
  static int serial = 0;
  const std::string tag = std::to_string(getpid()) + "_" + std::to_string(serial++);
  const std::filesystem::path out = TestScratchDir() + "stdout_" + tag;
  const std::filesystem::path err = TestScratchDir() + "stderr_" + tag;
  const std::string cmd = "{ " + before + " " KSTROKE_BINARY_DIR "/kstroke " + args + "; } >" +
                          out.string() + " 2>" + err.string() + " </dev/null";
  ProgramRun r{ExitStatus(std::system(cmd.c_str())), SlurpFile(out), SlurpFile(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
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
        if (line.rfind("SigCgt:", 0) == 0 &&
            (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1)
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
