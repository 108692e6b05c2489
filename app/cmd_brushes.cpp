// SPDX-License-Identifier: MIT
// kstroke brushes: the built-in brush presets, listed, or drawn one sample stroke each on
// a labelled sheet.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "document/brush_presets.h"
#include "app/commands.h"
#include "document/output_file.h"
#include "app/progress_bar.h"
#include "document/render_document.h"
#include "app/signals.h"
#include "host/inkwork/inkwork.h"

namespace {

struct BrushesOptions {
  std::string sheet;
  bool quiet = false;
};

constexpr int kColumns = 2;
constexpr int kCellWidth = 400;
constexpr int kCellHeight = 130;
constexpr int kLabelHeight = 34;

// An S across cell (column, row) below its label, pressure rising and falling, the pen
// tilting as it goes (for presets that read the tilt).
std::vector<DocEvent> SampleEvents(int column, int row, int width, int height) {
  std::vector<DocEvent> events;
  const int n = 60;
  const double left = column * kCellWidth + 40, right = (column + 1) * kCellWidth - 40;
  const double middle = row * kCellHeight + kLabelHeight + (kCellHeight - kLabelHeight) / 2.0;
  for (int i = 0; i < n; ++i) {
    const double u = double(i) / (n - 1);
    DocEvent e;
    e.time = i / 120.0;
    e.x = (left + (right - left) * u) / width;
    e.y = (middle - 22 * std::sin(u * 2 * 3.14159265358979323846)) / height;
    e.pressure = 0.25 + 0.75 * std::sin(u * 3.14159265358979323846);
    e.tiltY = 60 * u;
    events.push_back(e);
  }
  return events;
}

// Every preset's sample stroke on one canvas; an eraser erases a band laid down first.
StrokeDoc SheetDoc() {
  const auto& presets = BrushPresetTexts();
  const int rows = int(presets.size() + kColumns - 1) / kColumns;
  StrokeDoc doc;
  doc.path = "brush sheet";
  doc.width = kColumns * kCellWidth;
  doc.height = rows * kCellHeight;
  doc.batch = 4;
  for (size_t i = 0; i < presets.size(); ++i) {
    const int column = int(i) % kColumns, row = int(i) / kColumns;
    const DocBrushPreset preset = LoadBrush(presets[i].name);
    DocStroke s;
    s.source.colour = {{0.12, 0.16, 0.32, 1}};
    s.seed = int(i) + 1;
    s.events = SampleEvents(column, row, doc.width, doc.height);
    if (preset.transfer && *preset.transfer == "erase") {
      DocStroke band = s;
      band.brush.diameter = 70;
      band.brush.hardness = 0.9;
      band.brush.spacing = 0.05;
      band.source.colour = {{0.55, 0.62, 0.8, 1}};
      for (DocEvent& e : band.events) e.pressure.reset();
      doc.strokes.push_back(band);
    }
    s.brush = preset.brush;
    if (preset.transfer) s.transfer = *preset.transfer;
    doc.strokes.push_back(s);
  }
  return doc;
}

// The canvas (8-bit) over white as a Cairo image, with each preset's name and
// description above its stroke.
kelvo::inkwork::ImageP LabelledSheet(const GX_World& canvas) {
  const GX_LayerDef& layer = *canvas.GetLayer();
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, layer.width, layer.height);
  kelvo::inkwork::ImageP image = kelvo::inkwork::Image::Adopt(surface);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < layer.height; ++y)
    for (int x = 0; x < layer.width; ++x) {
      const auto* p = static_cast<const GX_Pixel8*>(GXp_PixelAddress(layer, x, y));
      // Over white, so what an eraser took away shows as paper.
      const auto over = [&](uint8_t c) {
        return uint32_t((c * p->alpha + 255 * (255 - p->alpha) + 127) / 255);
      };
      const uint32_t argb = 0xFF000000u | (over(p->red) << 16) | (over(p->green) << 8) | over(p->blue);
      std::memcpy(data + std::ptrdiff_t(y) * stride + 4 * x, &argb, 4);
    }
  cairo_surface_mark_dirty(surface);
  cairo_t* cr = cairo_create(surface);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  const auto& presets = BrushPresetTexts();
  for (size_t i = 0; i < presets.size(); ++i) {
    const double left = (int(i) % kColumns) * kCellWidth + 14;
    const double top = (int(i) / kColumns) * kCellHeight;
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
    cairo_set_font_size(cr, 15);
    cairo_move_to(cr, left, top + 20);
    cairo_show_text(cr, presets[i].name);
    cairo_set_source_rgb(cr, 0.4, 0.4, 0.45);
    cairo_set_font_size(cr, 10.5);
    cairo_move_to(cr, left, top + 33);
    cairo_show_text(cr, presets[i].description);
  }
  cairo_destroy(cr);
  return image;
}

int RunBrushes(const BrushesOptions& o) {
  if (o.sheet.empty()) {
    for (const BrushPresetText& p : BrushPresetTexts()) std::printf("%-12s %s\n", p.name, p.description);
    return kExitOk;
  }
  try {
    ConsoleProgress progress("brushes", o.quiet);
    const std::unique_ptr<GX_World> canvas = RenderDocument(SheetDoc(), &progress);
    const kelvo::inkwork::ImageP sheet = LabelledSheet(*canvas);
    AtomicOutput out(o.sheet);
    sheet->WritePng(out.Stream(), o.sheet);
    ThrowIfCancelled();
    out.Commit();
    if (!o.quiet) std::fprintf(stderr, "wrote %s\n", o.sheet.c_str());
    return kExitOk;
  } catch (const OutputError& e) {
    std::fprintf(stderr, "kstroke brushes: %s\n", e.what());
  } catch (const kelvo::inkwork::Error&) {
    std::fprintf(stderr, "kstroke brushes: %s: cannot write the output file\n", o.sheet.c_str());
  } catch (const RenderError& e) {
    std::fprintf(stderr, "kstroke brushes: %s\n", e.what());
  } catch (long code) {
    if (code != GX_Err_Cancelled) throw;
    std::fprintf(stderr, "kstroke brushes: cancelled; %s not written\n", o.sheet.c_str());
    return CancelledStatus();
  }
  return kExitFailure;
}

const KstrokeCommand kBrushes(
    "brushes", "list the brush presets, or draw them on a sheet",
    [](CLI::App& sub) -> KstrokeCommand::Run {
      auto o = std::make_shared<BrushesOptions>();
      sub.add_option("--sheet", o->sheet, "draw one sample stroke per preset into this PNG");
      sub.add_flag("-q,--quiet", o->quiet, "no progress bar");
      return [o] { return RunBrushes(*o); };
    });

}  // namespace
