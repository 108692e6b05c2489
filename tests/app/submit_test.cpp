// SPDX-License-Identifier: MIT
// kstroke submit without a cluster: its refusals, the batch script and what it does when
// a shell runs it. tests/cluster/ runs it on Slurm.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/frame_manifest.h"
#include "app_test_support.h"

namespace {

namespace fs = std::filesystem;

// A stand-in for sbatch that writes its arguments, one a line, to sbatch-args beside it
// and answers as `sbatch --parsable` does, or fails as sbatch does for a bad partition.
std::string FakeSbatchFolder(bool fails) {
  const std::string bin = NewFolder(fails ? "failing-sbatch" : "sbatch");
  const std::string body = fails ? "echo 'sbatch: error: invalid partition specified: nope' >&2\n"
              "echo 'sbatch: error: Batch job submission failed: Invalid partition name specified' >&2\nexit 1\n"
            : "echo 4242\\;kstroke\n";
  WriteText(bin + "/sbatch", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"${0%/*}/sbatch-args\"\n" + body);
  fs::permissions(bin + "/sbatch", fs::perms::owner_all);
  return bin;
}

TEST(Submit, BadArgumentsEndWithOneLineBeforeAnythingIsSubmitted) {
  const std::string bin = FakeSbatchFolder(false);
  const std::string scratch = NewFolder("refusals");
  const std::string file = scratch + "/file.png";
  WriteText(file, "not a folder");
  const std::string out = scratch + "/out";
  // A folder holding 6 frames of the same keyframes.
  const std::string other = scratch + "/other";
  Ran("animate -q " + kKeys + " --count 6 --frames 0:0 -o " + other + " --resume");
  const std::string p = "kstroke submit: ", path = "PATH=" + bin;
  const std::string submit = "submit " + kKeys, k6 = submit + " --count 24 --chunk 6 -o ";
  const std::string frames = ": an animation has 2 to 1000000 frames\n";
  std::vector<Refusal> cases = {
      {"K = 0", submit + " --count 24 --chunk 0 -o " + out, 2, p + "--chunk 0: a task renders 1 frame or more\n"},
      {"K < 0", submit + " --count 24 --chunk -3 -o " + out, 2, p + "--chunk -3: a task renders 1 frame or more\n"},
      {"N = 0", submit + " --count 0 --chunk 6 -o " + out, 2, p + "--count 0" + frames},
      {"N < 0", submit + " --count -5 --chunk 6 -o " + out, 2, p + "--count -5" + frames},
      {"N = 1", submit + " --count 1 --chunk 6 -o " + out, 2, p + "--count 1" + frames},
      {"no N", submit + " --chunk 6 -o " + out, 2, p + "give the animation's length with --count N\n"},
      {"no K", submit + " --count 24 -o " + out, 2, p + "give the frames each task renders with --chunk K\n"},
      {"no DIR", submit + " --count 24 --chunk 6", 2, p + "give the output folder with -o DIR\n"},
      {"no keyframes", "submit --count 24 --chunk 6 -o " + out, 2,
       p + "give the keyframes (A.json [B.json]) or --check DIR\n"},
      {"one keyframe", "submit " + Example("pressure.json") + " --count 24 --chunk 6 -o " + out, 2,
       p + "give a second keyframe, or --write-on to write one on\n"},
      {"quote in --partition", k6 + out + " --partition 'a\"b'", 2,
       p + "--partition: \"a\\\"b\" holds a double quote, which the lines of a batch script cannot carry\n"},
      {"line break in an sbatch option", k6 + out + " -- \"$(printf '%s\\n%s' --comment=a b)\"", 2,
       p + "sbatch option: \"--comment=a\\nb\" holds a line break, which the lines of a batch script cannot carry\n"},
      {"--check with keyframes", submit + " --check " + out, 2,
       p + "--check DIR takes no keyframes, frames or sbatch options\n"},
      {"missing keyframe", "submit /nonexistent/a.json " + Example("keyframe_b.json") + " --count 24 --chunk 6 -o " + out,
       1, p + "/nonexistent/a.json: cannot open file: No such file or directory\n"},
      {"DIR is a file", k6 + file, 1, p + file + ": not a folder\n"},
      {"DIR under a file", k6 + file + "/frames/", 1, p + file + "/frames/: cannot create the folder: Not a directory\n"},
      {"DIR of another animation", k6 + other, 1,
       p + other + ": the folder holds another animation's frames (6 frames, not 24); render into another folder\n"},
      {"no sbatch on PATH", k6 + out, 1,
       p + "sbatch: not found on PATH; submit from a machine with Slurm's commands, or print the script with "
           "--dry-run\n", false, "PATH=/nonexistent"},
  };
  if (geteuid() != 0) {  // root writes anywhere
    const std::string locked = scratch + "/locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    cases.push_back({"unwritable DIR", k6 + locked, 1, p + locked + ": cannot write into the folder: Permission denied\n"});
  }
  for (Refusal& c : cases)
    if (c.before.empty()) c.before = path;
  ExpectRefusals(cases);
  EXPECT_FALSE(fs::exists(bin + "/sbatch-args")) << "sbatch was run";
  EXPECT_FALSE(fs::exists(out)) << "the folder was made";
}

TEST(Submit, SubmitsTheScriptItPrintsAndSaysHowToFollowTheJob) {
  const std::string bin = FakeSbatchFolder(false);
  const std::string out = TestScratchDir() + "submitted";
  fs::remove_all(out);
  const std::string args = "submit " + kKeys + " --count 24 --chunk 5 -o " + out + "/ --time 30";
  const ProgramRun dry = Ran(args + " --dry-run -- --mem=2G");
  EXPECT_FALSE(fs::exists(out)) << "--dry-run made the folder";
  const ProgramRun r = Ran(args + " -- --mem=2G", "PATH=" + bin);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "submitted job 4242: 24 frames, 5 a task, in 5 array tasks, into " + out +
                       "\nfollow it: squeue --job 4242\ncheck it:  kstroke submit --check " + out + "\n");
  EXPECT_EQ(SlurpFile(bin + "/sbatch-args"), "--parsable\n" + out + "/slurm/job.sh\n");
  EXPECT_EQ(SlurpFile(out + "/slurm/job.sh"), dry.out);
  // The folder has its manifest, with no frame yet.
  EXPECT_EQ(NamesIn(out), (std::vector<std::string>{".manifest.lock", "manifest.json", "slurm"}));
  EXPECT_TRUE(RecordedFrames(out).empty());

  const std::string failing = FakeSbatchFolder(true);
  const ProgramRun refused = RunKstroke(args, "PATH=" + failing);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "kstroke submit: sbatch " + out +
                             "/slurm/job.sh failed: sbatch: error: Batch job submission failed: "
                             "Invalid partition name specified\n");
  EXPECT_EQ(refused.out, "");
}

// The tasks of a script share out the frames: each task's --frames, as bash runs the
// script for each SLURM_ARRAY_TASK_ID with a program that prints its arguments.
TEST(Submit, ScriptTasksRenderEveryFrameOnce) {
  const std::string folder = NewFolder("script");
  const std::string echo = folder + "/echo-args";
  WriteText(echo, "#!/bin/sh\necho \"$@\"\n");
  fs::permissions(echo, fs::perms::owner_all);
  struct Case {
    int count, chunk;
    std::string array;
    std::vector<std::string> frames;  // per task
  };
  const Case cases[] = {
      {24, 6, "0-3", {"0:5", "6:11", "12:17", "18:23"}},
      {25, 6, "0-4", {"0:5", "6:11", "12:17", "18:23", "24:24"}},
      {5, 10, "0-0", {"0:4"}},
      {2, 1, "0-1", {"0:0", "1:1"}},
  };
  // A folder whose name holds a blank and a %, which Slurm would read as a pattern.
  const std::string out = folder + "/shot 1%";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " frames, " + std::to_string(c.chunk) + " a task");
    const ProgramRun r = Ran("submit " + kKeys + " --count " + std::to_string(c.count) +
                                    " --chunk " + std::to_string(c.chunk) + " -o '" + out +
                                    "' --program " + echo + " --dry-run");
    EXPECT_NE(r.out.find("\n#SBATCH --array=" + c.array + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n#SBATCH --output=\"" + Replaced(out, "%", "%%") + "/slurm/%A_%a.log\"\n"),
              std::string::npos)
        << r.out;
    WriteText(folder + "/job.sh", r.out);
    for (size_t t = 0; t < c.frames.size(); ++t) {
      const ProgramRun task = RunShell("SLURM_ARRAY_TASK_ID=" + std::to_string(t) + " bash '" + folder + "/job.sh'");
      EXPECT_EQ(task.status, 0) << task.err;
      EXPECT_EQ(task.out, "animate " + kKeys + " --count " + std::to_string(c.count) + " --frames " +
                              c.frames[t] + " -o " + out + " --resume\n");
    }
  }
  // Run by hand rather than by sbatch, the script says so and stops.
  const ProgramRun bare = RunShell("env -u SLURM_ARRAY_TASK_ID bash '" + folder + "/job.sh'");
  EXPECT_NE(bare.status, 0);
  EXPECT_NE(bare.err.find("SLURM_ARRAY_TASK_ID: submit this script with sbatch"), std::string::npos) << bare.err;
  EXPECT_EQ(bare.out, "");
}

TEST(Submit, ReadmeShowsTheScriptDryRunPrints) {
  // The README's example runs in /shared/shot12, which holds the two keyframes.
  const std::string shot = NewFolder("shot12");
  fs::copy_file(Example("keyframe_a.json"), shot + "/a.json");
  fs::copy_file(Example("keyframe_b.json"), shot + "/b.json");
  const std::string command = "kstroke submit a.json b.json --count 240 --chunk 24 -o frames/ --partition render "
      "--time 30 --program /opt/kstroke/bin/kstroke --dry-run -- --mem=2G";
  const ProgramRun r = Ran(command.substr(8), "cd " + shot + " &&");
  const std::string shown = Replaced(r.out, shot, "/shared/shot12");
  const std::string readme = SlurpFile(KSTROKE_SOURCE_DIR "/README.md");
  EXPECT_NE(readme.find("$ " + command + "\n"), std::string::npos) << "the README's command differs";
  EXPECT_NE(readme.find("```bash\n" + shown + "```\n"), std::string::npos)
      << "the README should show, in a bash block:\n" << shown;
}

}  // namespace
