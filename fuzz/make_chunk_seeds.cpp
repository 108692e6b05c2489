// SPDX-License-Identifier: MIT
// Writes the seed corpus of fuzz_shape_chunks: the time tables of a few real strokes,
// bare and nested inside an outer list. Usage: make_chunk_seeds OUTPUT_FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "host/dkf/dkf.h"
#include "kstroke/shape.h"

namespace {

bool Save(const std::string& path, DKF_File* file) {
  std::vector<uint8_t> bytes;
  if (DKF_GetBytes(file, &bytes) != 0) return false;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

K_Shape Stroke(int samples, bool pressure) {
  K_Shape shape;
  for (int i = 0; i < samples; ++i) {
    PaintPointerEvent e;
    e.time = 0.02 * (i + 1);
    e.x = 0.1 + 0.8 * i / samples;
    e.y = 0.5 + 0.1 * ((i % 3) - 1);
    if (pressure) {
      e.params[K_StrokeParam_Diameter] = 0.2f + 0.1f * float(i % 8);
      e.params[K_StrokeParam_Flow] = 0.1f * float(i % 10);
      e.params[K_StrokeParam_Angle] = 10.0f * float(i);
    }
    e.useSpacing = i % 4 != 3;
    shape.AppendVertex(&e);
  }
  return shape;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_chunk_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  struct Seed {
    const char* name;
    int samples;
    bool pressure;
    bool nested;
  };
  const Seed seeds[] = {{"one_sample", 1, false, false},
                        {"short_plain", 3, false, false},
                        {"pressure", 12, true, false},
                        {"nested_pressure", 6, true, true}};
  for (const Seed& s : seeds) {
    K_Shape shape = Stroke(s.samples, s.pressure);
    DKF_ScFile file;
    if (DKF_NewMemoryFile(file.Out()) != 0) return 1;
    try {
      DKF_ChunkWriteState outer;
      if (s.nested && DKF_BeginChunkWrite(file.Get(), kDKF_TagList, 0, DKF_Tag("layr"), &outer))
        return 1;
      shape.WriteExtraChunks(file.Get());
      if (s.nested && DKF_EndChunkWrite(file.Get(), &outer)) return 1;
    } catch (long code) {
      std::fprintf(stderr, "make_chunk_seeds: %s: error %ld\n", s.name, code);
      return 1;
    }
    if (!Save(folder + "/" + s.name + ".dkf", file.Get())) return 1;
  }
  return 0;
}
