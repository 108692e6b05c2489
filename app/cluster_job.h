// SPDX-License-Identifier: MIT
// An animation rendered on a Slurm cluster: one job array whose task t renders frames
// t·K … min(t·K + K, N) − 1 with `kstroke animate --resume`. Each task passes over the
// frames already complete in the output folder (app/frame_manifest.h), so a task that
// Slurm requeues after a node failure, or a job submitted again after one failed,
// renders only what is missing. Every path in the script is absolute: the tasks start
// on other machines, which must see the folder, the keyframes and the program at the
// same paths.
#pragma once

#include <string>
#include <vector>

struct ClusterJob {
  std::string program;                 ///< the kstroke the nodes run
  std::vector<std::string> keyframes;  ///< absolute paths, 1 or 2
  bool writeOn = false;
  int count = 0;                       ///< N, frames in the animation (≥ 2)
  int chunk = 0;                       ///< K, frames per task (≥ 1)
  std::string folder;                  ///< absolute, without a trailing '/'
  std::string format;                  ///< --format as given ("" when not)
  std::string fileDepth;               ///< --file-depth as given ("" when not)
  std::string partition;               ///< "" for the cluster's default
  std::string time;                    ///< a Slurm time limit per task, "" for the default
  std::vector<std::string> sbatchOptions;  ///< more options for sbatch, word by word
};

/// ceil(N / K).
int TaskCount(const ClusterJob& job);

/// The batch script; its #SBATCH lines carry every option, so submitting it with a
/// plain `sbatch SCRIPT` does the same as `kstroke submit`. Expects values that
/// ScriptValueProblem accepts.
std::string BatchScript(const ClusterJob& job);

/// Why `value` cannot go into a batch script ("" when it can): a line break, or (in
/// #SBATCH lines, which sbatch splits at blanks outside double quotes) a double quote
/// or a backslash.
std::string ScriptValueProblem(const std::string& value);

/// Where the tasks' logs go: DIR/slurm/JOB_TASK.log.
std::string LogFolder(const ClusterJob& job);

/// `value` as one word for the shell: itself when it holds only characters the shell
/// leaves alone, otherwise in single quotes.
std::string ShellWord(const std::string& value);

/// The executable `name` in a folder of $PATH, or "" when there is none.
std::string FindOnPath(const std::string& name);

struct ProgramResult {
  int status = -1;  ///< exit status, 128 + signal, or −1 when it could not be started
  std::string out, err;
};
/// Runs `args` (args[0] a path), standard input from /dev/null, and collects both
/// outputs.
ProgramResult RunProgram(const std::vector<std::string>& args);
