// SPDX-License-Identifier: MIT
// kstroke submit on a real one-node Slurm cluster, which the test fixture starts once for
// all these tests (scripts/local-slurm.sh, KSTROKE_SLURM_LINK): frames rendered by array
// tasks against one local run, a task killed while it writes a frame, and --check.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/app_test_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Cluster : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    const std::string link = KSTROKE_SLURM_LINK;
    if (fs::exists(link + "/unavailable")) {
      skipReason = "Slurm cannot run here: " + SlurpFile(link + "/unavailable");
      while (!skipReason.empty() && skipReason.back() == '\n') skipReason.pop_back();
      return;
    }
    setenv("SLURM_CONF", (link + "/slurm.conf").c_str(), 1);
  }
  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    ASSERT_TRUE(fs::exists(std::string(KSTROKE_SLURM_LINK) + "/slurm.conf"))
        << "no test cluster at " KSTROKE_SLURM_LINK "; ctest starts it (the slurm fixture), or "
           "scripts/local-slurm.sh start " KSTROKE_SLURM_LINK;
  }
  static std::string skipReason;
};
std::string Cluster::skipReason;

// Submits with `args` and answers the job id.
std::string Submit(const std::string& args) {
  const ProgramRun r = Ran("submit " + args);
  std::smatch m;
  const std::regex submitted("^submitted job ([0-9]+): ");
  return std::regex_search(r.out, m, submitted) ? m[1].str() : "";
}

bool Queued(const std::string& job) { return !RunShell("squeue --noheader --job " + job).out.empty(); }

// Waits until the job has left the queue; answers each task's "STATE EXITCODE", by
// task id.
std::map<int, std::string> WaitForJob(const std::string& job) {
  const auto deadline = Clock::now() + std::chrono::seconds(180);
  while (Queued(job) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(Queued(job)) << "job " << job << " still queued after 180 s";
  std::map<int, std::string> tasks;
  const std::string shown = RunShell("scontrol --oneliner show job " + job).out;
  const std::regex line("ArrayTaskId=([0-9]+) .*JobState=([A-Z_]+) .*ExitCode=([0-9]+:[0-9]+)");
  for (auto it = std::sregex_iterator(shown.begin(), shown.end(), line); it != std::sregex_iterator(); ++it)
    tasks[std::stoi((*it)[1])] = (*it)[2].str() + " " + (*it)[3].str();
  return tasks;
}

std::map<int, std::string> AllCompleted(int tasks) {
  std::map<int, std::string> all;
  for (int t = 0; t < tasks; ++t) all[t] = "COMPLETED 0:0";
  return all;
}

TEST_F(Cluster, TwentyFourFramesInFourTasksAreTheBytesOfOneLocalRun) {
  const std::string keys = ExampleKeyframes();
  const std::string local = NewFolder("local"), out = TestScratchDir() + "cluster";
  Ran("animate -q " + keys + " --frames 24 -o " + local);
  const std::string job = Submit(keys + " --count 24 --chunk 6 -o " + out);
  ASSERT_FALSE(job.empty());
  EXPECT_EQ(WaitForJob(job), AllCompleted(4));
  EXPECT_EQ(FrameDifferences(local, out), "");
  EXPECT_EQ(RecordedFrames(out).size(), 24u);
  EXPECT_EQ(Check(out), std::pair(0, out + ": all 24 frames complete\n"));
  // Each task's log, in the folder, says what it did.
  for (int t = 0; t < 4; ++t)
    EXPECT_EQ(SlurpFile(out + "/slurm/" + job + "_" + std::to_string(t) + ".log"),
              "frames " + std::to_string(6 * t) + " to " + std::to_string(6 * t + 5) + " in " + out +
                  ": 6 written, 0 complete already\n");

  // A frame cut short is found by --check and rendered again by a second submission.
  const uintmax_t size = fs::file_size(out + "/frame_0009.png");
  fs::resize_file(out + "/frame_0009.png", size / 2);
  EXPECT_EQ(Check(out), std::pair(1, "frame_0009.png: damaged: " + std::to_string(size / 2) + " bytes, " +
                                         std::to_string(size) + " when it was written\n" + out +
                                         ": 24 frames: 23 complete, 1 damaged; submit the job again to render the others\n"));
  const std::string again = Submit(keys + " --count 24 --chunk 6 -o " + out);
  EXPECT_EQ(WaitForJob(again), AllCompleted(4));
  EXPECT_EQ(SlurpFile(out + "/slurm/" + again + "_1.log"),
            "frames 6 to 11 in " + out + ": 1 written, 5 complete already\n");
  EXPECT_EQ(FrameDifferences(local, out), "");
  EXPECT_EQ(Check(out), std::pair(0, out + ": all 24 frames complete\n"));
}

// The keyframes at 1024 × 640 and 16 bits, where most of a frame's time goes to writing
// its PNG: long enough to kill a task while a frame is being written.
std::string SlowKeyframes(const std::string& folder) {
  for (const char* k : {"a", "b"}) {
    nlohmann::json doc = nlohmann::json::parse(SlurpFile(Example(std::string("keyframe_") + k + ".json")));
    doc["canvas"]["width"] = 1024;
    doc["canvas"]["height"] = 640;
    doc["canvas"]["depth"] = 16;
    doc["brush"]["diameter"] = doc["brush"]["diameter"].get<double>() * 3;
    std::ofstream(folder + "/" + k + ".json") << doc.dump();
  }
  return folder + "/a.json " + folder + "/b.json";
}

// The process of `kstroke animate` that renders `frames` into `folder`, or 0.
pid_t AnimateProcess(const std::string& folder, const std::string& frames) {
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // A process that ends between the listing and the read reads as empty.
    std::string cmdline = SlurpFile(e.path() / "cmdline");
    for (char& c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(" animate ") != std::string::npos &&
        cmdline.find(" --frames " + frames + " ") != std::string::npos &&
        cmdline.find(" -o " + folder + " ") != std::string::npos)
      return pid_t(std::stoi(name));
  }
  return 0;
}

// Whether process `pid` has a temporary of `folder` open: it is writing a frame.
bool WritingFrame(pid_t pid, const std::string& folder) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const fs::path target = fs::read_symlink(fd.path(), ec);
    if (!ec && target.parent_path() == folder && target.filename().string().rfind(".kstroke-", 0) == 0)
      return true;
  }
  return false;
}

TEST_F(Cluster, TaskKilledWhileWritingAFrameThenResubmittedEndsCompleteAndIdentical) {
  const std::string scratch = NewFolder("slow");
  const std::string keys = SlowKeyframes(scratch);
  const std::string local = NewFolder("slow-local"), out = scratch + "/frames";
  const std::string job = Submit(keys + " --count 6 --chunk 3 -o " + out);
  ASSERT_FALSE(job.empty());
  // Task 0 renders frames 0 to 2: kill it, as a failing node would, while it writes
  // frame 1 or, if that was missed, frame 2. The manifest is written through a
  // temporary too, so the frame before must be recorded, and the frame not yet in place,
  // for the temporary task 0 has open to be the frame's.
  const auto name = [](int k) { return "frame_000" + std::to_string(k) + ".png"; };
  pid_t task0 = 0;
  int killedIn = -1;
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (killedIn < 0 && Clock::now() < deadline && !fs::exists(out + "/" + name(2))) {
    if (!task0) task0 = AnimateProcess(out, "0:2");
    const auto recorded = RecordedFrames(out, true);
    for (int k = 1; k <= 2 && task0 && killedIn < 0; ++k)
      if (recorded.count(name(k - 1)) && WritingFrame(task0, out) && !fs::exists(out + "/" + name(k)))
        killedIn = k;
    if (killedIn < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_GT(killedIn, 0) << "task 0 was not seen writing frame 1 or 2";
  ASSERT_EQ(kill(task0, SIGKILL), 0);
  const std::map<int, std::string> tasks = WaitForJob(job);
  EXPECT_EQ(tasks.at(0), "FAILED 0:9");
  EXPECT_EQ(tasks.at(1), "COMPLETED 0:0");

  // The frames before the one being written, and task 1's, are complete; the one being
  // written is not recorded (it may have been renamed into place just before the signal
  // landed), and none after it was begun.
  SCOPED_TRACE("killed while writing frame " + std::to_string(killedIn));
  const auto kept = FrameStamps(out);
  const auto recorded = RecordedFrames(out, true);
  for (int k : {0, 3, 4, 5}) EXPECT_TRUE((k >= killedIn && k < 3) || recorded.count(name(k))) << name(k);
  EXPECT_FALSE(recorded.count(name(killedIn)));
  EXPECT_TRUE(killedIn != 1 || !kept.count(name(2))) << "frame 2 was begun";
  EXPECT_EQ(Check(out).first, 1);

  const std::string again = Submit(keys + " --count 6 --chunk 3 -o " + out);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(WaitForJob(again), AllCompleted(2));
  // Recorded frames were passed over, not drawn again.
  const auto now = FrameStamps(out);
  for (const auto& [file, stamp] : kept)
    EXPECT_TRUE(!recorded.count(file) || now.at(file) == stamp) << file << " was written again";
  EXPECT_EQ(SlurpFile(out + "/slurm/" + again + "_1.log"),
            "frames 3 to 5 in " + out + ": 0 written, 3 complete already\n");
  Ran("animate -q " + keys + " --frames 6 -o " + local);
  EXPECT_EQ(FrameDifferences(local, out), "");
  // What the killed writer left is named, and nothing else is wrong.
  std::string leftovers;
  for (const std::string& t : NamesIn(out, ".kstroke-"))
    leftovers += t + ": left unfinished by a task that was killed; remove it once no task writes here\n";
  EXPECT_EQ(Check(out), std::pair(0, leftovers + out + ": all 6 frames complete\n"));
}

}  // namespace
