// SPDX-License-Identifier: MIT
// libFuzzer target: a stroke's time tables read back from hostile chunk bytes. The
// reader must answer every malformed input with a thrown code, never a crash, and a
// table it accepted must write out again.
#include <cstddef>
#include <cstdint>

#include "host/dkf/dkf.h"
#include "kstroke/shape.h"

namespace {

// Reads the tables below `parent`, then writes what was read to a fresh memory file.
void ReadAndRewrite(DKF_File* file, const DKF_ChunkInfo* parent) {
  K_Shape shape;
  try {
    shape.ReadExtraChunks(file, parent);
  } catch (long) {
    return;
  }
  DKF_ScFile out;
  if (DKF_NewMemoryFile(out.Out()) != 0) return;
  try {
    shape.WriteExtraChunks(out.Get());
  } catch (long) {
    // A table read from a file may still be refused on the way out; no crash is all
    // that is asked here.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DKF_ScFile file;
  if (DKF_OpenMemory(data, size, file.Out()) != 0) return 0;
  DKF_ChunkInfo root;
  if (DKF_GetRootInfo(file.Get(), &root) != 0) return 0;
  // The tables at the top level, as a bare stroke file holds them...
  ReadAndRewrite(file.Get(), &root);
  // ...and below an outer list, as a project file nests a stroke inside its layer.
  bool found = false;
  DKF_ScDescend outer(file.Get(), kDKF_TagList, 0, &root, &found);
  if (outer.Result() == 0 && outer.Entered()) ReadAndRewrite(file.Get(), outer.GetChunkInfo());
  return 0;
}
