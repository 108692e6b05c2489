// SPDX-License-Identifier: MIT
// Building chunk-file bytes by hand, for tests that check what the chunk library writes
// and what it makes of hostile input.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "host/dkf/dkf.h"

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
/// The four characters of a tag.
inline Bytes Str(const char* s) { return Bytes(s, s + 4); }
inline Bytes Be32(uint32_t v) {
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
/// A chunk whose size field says `size` (normally the body's length), padded when odd.
inline Bytes RawChunk(const char* tag, uint32_t size, const Bytes& body) {
  Bytes out = Cat({Str(tag), Be32(size), body});
  if (body.size() % 2) out.push_back(0);
  return out;
}
inline Bytes Chunk(const char* tag, const Bytes& body) {
  return RawChunk(tag, uint32_t(body.size()), body);
}
inline Bytes List(const char* type, const Bytes& kids) {
  return Chunk("LIST", Cat({Str(type), kids}));
}
/// Everything written to a memory file so far.
inline Bytes FileBytes(DKF_File* f) {
  Bytes b;
  EXPECT_EQ(DKF_GetBytes(f, &b), 0);
  return b;
}
