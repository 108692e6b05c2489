// SPDX-License-Identifier: MIT
// Frame folders in tests: fresh ones, what they hold, and whether two hold the same frames.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "program_support.h"

/// A file of examples/.
inline std::string Example(const char* name) {
  return std::string(KSTROKE_SOURCE_DIR "/examples/") + name;
}

/// The two example keyframes, as arguments.
inline std::string ExampleKeyframes() {
  return Example("keyframe_a.json") + " " + Example("keyframe_b.json");
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

/// An empty folder `name` in this process's scratch folder (no trailing '/').
inline std::string NewFolder(const std::string& name) {
  const std::string folder = TestScratchDir() + name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

/// The names in `folder`, sorted; `prefix` keeps only those that start with it.
inline std::vector<std::string> NamesIn(const std::string& folder, const std::string& prefix = "") {
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
    return std::to_string(want.size()) + " frames expected, " + std::to_string(got.size()) +
           " found";
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

/// Runs the shell command `command`, standard input from /dev/null, capturing both
/// outputs.
inline ProgramRun RunShell(const std::string& command) {
  const std::string out = TestScratchDir() + "shell_out", err = TestScratchDir() + "shell_err";
  const std::string line = "{ " + command + "; } >" + out + " 2>" + err + " </dev/null";
  ProgramRun r{ExitStatus(std::system(line.c_str())), SlurpFile(out), SlurpFile(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

/// `text` with every `from` replaced by `to`.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
