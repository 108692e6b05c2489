// SPDX-License-Identifier: MIT
// What the image readers and writers share: the last message, argument and size
// checks, the colour a file is in, and rows converted between a file's samples and
// colour and a layer's depth and colour.
//
// A file row here is `width` pixels of red, green, blue, alpha (the order every format
// stores them), as 8-bit, native-endian 16-bit or float samples; integer samples stand
// for v / 255 and v / 65535. Half samples never appear: the OpenEXR library converts
// them to float.
//
// Where a file and a layer share their colour and alpha is straight, integer samples
// are rescaled exactly (rounded to nearest), so an 8-bit file read into an 8-bit layer
// and written again gives the same bytes. Everything else goes through unit floats:
// unpremultiplied, converted, premultiplied, and rounded to the target once.
#pragma once

#include <lcms2.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/gx/gx.h"
#include "host/gx/gx_image.h"

namespace gxp {

// Messages and checks
// ====

/// Records `message` as the thread's last image message and answers `code`.
int32_t ImageFail(int32_t code, const std::string& message);
/// Clears the last message and answers 0.
int32_t ImageSucceed();
/// The thread's last image message.
const char* LastImageMessage();

/// The checks every reader makes first; `*world` is null afterwards.
int32_t CheckReadArgs(std::FILE* file, const char* name, int32_t depth, GX_World** world);
/// CheckReadArgs, and `*used` the options to read with (the defaults for none).
int32_t StartRead(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                  const GX_ImageReadOptions* options, const GX_ImageReadOptions** used);
/// The checks every writer makes before it touches a file, with the sample type
/// `format` writes for the layer (options.sample, or the format's default).
int32_t CheckWriteArgs(const char* name, const GX_LayerDef& layer, GX_ImageFormat format,
                       const GX_ImageWriteOptions& options, GX_SampleType* sample);
/// CheckWriteArgs for a stream, with `*used` the options to write with (the defaults
/// for none).
int32_t StartWrite(std::FILE* file, const char* name, const GX_LayerDef& layer,
                   GX_ImageFormat format, const GX_ImageWriteOptions* options,
                   const GX_ImageWriteOptions** used, GX_SampleType* sample);
/// "out of memory writing 'name'" as Y_Err_OutOfMemory.
int32_t NoMemoryWriting(const char* name);

bool OverLimits(const GX_ImageReadOptions& options, uint64_t width, uint64_t height);
/// "'name' is W × H pixels, over the limit of …" as GX_Err_ImageTooLarge.
int32_t TooLarge(const char* name, const GX_ImageReadOptions& options, uint64_t width,
                 uint64_t height);
/// "out of memory for 'name' (W × H pixels, N MB)" as Y_Err_OutOfMemory.
int32_t NoMemoryFor(const char* name, uint64_t width, uint64_t height, int32_t depth);
/// "cannot read 'name': why" as GX_Err_ImageFormat.
int32_t CorruptFile(const char* name, const std::string& why);
/// "reading 'name' was stopped" / "writing 'name' was stopped" with `code`.
int32_t Stopped(const char* name, bool reading, int32_t code);
/// A world, or null when memory runs out.
GX_World* NewWorldOrNull(uint64_t width, uint64_t height, int32_t depth) noexcept;

/// `text` on one line, at most 120 bytes: libraries' messages may hold line breaks.
std::string OneLine(const std::string& text);

// Colour
// ====

/// The colour a file's values are in. An ICC profile wins; otherwise `gamma` (when
/// above 0: linear = stored^gamma) or else `encoding` gives the curve, and `primaries`
/// (when set: white, red, green, blue as x, y pairs) the primaries, sRGB's otherwise.
struct FileColour {
  GX_ColourEncoding encoding = GX_ColourEncoding::kSrgb;
  double gamma = 0;
  bool hasPrimaries = false;
  double primaries[8] = {};
  std::vector<unsigned char> profile;

  static FileColour Of(GX_ColourEncoding e) {
    FileColour c;
    c.encoding = e;
    return c;
  }
};

/// sRGB's chromaticities (= Rec. 709, white D65): white, red, green, blue as x, y.
extern const double kSrgbPrimaries[8];
/// Whether `xy` lies within 0.001 of sRGB's chromaticities in every coordinate.
bool IsSrgbPrimaries(const double xy[8]);

/// Converts unit float RGBA rows from a file's colour into an encoding, in place;
/// alpha is left alone. A profile Little CMS cannot use (damaged, or of another colour
/// space than RGB or grey) counts as absent: the file is then taken to be in
/// `from.encoding`.
class ColourConverter {
public:
  ColourConverter(const FileColour& from, GX_ColourEncoding to);
  ~ColourConverter();
  ColourConverter(const ColourConverter&) = delete;
  ColourConverter& operator=(const ColourConverter&) = delete;

  bool Identity() const { return kind == kIdentity; }
  void Apply(float* rgba, int32_t count) const;

private:
  enum Kind { kIdentity, kToLinear, kToSrgb, kPower, kProfile };
  Kind kind = kIdentity;
  double exponent = 1;  ///< kPower: linear = v^exponent, then to `target`
  GX_ColourEncoding target = GX_ColourEncoding::kSrgb;
  cmsHTRANSFORM transform = nullptr;
};

/// An ICC profile (as file bytes) for an encoding: sRGB's, or linear light with sRGB's
/// primaries. Empty when Little CMS cannot make one.
std::vector<unsigned char> EncodingProfile(GX_ColourEncoding encoding);

// Rows
// ====

enum class FileSample { kU8, kU16, kFloat };

/// Turns file rows into rows of a layer: unpremultiplied when the file is, converted
/// from the file's colour into `to`, rounded to the layer's depth.
class RowDecoder {
public:
  /// Throws std::bad_alloc.
  RowDecoder(FileSample sample, bool premultiplied, const FileColour& from, GX_ColourEncoding to,
             int32_t width);
  /// One file row into row `y` of `layer` (of the width given), then reports (y + 1,
  /// layer height) to `progress` (may be null) and answers what it answers.
  int32_t Store(const void* row, GX_LayerDef* layer, int32_t y, GX_ProgressInfo* progress);

private:
  void Convert(const void* row, GX_LayerDef* layer, int32_t y);

  FileSample sample;
  bool premultiplied;
  ColourConverter convert;
  std::vector<float> unit;  ///< one row of unit RGBA
};

/// Turns rows of a layer into file rows: converted from the layer's encoding into the
/// file's, premultiplied when the file wants it, rounded to the file's samples.
class RowEncoder {
public:
  /// Throws std::bad_alloc.
  RowEncoder(const GX_LayerDef& layer, GX_ColourEncoding from, FileSample sample,
             GX_ColourEncoding fileEncoding, bool premultiply);
  /// Row `y` of the layer into `out` (width × 4 samples).
  void Load(int32_t y, void* out);

private:
  const GX_LayerDef& layer;
  FileSample sample;
  bool premultiply;
  ColourConverter convert;
  std::vector<float> unit;
};

}  // namespace gxp
