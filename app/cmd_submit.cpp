// SPDX-License-Identifier: MIT
// kstroke submit: an animation as a Slurm job array (app/cluster_job.h), and the check
// of the frames such a job left in its folder.
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "app/animate.h"
#include "app/cluster_job.h"
#include "app/commands.h"
#include "app/frame_manifest.h"
#include "document/json_text.h"
#include "document/output_file.h"
#include "document/render_document.h"
#include "document/stroke_file.h"

namespace fs = std::filesystem;

namespace {

struct SubmitOptions {
  std::vector<std::string> keyframes;
  bool writeOn = false;
  int count = 0, chunk = 0;
  std::string output, partition, time, program, check;
  FrameFormat format;
  bool dryRun = false;
  const CLI::Option *countGiven = nullptr, *chunkGiven = nullptr, *outputGiven = nullptr;
};

// A failure with its exit status; the message goes after "kstroke submit: ".
struct SubmitFailure {
  int status;
  std::string message;
};

[[noreturn]] void Usage(const std::string& message) { throw SubmitFailure{kExitUsage, message}; }
[[noreturn]] void Fail(const std::string& message) { throw SubmitFailure{kExitFailure, message}; }

// The folder as the nodes will see it: absolute, without "." or ".." or a trailing '/'.
std::string AbsoluteFolder(const std::string& folder) {
  std::string s = fs::absolute(folder).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// Fails unless files can be made in `folder` or, where it does not exist yet, in the
// folder it would be made in. Leaves nothing behind.
void CheckWritable(const std::string& given, const std::string& folder) {
  fs::path existing = folder;
  std::error_code ec;
  while (!fs::exists(existing, ec) && existing.has_parent_path() && existing != existing.parent_path())
    existing = existing.parent_path();
  if (!fs::is_directory(existing, ec))
    Fail(given + (existing == fs::path(folder) ? ": not a folder"
                                               : ": cannot create the folder: " +
                                                     std::string(std::strerror(ENOTDIR))));
  std::string probe = (existing / ".kstroke-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    const int error = errno;
    Fail(given + (existing == fs::path(folder) ? ": cannot write into the folder: "
                                               : ": cannot create the folder: ") +
         std::strerror(error));
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

// `what` names the value: "--partition", or a folder's name as given.
void CheckScriptValue(const std::string& what, const std::string& value) {
  const std::string problem = ScriptValueProblem(value);
  if (!problem.empty())
    Usage(what + ": " + JsonExcerpt(nlohmann::json(value)) + " " + problem +
          ", which the lines of a batch script cannot carry");
}

int RunCheck(const std::string& folder) {
  std::optional<FrameManifest> manifest;
  try {
    manifest = FrameManifest::Read(folder);
  } catch (const ManifestError& e) {
    Fail(e.what());
  }
  if (!manifest)
    Fail(folder + ": no " + FrameManifest::kFileName +
         ": not a folder that kstroke submit or animate --resume renders into");
  int complete = 0, missing = 0, damaged = 0, unrecorded = 0;
  for (int k = 0; k < manifest->animation.count; ++k) {
    const FrameCheck c = CheckFrame(folder, *manifest, k);
    switch (c.state) {
      case FrameState::kComplete:
        ++complete;
        break;
      case FrameState::kMissing:
        ++missing;
        std::printf("%s: missing\n", c.file.c_str());
        break;
      case FrameState::kDamaged:
        ++damaged;
        std::printf("%s: damaged: %s\n", c.file.c_str(), c.detail.c_str());
        break;
      case FrameState::kUnrecorded:
        ++unrecorded;
        std::printf("%s: not recorded in the manifest (its task stopped before it could be)\n",
                    c.file.c_str());
        break;
    }
  }
  for (const std::string& name : LeftoverTemporaries(folder))
    std::printf("%s: left unfinished by a task that was killed; remove it once no task writes here\n",
                name.c_str());
  const int count = manifest->animation.count;
  if (complete == count) {
    std::printf("%s: all %d frames complete\n", folder.c_str(), count);
    return kExitOk;
  }
  std::string summary = std::to_string(complete) + " complete";
  if (damaged) summary += ", " + std::to_string(damaged) + " damaged";
  if (missing) summary += ", " + std::to_string(missing) + " missing";
  if (unrecorded) summary += ", " + std::to_string(unrecorded) + " not recorded";
  std::printf("%s: %d frames: %s; submit the job again to render the others\n", folder.c_str(),
              count, summary.c_str());
  return kExitFailure;
}

int RunSubmit(const SubmitOptions& o) {
  const std::vector<std::string>& passOn = CommandPassOn();
  if (!o.check.empty()) {
    if (!o.keyframes.empty() || o.countGiven->count() || o.chunkGiven->count() ||
        o.outputGiven->count() || !passOn.empty())
      Usage("--check DIR takes no keyframes, frames or sbatch options");
    return RunCheck(o.check);
  }
  if (o.keyframes.empty()) Usage("give the keyframes (A.json [B.json]) or --check DIR");
  if (o.keyframes.size() == 1 && !o.writeOn)
    Usage("give a second keyframe, or --write-on to write one on");
  if (!o.countGiven->count()) Usage("give the animation's length with --count N");
  if (o.count < 2 || o.count > kMaxFrames)
    Usage("--count " + std::to_string(o.count) + ": an animation has 2 to " +
          std::to_string(kMaxFrames) + " frames");
  if (!o.chunkGiven->count()) Usage("give the frames each task renders with --chunk K");
  if (o.chunk < 1)
    Usage("--chunk " + std::to_string(o.chunk) + ": a task renders 1 frame or more");
  if (!o.outputGiven->count()) Usage("give the output folder with -o DIR");

  ClusterJob job;
  job.writeOn = o.writeOn;
  job.count = o.count;
  job.chunk = o.chunk;
  job.folder = AbsoluteFolder(o.output);
  job.format = o.format.extension;
  job.fileDepth = o.format.sample;
  job.partition = o.partition;
  job.time = o.time;
  job.sbatchOptions = passOn;
  for (const std::string& k : o.keyframes) job.keyframes.push_back(fs::absolute(k).lexically_normal().string());
  std::error_code ec;
  job.program = o.program.empty() ? fs::read_symlink("/proc/self/exe", ec).string() : o.program;
  if (job.program.empty()) Fail("cannot find this program's own path: " + ec.message());
  CheckScriptValue("-o", job.folder);
  CheckScriptValue("--partition", job.partition);
  CheckScriptValue("--time", job.time);
  for (const std::string& w : job.sbatchOptions) CheckScriptValue("sbatch option", w);

  // The animation itself, checked here once rather than failing in every task.
  std::string extension;
  try {
    StrokeDoc a = LoadStrokeInput(o.keyframes[0]);
    std::optional<StrokeDoc> b;
    if (o.keyframes.size() > 1) b = LoadStrokeInput(o.keyframes[1]);
    const Animation animation(std::move(a), std::move(b), o.writeOn);
    extension = animation.Extension(o.format);
    ChooseOutput(FrameFileName(0, extension), o.format.sample);
  } catch (const OutputChoiceError& e) {
    Usage(e.what());
  } catch (const StrokeDocError& e) {
    Fail(e.what());
  } catch (const AnimateError& e) {
    Fail(e.what());
  }

  CheckWritable(o.output, job.folder);
  AnimationIdentity identity;
  try {
    identity = IdentifyAnimation(o.keyframes, o.writeOn, o.count, extension, o.format.sample);
    const std::optional<FrameManifest> existing = FrameManifest::Read(job.folder);
    const std::string difference = existing ? identity.Difference(existing->animation) : "";
    if (!difference.empty())
      Fail(o.output + ": the folder holds another animation's frames (" + difference +
           "); render into another folder");
  } catch (const ManifestError& e) {
    Fail(e.what());
  }
  const std::string script = BatchScript(job);
  if (o.dryRun) {
    std::fputs(script.c_str(), stdout);
    return kExitOk;
  }
  const std::string sbatch = FindOnPath("sbatch");
  if (sbatch.empty())
    Fail("sbatch: not found on PATH; submit from a machine with Slurm's commands, or print "
         "the script with --dry-run");

  const std::string scriptPath = LogFolder(job) + "/job.sh";
  try {
    fs::create_directories(LogFolder(job), ec);
    if (ec) Fail(o.output + ": cannot create the folder: " + ec.message());
    FrameLedger ledger(job.folder, identity);
    ledger.MergeAll();
    AtomicOutput file(scriptPath);
    file.Write(script);
    file.Commit();
  } catch (const ManifestError& e) {
    Fail(e.what());
  } catch (const OutputError& e) {
    Fail(e.what());
  }
  const ProgramResult r = RunProgram({sbatch, "--parsable", scriptPath});
  std::string jobId = r.out.substr(0, r.out.find_first_of(";\n"));
  if (r.status != 0 || jobId.empty()) {
    std::string why = r.err;
    while (!why.empty() && why.back() == '\n') why.pop_back();
    why = why.substr(why.find_last_of('\n') + 1);
    Fail("sbatch " + scriptPath + " failed" +
         (r.status < 0 ? std::string(": cannot run it") : ": " + why));
  }
  const int tasks = TaskCount(job);
  std::printf("submitted job %s: %d frames, %d a task, in %d array task%s, into %s\n",
              jobId.c_str(), job.count, job.chunk, tasks, tasks == 1 ? "" : "s",
              job.folder.c_str());
  std::printf("follow it: squeue --job %s\n", jobId.c_str());
  std::printf("check it:  kstroke submit --check %s\n", ShellWord(job.folder).c_str());
  return kExitOk;
}

const KstrokeCommand kSubmit(
    "submit", "render an animation on a Slurm cluster as a job array, or check its frames",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<SubmitOptions>();
      sub.add_option("keyframes", o->keyframes,
                     "first and second keyframe (JSON or .kst); one with --write-on")
          ->expected(0, 2);
      sub.add_flag("--write-on", o->writeOn, "draw each stroke along its path, frame by frame");
      o->countGiven = sub.add_option("--count", o->count, "N: frames in the animation");
      o->chunkGiven = sub.add_option("--chunk", o->chunk, "K: frames each array task renders");
      o->outputGiven = sub.add_option("-o,--output", o->output,
                                      "the frames' folder, the same path on every node");
      sub.add_option("--partition", o->partition, "the Slurm partition (default: the cluster's)");
      sub.add_option("--time", o->time, "time limit of each task, as sbatch --time takes it");
      AddFrameFileOptions(sub, &o->format);
      sub.add_option("--program", o->program,
                     "the kstroke the nodes run (default: this one's absolute path)");
      sub.add_flag("--dry-run", o->dryRun, "print the batch script instead of submitting it");
      sub.add_option("--check", o->check,
                     "report the frames of DIR that are missing or damaged (status 1 if any)");
      sub.footer("Words after -- go to sbatch as they are (as #SBATCH lines of the script).");
      return [o] {
        try {
          return RunSubmit(*o);
        } catch (const SubmitFailure& f) {
          std::fprintf(stderr, "kstroke submit: %s\n", f.message.c_str());
          return f.status;
        }
      };
    },
    true);

}  // namespace
