// SPDX-License-Identifier: MIT
// JPEG reading through libjpeg-turbo's libjpeg interface.
//
// libjpeg reports errors by longjmp, so the function that calls it keeps only plain
// locals, and everything it touches is owned by the caller's job. Its warnings about
// damaged data (a file cut short among them, which it would otherwise finish in grey)
// are errors here.
#include "host/gx/gx_jpeg.h"

#include <stdio.h>  // jpeglib.h needs FILE and size_t first

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/pixels/gx_image_rows.h"

namespace {

/// Scans a progressive file may have: real ones have about ten; each costs a pass over
/// the whole image, so a file of many tiny scans could keep the decoder busy for hours.
constexpr int kMaxScans = 1000;

enum Outcome { kDone = 0, kLibError, kStopped, kTooLarge, kNoMemory, kTooManyScans };

struct ErrorManager {
  jpeg_error_mgr std;  // first: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX] = "";
};

struct Job;

struct Progress {
  jpeg_progress_mgr std;  // first
  Job* job;
};

struct Job {
  const GX_ImageReadOptions* options = nullptr;
  int32_t depth = 8;
  uint32_t width = 0, height = 0;
  gxp::FileColour colour;
  std::unique_ptr<GX_World> world;
  std::optional<gxp::RowDecoder> decoder;
  std::vector<unsigned char> scan;  ///< one decoded scan line
  std::vector<unsigned char> rgba;  ///< the same as RGBA
  int32_t stopCode = 0;
  ErrorManager err;
  Progress progress;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->text);
  std::longjmp(err->jump, kLibError);
}

void OnMessage(j_common_ptr cinfo, int level) {
  // Level -1 is a warning; the others are trace output. Damaged entropy-coded data
  // would be patched over with grey: that is an error here. The rest (stray bytes
  // between markers, a bogus ICC marker, an unusual version) do not change pixels.
  if (level >= 0) return;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
      OnError(cinfo);  // does not return
    default:
      return;
  }
}

// Between scans of a progressive file: cancellation and the scan ceiling.
void OnProgress(j_common_ptr cinfo) {
  Job* job = reinterpret_cast<Progress*>(cinfo->progress)->job;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
    std::longjmp(err->jump, kTooManyScans);
  const GX_ProgressInfo* p = job->options->progress;
  if (p && p->abortCheck && (job->stopCode = p->abortCheck(p->context)) != 0)
    std::longjmp(err->jump, kStopped);
}

// The file's colour: an ICC profile when it carries one (APP2), else sRGB. libjpeg
// only reads markers it has already saved here, so nothing in it jumps.
gxp::FileColour ColourOf(j_decompress_ptr cinfo) {
  gxp::FileColour c;
  JOCTET* icc = nullptr;
  unsigned int size = 0;
  if (jpeg_read_icc_profile(cinfo, &icc, &size) && icc) {
    c.profile.assign(icc, icc + size);
    std::free(icc);
  }
  return c;
}

// No libjpeg call: sets aside the world and rows once the header has passed.
int Prepare(Job* job, std::size_t scanBytes) noexcept {
  if (gxp::OverLimits(*job->options, job->width, job->height)) return kTooLarge;
  try {
    job->world.reset(gxp::NewWorldOrNull(job->width, job->height, job->depth));
    if (!job->world) return kNoMemory;
    job->scan.resize(scanBytes);
    job->rgba.resize(std::size_t(job->width) * 4);
    job->decoder.emplace(gxp::FileSample::kU8, false, job->colour, job->options->colour,
                         int32_t(job->width));
  } catch (...) {
    return kNoMemory;
  }
  return kDone;
}

// CMYK inverted (255 is no ink, as files with an APP14 marker store it) or plain, to RGB
// without a profile.
void CmykToRgba(const unsigned char* in, bool inverted, uint32_t width, unsigned char* out) {
  for (uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
    const unsigned k = inverted ? in[3] : 255u - in[3];
    for (int c = 0; c < 3; ++c) {
      const unsigned v = inverted ? in[c] : 255u - in[c];
      out[c] = static_cast<unsigned char>((v * k + 127u) / 255u);
    }
    out[3] = 255;
  }
}

int Decode(std::FILE* file, Job* job) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&job->err.std);
  job->err.std.error_exit = OnError;
  job->err.std.emit_message = OnMessage;
  const int jumped = setjmp(job->err.jump);
  if (jumped) {
    jpeg_destroy_decompress(&cinfo);
    return jumped;
  }
  jpeg_create_decompress(&cinfo);
  // Coefficients of a progressive file stay in memory while its scans arrive: a few
  // bytes a pixel, well within what the size limits allow, and nothing more.
  if (job->options->maxPixels > 0)
    cinfo.mem->max_memory_to_use = long(job->options->maxPixels) * 8 + (64L << 20);
  job->progress.std.progress_monitor = OnProgress;
  job->progress.job = job;
  cinfo.progress = &job->progress.std;
  jpeg_stdio_src(&cinfo, file);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  job->width = cinfo.image_width;
  job->height = cinfo.image_height;
  if (gxp::OverLimits(*job->options, job->width, job->height)) {
    jpeg_destroy_decompress(&cinfo);
    return kTooLarge;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  const bool inverted = cinfo.saw_Adobe_marker;
  if (!cmyk) job->colour = ColourOf(&cinfo);
  jpeg_start_decompress(&cinfo);
  const int prepared = Prepare(job, std::size_t(cinfo.output_width) * 4);
  if (prepared != kDone || cinfo.output_components != 4) {
    jpeg_destroy_decompress(&cinfo);
    return prepared != kDone ? prepared : kLibError;
  }
  GX_LayerDef* layer = job->world->GetLayer();
  while (cinfo.output_scanline < cinfo.output_height) {
    const int32_t y = int32_t(cinfo.output_scanline);
    JSAMPROW row = job->scan.data();
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) OnError(reinterpret_cast<j_common_ptr>(&cinfo));
    if (cmyk) CmykToRgba(job->scan.data(), inverted, job->width, job->rgba.data());
    const unsigned char* rgba = cmyk ? job->rgba.data() : job->scan.data();
    if ((job->stopCode = job->decoder->Store(rgba, layer, y, job->options->progress)) != 0) {
      jpeg_destroy_decompress(&cinfo);
      return kStopped;
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return kDone;
}

}  // namespace

int32_t GX_ReadJpegStream(std::FILE* file, const char* name, int32_t depth, GX_World** world,
                          const GX_ImageReadOptions* options) {
  Job job;
  if (int32_t rc = gxp::StartRead(file, name, depth, world, options, &job.options)) return rc;
  unsigned char soi[2] = {};
  if (std::fread(soi, 1, 2, file) != 2 || soi[0] != 0xFF || soi[1] != 0xD8 ||
      std::fseek(file, 0, SEEK_SET) != 0)
    return gxp::ImageFail(GX_Err_ImageFormat, std::string("'") + name + "' is not a JPEG file");
  job.depth = depth;
  switch (Decode(file, &job)) {
    case kDone: *world = job.world.release(); return gxp::ImageSucceed();
    case kTooLarge: return gxp::TooLarge(name, *job.options, job.width, job.height);
    case kNoMemory: return gxp::NoMemoryFor(name, job.width, job.height, depth);
    case kStopped: return gxp::Stopped(name, true, job.stopCode);
    case kTooManyScans:
      return gxp::CorruptFile(name, "more than " + std::to_string(kMaxScans) + " scans");
    default: return gxp::CorruptFile(name, job.err.text[0] ? job.err.text : "not a usable JPEG");
  }
}
