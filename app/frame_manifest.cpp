// SPDX-License-Identifier: MIT
// The frame manifest; its layout and locking are described in app/frame_manifest.h.
#include "app/frame_manifest.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/animate.h"
#include "document/output_file.h"

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kLockName = ".manifest.lock";

std::string PathIn(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

std::string SystemError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// An exclusive lock of the folder's lock file for one read-modify-write of the manifest.
// Where the file system keeps no locks (ENOLCK, ENOSYS) the update goes ahead unlocked:
// a record lost to a race only makes its frame drawn again.
class ManifestLock {
public:
  explicit ManifestLock(const std::string& folder) {
    const std::string path = PathIn(folder, kLockName);
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) throw ManifestError(SystemError(path + ": cannot open the lock", errno));
    int rc;
    while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0 && errno != ENOLCK && errno != ENOSYS) {
      const int error = errno;
      ::close(fd);
      throw ManifestError(SystemError(path + ": cannot lock", error));
    }
  }
  ~ManifestLock() { ::close(fd); }  // closing releases the lock
  ManifestLock(const ManifestLock&) = delete;
  ManifestLock& operator=(const ManifestLock&) = delete;

private:
  int fd = -1;
};

Json IdentityJson(const AnimationIdentity& a) {
  Json keys = Json::array();
  for (const auto& k : a.keyframes) keys.push_back({{"path", k.path}, {"sha256", k.sha256}});
  return {{"keyframes", keys}, {"writeOn", a.writeOn}, {"count", a.count},
          {"format", a.format}, {"fileDepth", a.fileDepth}};
}

bool IsHexSum(const std::string& s) {
  return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Reads the manifest's JSON; throws std::exception (json's own, or runtime_error) for
// anything that is not one.
FrameManifest FromJson(const Json& j) {
  FrameManifest m;
  const Json& a = j.at("animation");
  for (const Json& k : a.at("keyframes")) {
    AnimationIdentity::Keyframe key{k.at("path").get<std::string>(), k.at("sha256").get<std::string>()};
    if (!IsHexSum(key.sha256)) throw std::runtime_error("a keyframe's sha256 is not a SHA-256");
    m.animation.keyframes.push_back(std::move(key));
  }
  m.animation.writeOn = a.at("writeOn").get<bool>();
  m.animation.count = a.at("count").get<int>();
  m.animation.format = a.at("format").get<std::string>();
  m.animation.fileDepth = a.at("fileDepth").get<std::string>();
  if (m.animation.keyframes.empty() || m.animation.keyframes.size() > 2 || m.animation.count < 2)
    throw std::runtime_error("not an animation of 1 or 2 keyframes and 2 frames or more");
  for (const Json& f : j.at("frames")) {
    const int frame = f.at("frame").get<int>();
    FrameRecord r{f.at("file").get<std::string>(), f.at("size").get<uint64_t>(),
                  f.at("sha256").get<std::string>()};
    if (frame < 0 || frame >= m.animation.count || r.file != FrameFileOf(m.animation, frame) ||
        !IsHexSum(r.sha256))
      throw std::runtime_error("frames: a record that is not one of its frames");
    m.frames[frame] = std::move(r);
  }
  return m;
}

std::string ToText(const FrameManifest& m) {
  // One frame a line, so the file reads (and diffs) well with thousands of them.
  std::string text = "{\n  \"animation\": " + IdentityJson(m.animation).dump() + ",\n  \"frames\": [";
  const char* separator = "\n";
  for (const auto& [frame, r] : m.frames) {
    const Json line = {{"frame", frame}, {"file", r.file}, {"size", r.size}, {"sha256", r.sha256}};
    text += separator + std::string("    ") + line.dump();
    separator = ",\n";
  }
  text += m.frames.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return text;
}

constexpr const char* kPartFolder = ".manifest.d";

// The manifest file at `path`, alone; nothing when there is none.
std::optional<FrameManifest> ReadManifestFile(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ManifestError(SystemError(path + ": cannot open file", errno));
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ManifestError(path + ": cannot read file");
  try {
    return FromJson(Json::parse(text.str()));
  } catch (const std::exception& e) {
    // json's messages are one line; ours say which part.
    throw ManifestError(path + ": not a frame manifest: " + e.what());
  }
}

void WriteManifestFile(const std::string& path, const FrameManifest& m) {
  try {
    AtomicOutput out(path);
    out.Write(ToText(m));
    out.Commit();
  } catch (const OutputError& e) {
    throw ManifestError(e.what());
  }
}

// The parts runs left in the folder, sorted.
std::vector<std::string> PartPaths(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(PathIn(folder, kPartFolder), ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("frames_", 0) == 0 && e.path().extension() == ".json") paths.push_back(e.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Adds the records of the folder's parts of m's animation to `m`.
void AddParts(const std::string& folder, FrameManifest* m) {
  for (const std::string& path : PartPaths(folder)) {
    std::optional<FrameManifest> part;
    try {
      part = ReadManifestFile(path);
    } catch (const ManifestError&) {
      continue;  // a part is written whole, so this is not one of ours
    }
    if (part && part->animation.Difference(m->animation).empty())
      for (auto& [frame, record] : part->frames) m->frames[frame] = std::move(record);
  }
}

struct DigestContext {
  DigestContext() : ctx(EVP_MD_CTX_new()) {
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) {
      EVP_MD_CTX_free(ctx);
      throw std::bad_alloc();
    }
  }
  ~DigestContext() { EVP_MD_CTX_free(ctx); }
  DigestContext(const DigestContext&) = delete;
  DigestContext& operator=(const DigestContext&) = delete;
  EVP_MD_CTX* ctx;
};

}  // namespace

std::string AnimationIdentity::Difference(const AnimationIdentity& o) const {
  const auto frames = [](int n) { return std::to_string(n) + " frames"; };
  if (o.count != count) return frames(o.count) + ", not " + std::to_string(count);
  if (o.writeOn != writeOn) return o.writeOn ? "written on, not between keyframes"
                                             : "between keyframes, not written on";
  if (o.format != format) return o.format + " files, not " + format;
  if (o.fileDepth != fileDepth) {
    const auto depth = [](const std::string& d) { return d.empty() ? std::string("default") : d; };
    return "file depth " + depth(o.fileDepth) + ", not " + depth(fileDepth);
  }
  if (o.keyframes.size() != keyframes.size())
    return std::to_string(o.keyframes.size()) + " keyframes, not " +
           std::to_string(keyframes.size());
  for (size_t i = 0; i < keyframes.size(); ++i)
    if (o.keyframes[i].sha256 != keyframes[i].sha256)
      return "keyframe " + std::to_string(i + 1) + " is " + o.keyframes[i].path +
             " with other contents";
  return "";
}

AnimationIdentity IdentifyAnimation(const std::vector<std::string>& keyframes, bool writeOn,
                                    int count, const std::string& format,
                                    const std::string& fileDepth) {
  AnimationIdentity a;
  for (const std::string& k : keyframes) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(k, ec);
    a.keyframes.push_back({(ec ? fs::path(k) : absolute).lexically_normal().string(), FileSha256(k)});
  }
  a.writeOn = writeOn;
  a.count = count;
  a.format = format;
  a.fileDepth = fileDepth;
  return a;
}

std::optional<FrameManifest> FrameManifest::Read(const std::string& folder) {
  std::optional<FrameManifest> m = ReadManifestFile(PathIn(folder, kFileName));
  if (m) AddParts(folder, &*m);
  return m;
}

void FrameManifest::Write(const std::string& folder) const {
  WriteManifestFile(PathIn(folder, kFileName), *this);
}

std::string FileSha256(const std::string& path, uint64_t* size) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw ManifestError(SystemError(path + ": cannot open file", errno));
  DigestContext digest;
  std::vector<unsigned char> buffer(1 << 16);
  uint64_t total = 0;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
    EVP_DigestUpdate(digest.ctx, buffer.data(), n);
    total += n;
  }
  if (std::ferror(file.get())) throw ManifestError(SystemError(path + ": cannot read file", errno));
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(digest.ctx, sum, &length);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[sum[i] >> 4];
    hex += kHex[sum[i] & 15];
  }
  if (size) *size = total;
  return hex;
}

std::string FrameFileOf(const AnimationIdentity& animation, int frame) {
  return FrameFileName(frame, animation.format);
}

FrameCheck CheckFrame(const std::string& folder, const FrameManifest& manifest, int frame) {
  const std::string file = FrameFileOf(manifest.animation, frame);
  const std::string path = PathIn(folder, file);
  std::error_code ec;
  const bool exists = fs::is_regular_file(path, ec);
  if (!exists) return {FrameState::kMissing, file, ""};
  const auto record = manifest.frames.find(frame);
  if (record == manifest.frames.end()) return {FrameState::kUnrecorded, file, ""};
  const uint64_t size = fs::file_size(path, ec);
  if (ec) return {FrameState::kDamaged, file, "cannot be read: " + ec.message()};
  if (size != record->second.size)
    return {FrameState::kDamaged, file,
            std::to_string(size) + " bytes, " + std::to_string(record->second.size) +
                " when it was written"};
  std::string sum;
  try {
    sum = FileSha256(path);
  } catch (const ManifestError& e) {
    return {FrameState::kDamaged, file, e.what()};
  }
  if (sum != record->second.sha256)
    return {FrameState::kDamaged, file, "its SHA-256 is not the one recorded when it was written"};
  return {FrameState::kComplete, file, ""};
}

FrameLedger::FrameLedger(std::string folder_, AnimationIdentity animation, int first, int last)
    : folder(std::move(folder_)) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw ManifestError(folder + ": cannot create the folder: " + ec.message());
  part = (fs::path(folder) / kPartFolder /
          ("frames_" + std::to_string(first) + "-" + std::to_string(last) + ".json"))
             .string();
  const ManifestLock lock(folder);
  std::optional<FrameManifest> m = ReadManifestFile(PathIn(folder, FrameManifest::kFileName));
  if (m) {
    const std::string difference = animation.Difference(m->animation);
    if (!difference.empty())
      throw ManifestError(PathIn(folder, FrameManifest::kFileName) +
                          ": the folder holds another animation's frames (" + difference +
                          "); render into another folder");
  } else {
    m.emplace();
    m->animation = std::move(animation);
    m->Write(folder);
  }
  AddParts(folder, &*m);
  found = std::move(*m);
  try {
    std::optional<FrameManifest> earlier = ReadManifestFile(part);
    if (earlier && earlier->animation.Difference(found.animation).empty()) mine = std::move(earlier->frames);
  } catch (const ManifestError&) {
    // Not a part of ours: this run's first record replaces it.
  }
}

bool FrameLedger::Complete(int frame) const {
  return CheckFrame(folder, found, frame).state == FrameState::kComplete;
}

void FrameLedger::Record(int frame) {
  FrameRecord record;
  record.file = FrameFileOf(found.animation, frame);
  record.sha256 = FileSha256(PathIn(folder, record.file), &record.size);
  mine[frame] = std::move(record);
  std::error_code ec;
  fs::create_directories(fs::path(part).parent_path(), ec);
  if (ec) throw ManifestError(fs::path(part).parent_path().string() + ": cannot create the folder: " + ec.message());
  FrameManifest m;
  m.animation = found.animation;
  m.frames = mine;
  WriteManifestFile(part, m);
}

void FrameLedger::Merge() {
  if (mine.empty()) return;
  const ManifestLock lock(folder);
  std::optional<FrameManifest> m = ReadManifestFile(PathIn(folder, FrameManifest::kFileName));
  if (!m || !m->animation.Difference(found.animation).empty()) {
    m.emplace();
    m->animation = found.animation;
  }
  for (const auto& [frame, record] : mine) m->frames[frame] = record;
  m->Write(folder);
  ::unlink(part.c_str());
  ::rmdir(PathIn(folder, kPartFolder).c_str());  // when no other run's part is left
}

void FrameLedger::MergeAll() {
  const ManifestLock lock(folder);
  std::optional<FrameManifest> all = FrameManifest::Read(folder);
  if (!all) return;
  all->Write(folder);
  for (const std::string& path : PartPaths(folder)) ::unlink(path.c_str());
  ::rmdir(PathIn(folder, kPartFolder).c_str());
}

std::vector<std::string> LeftoverTemporaries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".kstroke-", 0) == 0 && name.size() == 15) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}
