// SPDX-License-Identifier: MIT
// libFuzzer target: the studio's messages. The input is a run of messages, each a byte
// saying text or binary and two bytes of length; each is parsed and, when it parses,
// handed to a session on a small canvas. Any message must either be taken or answered
// with one error, and a session must answer every message, whatever came before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/studio/protocol.h"
#include "app/studio/session.h"
#include "kstroke/frame.h"

namespace {

const StudioSettings& Settings() {
  static const StudioSettings settings = [] {
    StudioSettings s;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kstroke-fuzz-studio";
    std::filesystem::create_directories(folder / "uploads");
    s.folder = folder.string();
    s.uploads = (folder / "uploads").string();
    s.newWidth = 48;
    s.newHeight = 32;
    return s;
  }();
  return settings;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  K_Birth();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  StudioSession session(Settings(), 1);
  session.Start();
  for (size_t at = 0; at + 3 <= input.size();) {
    const bool binary = input[at] & 1;
    const size_t length = uint8_t(input[at + 1]) | size_t(uint8_t(input[at + 2])) << 8;
    const std::string_view message = input.substr(at + 3, length);
    at += 3 + message.size();
    bool parsed = true;
    try {
      const ClientMessage m = ParseClientMessage(message, binary);
      // A message may not ask for more than the limits allow.
      if (m.events.size() > kMaxBatchEvents) std::abort();
      if (m.kind == MessageKind::kNew && (m.width < 1 || m.height < 1)) std::abort();
      // New canvases stay small, so one input cannot take the run's memory; images are
      // the image readers' own targets', whose limits admit a gigabyte of pixels.
      if (m.kind == MessageKind::kNew && int64_t(m.width) * m.height > 256 * 256) continue;
      if (m.kind == MessageKind::kImage) continue;
    } catch (const ProtocolError&) {
      parsed = false;
    }
    const std::vector<Outgoing> replies = session.Handle(message, binary);
    if (!parsed) {
      // A message that does not parse gets exactly one reply, an error.
      if (replies.empty() || replies.back().binary ||
          replies.back().data.find("\"type\":\"error\"") == std::string::npos)
        std::abort();
    }
    while (session.Busy()) session.Continue();
  }
  return 0;
}
