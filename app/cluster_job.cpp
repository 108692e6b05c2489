// SPDX-License-Identifier: MIT
// Batch scripts for `kstroke submit`; what a task does is described in app/cluster_job.h.
#include "app/cluster_job.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace {

// Characters a shell word and an #SBATCH word may hold unquoted.
bool PlainWord(const std::string& s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_./+,:=@%-", c)))
      return false;
  return true;
}

// A word of an #SBATCH line: sbatch splits the line at blanks outside double quotes.
std::string SbatchWord(const std::string& s) { return PlainWord(s) ? s : '"' + s + '"'; }

// A path in --output, where Slurm reads %x as a pattern: %% is a plain %.
std::string LiteralPattern(const std::string& s) {
  std::string out;
  for (const char c : s) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

std::string JobName(const ClusterJob& job) {
  std::string name = "kstroke-";
  for (const char c : std::filesystem::path(job.folder).filename().string())
    name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
  return name;
}

}  // namespace

int TaskCount(const ClusterJob& job) { return (job.count + job.chunk - 1) / job.chunk; }

std::string LogFolder(const ClusterJob& job) { return job.folder + "/slurm"; }

std::string ShellWord(const std::string& s) {
  if (PlainWord(s)) return s;
  std::string out = "'";
  for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ScriptValueProblem(const std::string& value) {
  if (value.find_first_of("\n\r") != std::string::npos) return "holds a line break";
  if (value.find('"') != std::string::npos) return "holds a double quote";
  if (value.find('\\') != std::string::npos) return "holds a backslash";
  return "";
}

std::string BatchScript(const ClusterJob& job) {
  const int tasks = TaskCount(job);
  const int last = job.count - 1;
  std::string s = "#!/bin/bash\n";
  s += "# kstroke: frames 0 to " + std::to_string(last) + " of " + std::to_string(job.count) +
       ", " + std::to_string(job.chunk) + " a task, in " + std::to_string(tasks) +
       (tasks == 1 ? " array task.\n" : " array tasks.\n");
  s += "# Each task passes over the frames already complete in the output folder, so\n"
       "# submitting this again renders only what is missing. Every node must see the\n"
       "# folder, the keyframes and the program at these paths.\n";
  const auto option = [&s](const std::string& name, const std::string& value) {
    s += "#SBATCH --" + name + "=" + SbatchWord(value) + "\n";
  };
  option("job-name", JobName(job));
  option("array", "0-" + std::to_string(tasks - 1));
  option("ntasks", "1");
  s += "#SBATCH --requeue\n";
  option("open-mode", "append");
  option("chdir", job.folder);
  option("output", LiteralPattern(LogFolder(job)) + "/%A_%a.log");
  if (!job.partition.empty()) option("partition", job.partition);
  if (!job.time.empty()) option("time", job.time);
  if (!job.sbatchOptions.empty()) {
    s += "#SBATCH";
    for (const std::string& w : job.sbatchOptions) s += " " + SbatchWord(w);
    s += "\n";
  }
  s += ": \"${SLURM_ARRAY_TASK_ID:?submit this script with sbatch}\"\n";
  s += "first=$((SLURM_ARRAY_TASK_ID * " + std::to_string(job.chunk) + "))\n";
  s += "last=$((first + " + std::to_string(job.chunk - 1) + " < " + std::to_string(last) +
       " ? first + " + std::to_string(job.chunk - 1) + " : " + std::to_string(last) + "))\n";
  s += "exec " + ShellWord(job.program) + " animate";
  for (const std::string& k : job.keyframes) s += " " + ShellWord(k);
  if (job.writeOn) s += " --write-on";
  s += " \\\n  --count " + std::to_string(job.count) + " --frames \"$first:$last\" -o " +
       ShellWord(job.folder);
  if (!job.format.empty()) s += " --format " + ShellWord(job.format);
  if (!job.fileDepth.empty()) s += " --file-depth " + ShellWord(job.fileDepth);
  s += " --resume\n";
  return s;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return "";
  std::string all = path;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    const std::string folder = end > start ? all.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

ProgramResult RunProgram(const std::vector<std::string>& args) {
  ProgramResult r;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return r;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return r;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  std::vector<std::string> words = args;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  // Both pipes at once, so a program that fills one while we wait on the other
  // cannot stall.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, size_t(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  if (spawned != 0) return r;
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  return r;
}
