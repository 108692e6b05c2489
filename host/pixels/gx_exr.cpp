// SPDX-License-Identifier: MIT
// OpenEXR reading and writing through the OpenEXR library's C++ interface, on the
// caller's stdio stream.
//
// Before the library sees a file, its first header is walked here for the data window
// and the tile size, which are checked against the reader's limits: the library sets
// aside line and tile buffers from them as soon as a file is opened. Pixels then come
// one scan line at a time into a float RGBA row (the library converts half and
// places each channel), which the shared row decoder turns into the world's row.
#include "host/gx/gx_exr.h"

#include <OpenEXR/Iex.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <Imath/half.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "host/pixels/gx_image_rows.h"

namespace {

using gxp::ImageFail;

// Streams over the caller's FILE*
// ====

class InStream : public Imf::IStream {
public:
  InStream(std::FILE* f, const char* name) : Imf::IStream(name), file(f) {}
  bool read(char c[], int n) override {
    if (n < 0 || std::fread(c, 1, std::size_t(n), file) != std::size_t(n))
      throw Iex::InputExc("the file ends early");
    return true;
  }
  uint64_t tellg() override {
    const off_t at = ftello(file);
    if (at < 0) throw Iex::InputExc(std::strerror(errno));
    return uint64_t(at);
  }
  void seekg(uint64_t pos) override {
    if (pos > uint64_t(INT64_MAX) || fseeko(file, off_t(pos), SEEK_SET) != 0)
      throw Iex::InputExc("cannot seek in the file");
  }
  void clear() override { std::clearerr(file); }

private:
  std::FILE* file;
};

class OutStream : public Imf::OStream {
public:
  OutStream(std::FILE* f, const char* name) : Imf::OStream(name), file(f) {}
  void write(const char c[], int n) override {
    if (n < 0 || std::fwrite(c, 1, std::size_t(n), file) != std::size_t(n))
      throw Iex::IoExc(std::strerror(errno));
  }
  uint64_t tellp() override {
    const off_t at = ftello(file);
    if (at < 0) throw Iex::IoExc(std::strerror(errno));
    return uint64_t(at);
  }
  void seekp(uint64_t pos) override {
    if (pos > uint64_t(INT64_MAX) || fseeko(file, off_t(pos), SEEK_SET) != 0)
      throw Iex::IoExc(std::strerror(errno));
  }

private:
  std::FILE* file;
};

// The header walk
// ====

struct HeadFacts {
  int64_t xMin = 0, yMin = 0, xMax = -1, yMax = -1;
  bool hasWindow = false;
  uint32_t tileX = 0, tileY = 0;  ///< 0: not tiled
};

int32_t LittleInt(const unsigned char* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                 uint32_t(p[3]) << 24);
}

// Reads a null-terminated name of at most 255 bytes; "" at the header's end.
bool ReadName(std::FILE* f, std::string* name) {
  name->clear();
  for (int c; (c = std::fgetc(f)) != 0;) {
    if (c == EOF || name->size() >= 255) return false;
    name->push_back(char(c));
  }
  return true;
}

// Walks the attributes of the first header: magic, version, then (name, type, size,
// value) until an empty name. Answers "" or what is wrong.
std::string WalkHeader(std::FILE* f, HeadFacts* facts) {
  unsigned char start[8];
  if (std::fread(start, 1, 8, f) != 8) return "the file ends inside its header";
  if (LittleInt(start) != 20000630) return "not an OpenEXR file";
  if ((start[4] & 0xFF) != 2) return "version " + std::to_string(start[4]) + " is not supported";
  std::string name, type;
  for (int count = 0;; ++count) {
    if (!ReadName(f, &name)) return "header: a damaged attribute name";
    if (name.empty()) break;
    if (count >= 10000) return "header: too many attributes";
    unsigned char size4[4];
    if (!ReadName(f, &type) || std::fread(size4, 1, 4, f) != 4)
      return "header: attribute \"" + gxp::OneLine(name) + "\" is cut short";
    const int32_t size = LittleInt(size4);
    if (size < 0) return "header: attribute \"" + gxp::OneLine(name) + "\" has a negative size";
    const bool window = name == "dataWindow" && type == "box2i" && size == 16;
    const bool tiles = name == "tiles" && type == "tiledesc" && size == 9;
    if (window || tiles) {
      unsigned char v[16];
      if (std::fread(v, 1, std::size_t(size), f) != std::size_t(size))
        return "header: attribute \"" + name + "\" is cut short";
      if (window) {
        facts->xMin = LittleInt(v), facts->yMin = LittleInt(v + 4);
        facts->xMax = LittleInt(v + 8), facts->yMax = LittleInt(v + 12);
        facts->hasWindow = true;
      } else {
        facts->tileX = uint32_t(LittleInt(v)), facts->tileY = uint32_t(LittleInt(v + 4));
      }
    } else if (fseeko(f, size, SEEK_CUR) != 0) {
      return "header: cannot skip attribute \"" + gxp::OneLine(name) + "\"";
    }
  }
  if (!facts->hasWindow) return "header: dataWindow: missing";
  if (facts->xMax < facts->xMin || facts->yMax < facts->yMin) return "header: dataWindow: empty";
  return "";
}

// Reading
// ====

struct Channels {
  const char* colour[3] = {"R", "G", "B"};
  bool grey = false;  ///< Y read into red, then copied to green and blue
};

int32_t DecodeRows(Imf::InputFile& in, const char* name, const GX_ImageReadOptions& o,
                   int32_t depth, std::unique_ptr<GX_World>* out) {
  const Imf::Header& header = in.header();
  const Imath::Box2i dw = header.dataWindow();
  const uint64_t width = uint64_t(int64_t(dw.max.x) - dw.min.x + 1);
  const uint64_t height = uint64_t(int64_t(dw.max.y) - dw.min.y + 1);
  if (gxp::OverLimits(o, width, height)) return gxp::TooLarge(name, o, width, height);

  const Imf::ChannelList& list = header.channels();
  const bool anyColour = list.findChannel("R") || list.findChannel("G") || list.findChannel("B");
  Channels ch;
  ch.grey = !anyColour && list.findChannel("Y");
  if (!anyColour && !ch.grey && !list.findChannel("A"))
    return gxp::CorruptFile(name, "no R, G, B, Y or A channel");
  for (const char* c : {"R", "G", "B", "A", "Y"})
    if (const Imf::Channel* chan = list.findChannel(c))
      if (chan->xSampling != 1 || chan->ySampling != 1)
        return gxp::CorruptFile(name, std::string("channel ") + c + " is subsampled");

  gxp::FileColour colour = gxp::FileColour::Of(GX_ColourEncoding::kLinear);
  if (Imf::hasChromaticities(header)) {
    const Imf::Chromaticities& c = Imf::chromaticities(header);
    const double xy[8] = {c.white.x, c.white.y, c.red.x,  c.red.y,
                          c.green.x, c.green.y, c.blue.x, c.blue.y};
    if (!gxp::IsSrgbPrimaries(xy)) {
      colour.hasPrimaries = true;
      std::memcpy(colour.primaries, xy, sizeof xy);
    }
  }
  std::unique_ptr<GX_World> world(gxp::NewWorldOrNull(width, height, depth));
  std::vector<float> row;
  std::optional<gxp::RowDecoder> decoder;
  try {
    if (!world) throw std::bad_alloc();
    row.resize(std::size_t(width) * 4);
    decoder.emplace(gxp::FileSample::kFloat, true, colour, o.colour, int32_t(width));
  } catch (const std::bad_alloc&) {
    return gxp::NoMemoryFor(name, width, height, depth);
  }
  // Every scan line lands in the same row: y stride 0, and the data window's left edge
  // at the row's start (the address is formed as an integer, as the library does).
  const std::size_t stride = 4 * sizeof(float);
  const uintptr_t base =
      reinterpret_cast<uintptr_t>(row.data()) - uintptr_t(intptr_t(dw.min.x) * intptr_t(stride));
  Imf::FrameBuffer frame;
  const char* names[4] = {ch.grey ? "Y" : "R", "G", "B", "A"};
  for (int c = 0; c < (ch.grey ? 1 : 3); ++c)
    frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(base + c * sizeof(float)),
                                      stride, 0, 1, 1, 0.0));
  frame.insert("A", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(base + 3 * sizeof(float)),
                               stride, 0, 1, 1, 1.0));
  in.setFrameBuffer(frame);
  GX_LayerDef* layer = world->GetLayer();
  for (int32_t y = 0; y < int32_t(height); ++y) {
    in.readPixels(dw.min.y + y);
    if (ch.grey)
      for (std::size_t x = 0; x < width; ++x) row[4 * x + 1] = row[4 * x + 2] = row[4 * x];
    if (int32_t rc = decoder->Store(row.data(), layer, y, o.progress))
      return gxp::Stopped(name, true, rc);
  }
  *out = std::move(world);
  return 0;
}

}  // namespace

int32_t GX_ReadExrStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                         const GX_ImageReadOptions* options) {
  const GX_ImageReadOptions* used;
  if (int32_t rc = gxp::StartRead(file, name, depth, world, options, &used)) return rc;
  const GX_ImageReadOptions& o = *used;
  HeadFacts facts;
  const std::string problem = WalkHeader(file, &facts);
  if (!problem.empty()) {
    if (problem == "not an OpenEXR file")
      return ImageFail(GX_Err_ImageFormat, std::string("'") + name + "' is not an OpenEXR file");
    return gxp::CorruptFile(name, problem);
  }
  const uint64_t width = uint64_t(facts.xMax - facts.xMin + 1);
  const uint64_t height = uint64_t(facts.yMax - facts.yMin + 1);
  if (gxp::OverLimits(o, width, height)) return gxp::TooLarge(name, o, width, height);
  // The library sets aside whole tiles: one much larger than the image (small images
  // have 64-pixel tiles, so some slack is normal) only makes it allocate.
  const uint64_t tileArea = uint64_t(facts.tileX) * facts.tileY;
  if (facts.tileX > 65536 || facts.tileY > 65536 ||
      tileArea > std::max<uint64_t>(width * height, 1u << 22))
    return gxp::CorruptFile(name, "tiles of " + std::to_string(facts.tileX) + " × " +
                                      std::to_string(facts.tileY) +
                                      " pixels, larger than the image needs");
  if (fseeko(file, 0, SEEK_SET) != 0)
    return ImageFail(GX_Err_ImageOpen,
                     std::string("cannot read '") + name + "': " + std::strerror(errno));
  std::unique_ptr<GX_World> result;
  try {
    Imf::staticInitialize();
    InStream stream(file, name);
    Imf::InputFile in(stream);
    if (int32_t rc = DecodeRows(in, name, o, depth, &result)) return rc;
  } catch (const std::bad_alloc&) {
    return gxp::NoMemoryFor(name, width, height, depth);
  } catch (const std::exception& e) {
    return gxp::CorruptFile(name, e.what());
  }
  *world = result.release();
  return gxp::ImageSucceed();
}

int32_t GX_WriteExrStream(std::FILE* file, const char* name, const GX_LayerDef& layer,
                          const GX_ImageWriteOptions* options) {
  const GX_ImageWriteOptions* used;
  GX_SampleType sample;
  if (int32_t rc =
          gxp::StartWrite(file, name, layer, GX_ImageFormat::kExr, options, &used, &sample))
    return rc;
  const GX_ImageWriteOptions& o = *used;
  const Imf::PixelType type = sample == GX_SampleType::kHalf ? Imf::HALF : Imf::FLOAT;
  std::vector<float> row;
  std::vector<Imath::half> halves;  // the library takes half channels only from half slices
  std::optional<gxp::RowEncoder> encoder;
  try {
    row.resize(std::size_t(layer.width) * 4);
    if (type == Imf::HALF) halves.resize(row.size());
    encoder.emplace(layer, o.colour, gxp::FileSample::kFloat, GX_ColourEncoding::kLinear, true);
  } catch (const std::bad_alloc&) {
    return gxp::NoMemoryWriting(name);
  }
  try {
    Imf::staticInitialize();
    Imf::Header header(layer.width, layer.height);
    header.compression() = Imf::ZIP_COMPRESSION;
    Imf::addChromaticities(header, Imf::Chromaticities());
    const char* names[4] = {"R", "G", "B", "A"};
    Imf::FrameBuffer frame;
    for (int c = 0; c < 4; ++c) {
      header.channels().insert(names[c], Imf::Channel(type));
      char* base = type == Imf::HALF ? reinterpret_cast<char*>(halves.data() + c)
                                     : reinterpret_cast<char*>(row.data() + c);
      frame.insert(
          names[c],
          Imf::Slice(type, base, 4 * (type == Imf::HALF ? sizeof(Imath::half) : sizeof(float)), 0));
    }
    OutStream stream(file, name);
    Imf::OutputFile out(stream, header);
    out.setFrameBuffer(frame);
    for (int32_t y = 0; y < layer.height; ++y) {
      encoder->Load(y, row.data());
      for (std::size_t i = 0; i < halves.size(); ++i) halves[i] = Imath::half(row[i]);
      out.writePixels(1);
      if (int32_t rc = GX_ReportProgress(o.progress, y + 1, layer.height))
        return gxp::Stopped(name, false, rc);
    }
  } catch (const std::exception& e) {
    return ImageFail(GX_Err_ImageWrite,
                     std::string("cannot write '") + name + "': " + gxp::OneLine(e.what()));
  }
  // The line offsets are written as the file closes, where the library keeps any
  // failure to itself: the stream's error flag still tells.
  if (std::fflush(file) != 0 || std::ferror(file))
    return ImageFail(GX_Err_ImageWrite,
                     std::string("cannot write '") + name + "': " + std::strerror(errno));
  return gxp::ImageSucceed();
}
