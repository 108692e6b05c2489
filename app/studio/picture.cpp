// SPDX-License-Identifier: MIT
// Canvas pixels for the page; see app/studio/picture.h.
#include "app/studio/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

uint8_t SrgbByte(double linear) {
  const double v = std::clamp(linear, 0.0, 1.0);
  const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  return uint8_t(std::lround(encoded * 255));
}

// sRGB bytes of linear values, one table per depth; float values are looked up at
// 1/65535 steps, finer than an 8-bit result can show.
const std::vector<uint8_t>& LinearTable(kstroke::Depth depth) {
  static const std::vector<uint8_t> k8 = [] {
    std::vector<uint8_t> t(256);
    for (size_t i = 0; i < t.size(); ++i) t[i] = SrgbByte(double(i) / 255);
    return t;
  }();
  static const std::vector<uint8_t> k16 = [] {
    std::vector<uint8_t> t(65536);
    for (size_t i = 0; i < t.size(); ++i) t[i] = SrgbByte(double(i) / 32768);
    return t;
  }();
  static const std::vector<uint8_t> kFloat = [] {
    std::vector<uint8_t> t(65536);
    for (size_t i = 0; i < t.size(); ++i) t[i] = SrgbByte(double(i) / 65535);
    return t;
  }();
  return depth == kstroke::Depth::k8 ? k8 : depth == kstroke::Depth::k16 ? k16 : kFloat;
}

uint8_t Byte16(uint16_t v) { return uint8_t(std::min<uint32_t>(255, (uint32_t(v) * 255 + 16384) >> 15)); }

uint8_t ByteFloat(float v) {
  return uint8_t(std::lround(std::clamp(double(v), 0.0, 1.0) * 255));
}

size_t FloatIndex(float v) { return size_t(std::lround(std::clamp(double(v), 0.0, 1.0) * 65535)); }

void PutU32(std::string* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + size_t(i)] = char((v >> (8 * i)) & 0xff);
}

kstroke::Rect Clipped(const kstroke::Rect& r, int32_t width, int32_t height) {
  kstroke::Rect c{std::max(0, r.left), std::max(0, r.top), std::min(width, r.right),
                  std::min(height, r.bottom)};
  if (c.Empty()) c = {0, 0, 0, 0};
  return c;
}

std::string Header(uint32_t kind, uint32_t a, uint32_t b, const kstroke::Rect& r, float ms,
                   size_t pixels) {
  std::string out(32 + pixels * 4, '\0');
  PutU32(&out, 0, kind);
  PutU32(&out, 4, a);
  PutU32(&out, 8, b);
  PutU32(&out, 12, uint32_t(r.left));
  PutU32(&out, 16, uint32_t(r.top));
  PutU32(&out, 20, uint32_t(r.right - r.left));
  PutU32(&out, 24, uint32_t(r.bottom - r.top));
  uint32_t bits;
  std::memcpy(&bits, &ms, 4);
  PutU32(&out, 28, bits);
  return out;
}

}  // namespace

std::size_t PixelBytes(kstroke::Depth depth) {
  return depth == kstroke::Depth::k8 ? 4 : depth == kstroke::Depth::k16 ? 8 : 16;
}

void DisplayPixels(const kstroke::Canvas& canvas, const kstroke::Rect& r, uint8_t* rgba) {
  const kstroke::PixelView view = const_cast<kstroke::Canvas&>(canvas).Pixels();
  const bool linear = canvas.Space() == kstroke::ColourSpace::kLinear;
  const std::vector<uint8_t>& table = LinearTable(view.depth);
  const int32_t w = r.right - r.left;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const char* row = static_cast<const char*>(view.data) + y * view.rowBytes;
    uint8_t* out = rgba + size_t(y - r.top) * size_t(w) * 4;
    for (int32_t x = r.left; x < r.right; ++x, out += 4) {
      if (view.depth == kstroke::Depth::k8) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(row) + size_t(x) * 4;
        for (int c = 0; c < 3; ++c) out[c] = linear ? table[p[c + 1]] : p[c + 1];
        out[3] = p[0];
      } else if (view.depth == kstroke::Depth::k16) {
        const uint16_t* p = reinterpret_cast<const uint16_t*>(row) + size_t(x) * 4;
        for (int c = 0; c < 3; ++c) out[c] = linear ? table[std::min<uint16_t>(p[c + 1], 32768)] : Byte16(p[c + 1]);
        out[3] = Byte16(p[0]);
      } else {
        const float* p = reinterpret_cast<const float*>(row) + size_t(x) * 4;
        for (int c = 0; c < 3; ++c) out[c] = linear ? table[FloatIndex(p[c + 1])] : ByteFloat(p[c + 1]);
        out[3] = ByteFloat(p[0]);
      }
    }
  }
}

std::string EncodePicture(uint32_t kind, uint32_t a, uint32_t b, const kstroke::Rect& rect,
                          float ms, const kstroke::Canvas& canvas) {
  const kstroke::Rect r = Clipped(rect, canvas.Width(), canvas.Height());
  std::string out = Header(kind, a, b, r, ms, size_t(r.right - r.left) * size_t(r.bottom - r.top));
  DisplayPixels(canvas, r, reinterpret_cast<uint8_t*>(&out[32]));
  return out;
}

std::string EncodeCursor(const kelvo::inkwork::Image& outline, float centreX, float centreY,
                         float ms) {
  const int32_t w = outline.GetWidth(), h = outline.GetHeight();
  const kstroke::Rect r{int32_t(std::lround(centreX)), int32_t(std::lround(centreY)),
                        int32_t(std::lround(centreX)) + w, int32_t(std::lround(centreY)) + h};
  std::string out = Header(4, 0, 0, r, ms, size_t(w) * size_t(h));
  uint8_t* rgba = reinterpret_cast<uint8_t*>(&out[32]);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x, rgba += 4) {
      uint8_t argb[4];
      outline.GetPixel(x, y, argb);
      // Premultiplied in the image, straight for the page.
      const uint32_t alpha = argb[0];
      for (int c = 0; c < 3; ++c)
        rgba[c] = alpha ? uint8_t(std::min<uint32_t>(255, (argb[c + 1] * 255u + alpha / 2) / alpha)) : 0;
      rgba[3] = uint8_t(alpha);
    }
  return out;
}

void CopyWorld(const GX_World& world, kstroke::Canvas* canvas) {
  const GX_LayerDef& from = *world.GetLayer();
  const kstroke::PixelView to = canvas->Pixels();
  const size_t bytes = size_t(to.width) * PixelBytes(to.depth);
  for (int32_t y = 0; y < to.height; ++y)
    std::memcpy(static_cast<char*>(to.data) + y * to.rowBytes,
                static_cast<const char*>(from.data) + y * from.rowBytes, bytes);
}
