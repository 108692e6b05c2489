// SPDX-License-Identifier: MIT
// Keyframe interpolation and write-on frames; the rules are at the top of app/animate.h.
#include "app/animate.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "document/progress_records.h"
#include "document/recorded_shape.h"
#include "document/render_document.h"
#include "document/stroke_input.h"
#include "document/symmetry.h"
#include "host/ws/ws.h"

namespace {

std::string NameOf(const StrokeDoc& doc) {
  return doc.path.empty() ? std::string("built-in stroke") : doc.path;
}

std::string Strokes(size_t n) { return std::to_string(n) + (n == 1 ? " stroke" : " strokes"); }

// (1 − f)·x + f·y rather than x + (y − x)·f: exactly x at 0 and exactly y at 1.
double Mix(double x, double y, double f) { return (1.0 - f) * x + f * y; }

void BlendSettings(const DocStroke& b, double f, DocStroke* s) {
  DocBrush& brush = s->brush;
  brush.diameter = Mix(brush.diameter, b.brush.diameter, f);
  brush.hardness = Mix(brush.hardness, b.brush.hardness, f);
  brush.roundness = Mix(brush.roundness, b.brush.roundness, f);
  brush.angle = Mix(brush.angle, b.brush.angle, f);
  brush.spacing = Mix(brush.spacing, b.brush.spacing, f);
  brush.opacity = Mix(brush.opacity, b.brush.opacity, f);
  brush.flow = Mix(brush.flow, b.brush.flow, f);
  if (s->source.type == "fill" && b.source.type == "fill")
    for (size_t c = 0; c < 4; ++c)
      s->source.colour[c] = Mix(s->source.colour[c], b.source.colour[c], f);
}

std::unique_ptr<K_Shape> NewShape() {
  std::unique_ptr<K_Shape> shape(new K_Shape());
  if (!shape) throw std::bad_alloc();
  return shape;
}

std::unique_ptr<K_Shape> Interpolate(const K_Shape& a, const K_Shape& b, double f,
                                     const std::string& where) {
  std::unique_ptr<K_Shape> out = NewShape();
  out->SetFlags(a.Flags());
  int32_t rc = 0;
  try {
    rc = WS_InterpolateShapes(a, b, f, out.get());
  } catch (long code) {
    rc = static_cast<int32_t>(code);
  }
  if (rc != 0)
    throw AnimateError(where + ": the keyframes cannot be interpolated: " + EngineMessage(rc));
  return out;
}

std::vector<std::unique_ptr<K_Shape>> RecordAll(const StrokeDoc& doc) {
  std::vector<std::unique_ptr<K_Shape>> shapes;
  for (size_t i = 0; i < doc.strokes.size(); ++i) {
    try {
      shapes.push_back(RecordStroke(doc.strokes[i], doc.width, doc.height, StrokeWhere(doc, i)));
    } catch (const RecordError& e) {
      throw AnimateError(e.what());
    }
  }
  return shapes;
}

// A whole number of at most seven digits.
bool ReadCount(const std::string& s, int* out) {
  if (s.empty() || s.size() > 7 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *out = std::stoi(s);
  return true;
}

// Draws a frame on a new canvas; each stroke is one render call, one unit of progress.
std::unique_ptr<GX_World> Draw(const Frame& f, ProgressRecords* progress, CloneImages* images) {
  std::unique_ptr<GX_World> canvas = NewCanvas(f.doc);
  for (size_t i = 0; i < f.shapes.size(); ++i)
    if (f.shapes[i]) RenderStroke(f.doc, i, canvas.get(), progress, f.shapes[i].get(), images);
  return canvas;
}

}  // namespace

FrameRange ParseFrameRange(const std::string& frames, int count) {
  const std::string bad =
      "--frames: expected a frame count N or a range a:b, got \"" + frames + "\"";
  const auto colon = frames.find(':');
  FrameRange r;
  if (colon == std::string::npos) {
    if (!ReadCount(frames, &r.count)) throw AnimateError(bad);
    if (count != 0)
      throw AnimateError("--count goes with a range --frames a:b, not with a frame count");
    r.first = 0;
    r.last = r.count - 1;
  } else {
    if (!ReadCount(frames.substr(0, colon), &r.first) ||
        !ReadCount(frames.substr(colon + 1), &r.last))
      throw AnimateError(bad);
    if (count == 0)
      throw AnimateError("--frames " + frames + ": give the animation's length with --count N");
    r.count = count;
  }
  if (r.count < 2 || r.count > kMaxFrames)
    throw AnimateError("an animation has 2 to " + std::to_string(kMaxFrames) + " frames, not " +
                       std::to_string(r.count));
  if (r.first > r.last || r.last >= r.count)
    throw AnimateError("--frames " + frames + ": expected a range within 0:" +
                       std::to_string(r.count - 1) + ", first frame first");
  return r;
}

double FrameFraction(int frame, int count) { return double(frame) / double(count - 1); }

std::string FrameFileName(int frame, const std::string& extension) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%04d.", frame);
  return name + extension;
}

double WriteOnEnd(const K_Shape& shape, double share) {
  if (share <= 0.0) return 0.0;
  const std::vector<double> c = shape.GetCumulativeLengths();
  const size_t n = c.size() - 1;
  const auto& td = shape.timeDistanceTable;
  const double duration = shape.GetStrokeDuration();
  // A path without length (a dab) has no share to draw: it appears whole.
  if (share >= 1.0 || n == 0 || !(c[n] > 0) || td.empty() || !(duration > 0)) return 1.0;
  const double target = share * c[n];
  // Segment i holds the target; zero-length segments are passed over.
  size_t i = size_t(std::upper_bound(c.begin(), c.end(), target) - c.begin());
  i = std::min(i == 0 ? 0 : i - 1, n - 1);
  const double p = double(i) + (c[i + 1] > c[i] ? (target - c[i]) / (c[i + 1] - c[i]) : 0.0);
  // Time at position p, read from the time-distance table as tip placement reads it.
  size_t k = 0;
  while (k + 1 < td.size() && p >= td[k + 1].value) ++k;
  double time = td[k].time;
  if (td[k].value <= p && k + 1 < td.size())
    time += (p - td[k].value) / (td[k + 1].value - td[k].value) * (td[k + 1].time - td[k].time);
  return time / duration;
}

Animation::Animation(StrokeDoc a_, std::optional<StrokeDoc> b_, bool writeOn_)
    : a(ExpandSymmetry(a_)), writeOn(writeOn_) {
  if (b_) b = ExpandSymmetry(*b_);
  if (b && b->strokes.size() != a.strokes.size()) {
    const bool copies = b->strokes.size() != b_->strokes.size() || a.strokes.size() != a_.strokes.size();
    throw AnimateError(NameOf(*b) + " has " + Strokes(b->strokes.size()) + " but " + NameOf(a) +
                       " has " + Strokes(a.strokes.size()) +
                       (copies ? " (symmetry copies counted)" : "") +
                       ": keyframes need the same number of strokes");
  }
  shapesA = RecordAll(a);
  if (b) shapesB = RecordAll(*b);
  if (!writeOn) return;
  for (size_t i = 0; i < shapesA.size(); ++i) {
    if (!(shapesA[i]->GetStrokeDuration() > 0))
      throw AnimateError(StrokeWhere(a, i) + ": a stroke must end after time 0 to be written on");
    if (b && !(shapesB[i]->GetStrokeDuration() > 0))
      throw AnimateError(StrokeWhere(*b, i) + ": a stroke must end after time 0 to be written on");
  }
}

Frame Animation::MakeFrame(int frame, int count) const {
  const double f = FrameFraction(frame, count);
  Frame out;
  out.doc = a;
  for (size_t i = 0; i < a.strokes.size(); ++i) {
    DocStroke& s = out.doc.strokes[i];
    s.events.clear();
    s.recorded.reset();
    std::unique_ptr<K_Shape> shape;
    if (b) {
      BlendSettings(b->strokes[i], f, &s);
      shape = Interpolate(*shapesA[i], *shapesB[i], f, StrokeWhere(a, i));
    } else {
      shape.reset(static_cast<K_Shape*>(shapesA[i]->Clone()));
      if (!shape) throw std::bad_alloc();
    }
    if (writeOn) {
      s.trim[1] = WriteOnEnd(*shape, f);
      if (f <= 0.0 || s.trim[1] < s.trim[0]) shape.reset();
    }
    out.shapes.push_back(std::move(shape));
  }
  return out;
}

std::unique_ptr<GX_World> Animation::RenderFrame(int frame, int count,
                                                 kstroke::Progress* progress) const {
  if (progress) progress->Begin(int32_t(a.strokes.size()));
  ProgressRecords records(progress);
  return Draw(MakeFrame(frame, count), &records, &images);
}

std::string Animation::Extension(const FrameFormat& format) const {
  if (!format.extension.empty()) return format.extension;
  return a.depth == 32 ? "exr" : "png";
}

void Animation::RenderFrames(const FrameRange& range, const std::string& folder,
                             kstroke::Progress* progress, int* written,
                             const FrameFormat& format, const FrameHooks& hooks) const {
  if (written) *written = 0;
  const std::string extension = Extension(format);
  ChooseOutput(FrameFileName(range.first, extension), format.sample);
  std::vector<int> frames;
  for (int k = range.first; k <= range.last; ++k)
    if (!hooks.skip || !hooks.skip(k)) frames.push_back(k);
  const int64_t units = int64_t(frames.size()) * int64_t(a.strokes.size());
  if (progress) progress->Begin(int32_t(std::min<int64_t>(units, INT32_MAX)));
  ProgressRecords records(progress);
  for (const int k : frames) {
    const std::unique_ptr<GX_World> canvas = Draw(MakeFrame(k, range.count), &records, &images);
    // Made once the first frame is drawn: keyframes that cannot be interpolated leave
    // nothing behind.
    if (k == frames.front()) {
      std::error_code ec;
      std::filesystem::create_directories(folder, ec);
      if (ec) throw AnimateError(folder + ": cannot create the folder: " + ec.message());
    }
    const std::string path = (std::filesystem::path(folder) / FrameFileName(k, extension)).string();
    WriteCanvas(*canvas, CanvasEncoding(a), ChooseOutput(path, format.sample), records.CancelOnly());
    if (written) ++*written;
    if (hooks.written) hooks.written(k);
  }
  if (progress) progress->End();
}
