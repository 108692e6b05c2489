// SPDX-License-Identifier: MIT
// The record of an animation's frames in its output folder, so that a run cut short can
// be resumed and finished frames checked, wherever each frame was rendered.
//
// DIR/manifest.json names the animation (the keyframes' SHA-256, write-on, the frame
// count, the files' format and depth) and, for every frame written so far, its file,
// size and SHA-256 (the same sum `sha256sum` prints):
//
//   {
//     "animation": {"count": 24, "fileDepth": "", "format": "png", "keyframes": [
//                   {"path": "/shot/a.json", "sha256": "…"}, …], "writeOn": false},
//     "frames": [
//       {"frame": 0, "file": "frame_0000.png", "size": 14153, "sha256": "…"},
//       …
//     ]
//   }
//
// Frames are renamed into place only when whole (document/output_file.h) and recorded
// right after, so a frame on disk with a matching record is complete. A run (one array
// task) records each frame as it completes in a part of its own,
// DIR/.manifest.d/frames_FIRST-LAST.json, laid out as the manifest and replaced whole
// each time; it has one writer, so it needs no lock. When the run ends, its records
// move into manifest.json in one read, change and atomic rewrite under an exclusive
// lock of DIR/.manifest.lock (flock, which NFS clients carry over to the server), and
// the part goes. Writing a frame thus costs one small rewrite, and the manifest one
// rewrite per task, however many frames and tasks share the folder. Readers take the
// manifest together with any parts a killed run left. A frame whose record was lost
// (its run killed between the rename and the record, or a folder without working
// locks) is drawn again rather than trusted.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

/// A manifest that cannot be read or written, or one of another animation; the message
/// is one line naming the file.
struct ManifestError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// What makes the frames of two runs interchangeable.
struct AnimationIdentity {
  struct Keyframe {
    std::string path;    ///< absolute; for people only, not compared
    std::string sha256;  ///< of the file's bytes, lower-case hex
  };
  std::vector<Keyframe> keyframes;
  bool writeOn = false;
  int count = 0;
  std::string format;     ///< the files' extension: png, tif, tiff or exr
  std::string fileDepth;  ///< as --file-depth gave it; "" for the format's choice

  /// "" when `other` renders the same frames; otherwise what differs, such as
  /// "48 frames, not 24" (this one's value second).
  std::string Difference(const AnimationIdentity& other) const;
};

/// The identity of an animation of `count` frames of `keyframes` (1 or 2 files, read to
/// sum them) written as `format` files. Throws ManifestError when a keyframe cannot be
/// read.
AnimationIdentity IdentifyAnimation(const std::vector<std::string>& keyframes, bool writeOn,
                                    int count, const std::string& format,
                                    const std::string& fileDepth);

struct FrameRecord {
  std::string file;    ///< name within the folder
  uint64_t size = 0;   ///< bytes
  std::string sha256;  ///< lower-case hex
};

struct FrameManifest {
  static constexpr const char* kFileName = "manifest.json";

  AnimationIdentity animation;
  std::map<int, FrameRecord> frames;

  /// DIR/manifest.json with the records of the parts in DIR/.manifest.d/ of the same
  /// animation (a part's record wins), or nothing when the folder has no manifest.
  /// Throws ManifestError for one that cannot be read or is not a manifest.
  static std::optional<FrameManifest> Read(const std::string& folder);
  /// Replaces DIR/manifest.json whole (document/output_file.h). Throws ManifestError.
  void Write(const std::string& folder) const;
};

/// The SHA-256 of a file's bytes (lower-case hex) and its size. Throws ManifestError.
std::string FileSha256(const std::string& path, uint64_t* size = nullptr);

/// How a frame's file stands against its record.
enum class FrameState {
  kComplete,    ///< on disk with the size and sum recorded
  kMissing,     ///< not on disk
  kDamaged,     ///< on disk, but its size or sum is not what was recorded
  kUnrecorded,  ///< on disk without a record
};
struct FrameCheck {
  FrameState state;
  std::string file;
  std::string detail;  ///< for kDamaged: how it differs
};
/// Checks frame `frame` of `manifest` in `folder` (reads the file when it has a record).
FrameCheck CheckFrame(const std::string& folder, const FrameManifest& manifest, int frame);

/// "frame_0007.png" for frame 7 of an animation written as `format` files.
std::string FrameFileOf(const AnimationIdentity& animation, int frame);

/// An output folder whose frames are recorded as they are written: `kstroke animate
/// --resume` and the tasks of `kstroke submit`.
class FrameLedger {
public:
  /// Creates `folder` when missing and starts its manifest with `animation`, or checks
  /// that the manifest there is of the same animation; a run of frames `first` …
  /// `last` takes over the part an earlier run of those frames left. Throws
  /// ManifestError (for another animation: "DIR/manifest.json: the folder holds another
  /// animation's frames (48 frames, not 24); render into another folder").
  FrameLedger(std::string folder, AnimationIdentity animation, int first = 0, int last = -1);

  /// True when frame `frame` is complete in the folder, as the records read at the
  /// start say.
  bool Complete(int frame) const;
  /// Sums frame `frame`'s file, now in place, and records it in this run's part.
  /// Throws ManifestError.
  void Record(int frame);
  /// Moves this run's records into the manifest and removes its part. Throws
  /// ManifestError.
  void Merge();
  /// Moves the records of every part into the manifest and removes the parts: for a
  /// new submission, before any of its tasks runs. Throws ManifestError.
  void MergeAll();

private:
  std::string folder;
  std::string part;  ///< this run's part, a path
  FrameManifest found;  ///< the manifest and every part, as read at the start
  std::map<int, FrameRecord> mine;  ///< what this run (and the one before it) recorded
};

/// Unfinished temporaries in `folder` (".kstroke-XXXXXX", which a process killed
/// while writing leaves behind), sorted by name.
std::vector<std::string> LeftoverTemporaries(const std::string& folder);
