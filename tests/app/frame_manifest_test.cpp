// SPDX-License-Identifier: MIT
// The frame manifest: what animate --resume records and passes over, what
// kstroke submit --check reports, and the folders and manifests they refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/frame_manifest.h"
#include "app_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(FrameManifest, FileSumsAreSha256) {
  const std::string folder = NewFolder("sums");
  struct Case {
    std::string bytes, sum;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    WriteText(folder + "/f", c.bytes);
    uint64_t size = 0;
    EXPECT_EQ(FileSha256(folder + "/f", &size), c.sum);
    EXPECT_EQ(size, c.bytes.size());
  }
}

TEST(FrameManifest, CheckReportsEachDamageAndResumeRendersOnlyThoseFrames) {
  const std::string ref = NewFolder("check-ref"), dir = NewFolder("check");
  const std::string resume = "animate -q " + kKeys + " --count 6 --frames 0:5 -o ";
  Ran("animate -q " + kKeys + " --frames 6 -o " + ref);
  ProgramRun r = Ran(resume + dir + " --resume");
  EXPECT_EQ(FrameDifferences(ref, dir), "");
  const std::map<std::string, uint64_t> recorded = RecordedFrames(dir);
  ASSERT_EQ(recorded.size(), 6u);
  for (const auto& [name, size] : recorded) EXPECT_EQ(size, fs::file_size(dir + "/" + name)) << name;
  EXPECT_EQ(Check(dir), std::pair(0, dir + ": all 6 frames complete\n"));

  // Cut one frame short, change a byte of another, lose a third, and drop a fourth's
  // record; a killed task left a temporary.
  const uint64_t size1 = fs::file_size(dir + "/frame_0001.png");
  fs::resize_file(dir + "/frame_0001.png", 100);
  {
    std::fstream f(dir + "/frame_0002.png", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(200);
    f.put('\x5a');
  }
  fs::remove(dir + "/frame_0003.png");
  nlohmann::json manifest = nlohmann::json::parse(SlurpFile(dir + "/manifest.json"));
  manifest["frames"].erase(4);
  WriteText(dir + "/manifest.json", manifest.dump());
  WriteText(dir + "/.kstroke-Ab3dE9", "half a frame");
  const auto before = FrameStamps(dir);

  EXPECT_EQ(Check(dir), std::pair(1, "frame_0001.png: damaged: 100 bytes, " + std::to_string(size1) + " when it was written\n"
                       "frame_0002.png: damaged: its SHA-256 is not the one recorded when it was written\n"
                       "frame_0003.png: missing\n"
                       "frame_0004.png: not recorded in the manifest (its task stopped before it could be)\n"
                       ".kstroke-Ab3dE9: left unfinished by a task that was killed; remove it once no task "
                       "writes here\n" +
                       dir + ": 6 frames: 2 complete, 2 damaged, 1 missing, 1 not recorded; submit the "
                             "job again to render the others\n"));

  r = Ran("animate " + kKeys + " --count 6 --frames 0:5 -o " + dir + " --resume");
  EXPECT_EQ(r.err, "frames 0 to 5 in " + dir + ": 4 written, 2 complete already\n");
  const auto after = FrameStamps(dir);
  for (const char* name : {"frame_0000.png", "frame_0005.png"}) EXPECT_EQ(after.at(name), before.at(name)) << name;
  EXPECT_EQ(FrameDifferences(ref, dir), "");
  fs::remove(dir + "/.kstroke-Ab3dE9");
  EXPECT_EQ(Check(dir), std::pair(0, dir + ": all 6 frames complete\n"));
  // The run's records went into the manifest, and its part with them.
  EXPECT_EQ(RecordedFrames(dir).size(), 6u);
  EXPECT_EQ(NamesIn(dir, "."), (std::vector<std::string>{".manifest.lock"}));
}

TEST(FrameManifest, FoldersOfOtherAnimationsAndBadManifestsAreRefused) {
  const std::string dir = NewFolder("other-animation");
  Ran("animate -q " + kKeys + " --count 6 --frames 0:1 -o " + dir + " --resume");
  const std::string bare = NewFolder("no-manifest");
  const std::string bad = NewFolder("bad-manifest");
  WriteText(bad + "/manifest.json", "{\"animation\": {}}");
  const std::string m = "kstroke animate: " + dir + "/manifest.json: the folder holds another animation's frames (";
  const std::string into = "); render into another folder\n", range = " --count 6 --frames 0:1 -o " + dir + " --resume";
  ExpectRefusals({
      {"count", "animate " + kKeys + " --count 8 --frames 0:1 -o " + dir + " --resume", 1, m + "6 frames, not 8" + into},
      {"format", "animate " + kKeys + range + " --format tif", 1, m + "png files, not tif" + into},
      {"write-on", "animate " + kKeys + " --write-on" + range, 1, m + "between keyframes, not written on" + into},
      {"keyframes", "animate " + Example("keyframe_b.json") + " " + Example("keyframe_a.json") + range, 1,
       m + "keyframe 1 is " + Example("keyframe_a.json") + " with other contents" + into},
      {"no manifest", "submit --check " + bare, 1,
       "kstroke submit: " + bare + ": no manifest.json: not a folder that kstroke submit or animate --resume renders "
       "into\n"},
      {"not a manifest", "submit --check " + bad, 1, "kstroke submit: " + bad + "/manifest.json: not a frame manifest: ",
       true},
  });
  EXPECT_EQ(NamesIn(dir, "frame_"), (std::vector<std::string>{"frame_0000.png", "frame_0001.png"}));
}

}  // namespace
