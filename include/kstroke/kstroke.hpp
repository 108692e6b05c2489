// SPDX-License-Identifier: MIT
/// @file
/// kstroke's C++ facade: a canvas, a brush, a paint source, and a stroke that records
/// pointer events and renders them into the canvas as they arrive; a document that reads,
/// writes and renders stroke descriptions and stroke files.
///
/// It sits on the engine's own classes (K_Shape, K_InteractRenderer, the paint sources)
/// and keeps what a host must otherwise set up by hand: the pre-stroke copy of the canvas
/// and its lazy tiles, the working rectangle, the recording of events (dynamics, curves,
/// the stabiliser) and the batching of render calls. The kstroke program and the Python
/// module render through it: there is one way to render a stroke.
///
///   kstroke::Canvas canvas(512, 512);
///   kstroke::Stroke stroke(canvas, kstroke::Brush::Preset("ink"),
///                          kstroke::Source::Fill({0.1, 0.2, 0.6}));
///   for (int i = 0; i <= 100; ++i)
///     stroke.Add({i / 100.0, 0.1 + 0.008 * i, 0.5 + 0.3 * std::sin(i / 16.0)});
///   stroke.Finish();
///   canvas.Write("stroke.png");
///
/// Failures are thrown as kstroke::Error, which carries the engine's or host's code.
/// Units are the stroke description's (README.md): positions are fractions of the
/// canvas, times increase, colours are red, green, blue, alpha.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kstroke/kstroke_export.h"

class GX_World;
class K_Shape;

/// The facade over the engine.
namespace kstroke {

/// Every failure of the facade: a one-line message naming what failed (a file, a field,
/// an event) and the code behind it: the engine's 3 for a failed check, a host code
/// (`host/y/errors.h`: 1603 when a Progress stopped the job, 1001 out of memory), or 0
/// for bad input such as a malformed description or an out-of-range value.
class KSTROKE_API Error : public std::runtime_error {
public:
  /// An error with `message` and `code`.
  Error(long code, const std::string& message);
  /// The engine's or host's code, 0 for bad input.
  long Code() const noexcept { return code; }

private:
  long code;
};

/// How a long job reports and how it is stopped. Every member has a default that shows
/// nothing and never stops, so a host overrides what it needs. Calls come on the thread
/// that runs the job.
class KSTROKE_API Progress {
public:
  virtual ~Progress();
  /// The job will be `units` parts of about equal work (render calls).
  virtual void Begin(int32_t units);
  /// The next part starts.
  virtual void NextUnit();
  /// Within the part under way, `done` of `total` (phases each report from 0 again).
  /// Answer false to stop: the job then throws Error with code 1603.
  virtual bool Report(int32_t done, int32_t total);
  /// Asked between rows while an image is read or written. Answer false to stop.
  virtual bool KeepGoing();
  /// The job is done.
  virtual void End();
};

/// A colour: red, green, blue, alpha. Fractions 0..1; a float canvas takes any value
/// for red, green and blue.
struct Colour {
  double red = 0;    ///< 0..1; any value on a float canvas
  double green = 0;  ///< 0..1; any value on a float canvas
  double blue = 0;   ///< 0..1; any value on a float canvas
  double alpha = 1;  ///< 0..1
};

/// Bits per channel of a canvas.
enum class Depth : int32_t {
  k8 = 8,       ///< uint8_t, full 255
  k16 = 16,     ///< uint16_t, full 32768
  kFloat = 32,  ///< float, full 1.0
};

/// What a canvas's values mean.
enum class ColourSpace : int32_t {
  kDepthDefault = 0,  ///< sRGB at 8 and 16 bits, linear light for float
  kSrgb = 1,          ///< sRGB-encoded values
  kLinear = 2,        ///< linear light
};

/// A canvas's pixels where they lie: `height` rows `rowBytes` apart, each of `width`
/// pixels of four channels in the order alpha, red, green, blue, of the depth's type.
struct PixelView {
  void* data = nullptr;         ///< pixel (0, 0)
  int32_t width = 0;            ///< pixels a row
  int32_t height = 0;           ///< rows
  std::ptrdiff_t rowBytes = 0;  ///< bytes from a row to the next, at least width × 4 samples
  Depth depth = Depth::k8;      ///< the samples' type
};

/// A rectangle of canvas pixels, right and bottom exclusive.
struct Rect {
  int32_t left = 0;    ///< first column
  int32_t top = 0;     ///< first row
  int32_t right = 0;   ///< column after the last
  int32_t bottom = 0;  ///< row after the last
  /// True when it holds no pixel.
  bool Empty() const noexcept { return right <= left || bottom <= top; }
};

/// An image to paint into, or to clone from. Copies share the pixels.
class KSTROKE_API Canvas {
public:
  /// A canvas filled with `background`, 1 to 30000 pixels a side. Throws Error for a
  /// size out of range or when memory runs out (naming the size and the bytes).
  Canvas(int32_t width, int32_t height, Depth depth = Depth::k8,
         Colour background = {1, 1, 1, 1}, ColourSpace space = ColourSpace::kDepthDefault);
  /// Reads an image (PNG, JPEG, TIFF, OpenEXR, told by its content), converted to `depth`
  /// and from its tagged colour to `space`. Refuses images over 30000 pixels a side or
  /// 2^28 pixels before reading their pixels. Throws Error naming the file.
  static Canvas Read(const std::string& path, Depth depth = Depth::k8,
                     ColourSpace space = ColourSpace::kDepthDefault,
                     Progress* progress = nullptr);

  int32_t Width() const;   ///< pixels
  int32_t Height() const;  ///< pixels
  Depth GetDepth() const;  ///< bits per channel
  /// The canvas's colour space: never kDepthDefault.
  ColourSpace Space() const;
  /// The pixels, to read or change in place.
  PixelView Pixels();

  /// Writes the canvas to `path`: the format follows the name (.png, .tif/.tiff, .exr)
  /// and `fileDepth` ("8", "16", "half", "float"; empty: the format's choice) the
  /// samples. The file is written under a temporary name and renamed when complete, so
  /// a failure leaves nothing. Throws Error.
  void Write(const std::string& path, const std::string& fileDepth = "",
             Progress* progress = nullptr) const;

  /// The host image, for hosts that also use the engine's classes directly.
  GX_World& World() const;

private:
  struct Impl;
  explicit Canvas(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl;
  friend class Stroke;
  friend class Source;
  friend class Document;
};

/// A factor the engine records per event, and the brush value it scales.
enum class Factor : int32_t { kDiameter = 0, kOpacity, kFlow, kAngle, kRoundness };
/// A pen input dynamics read (README.md, Dynamics, has ranges and units).
enum class Input : int32_t { kPressure = 0, kTiltX, kTiltY, kTwist, kSpeed, kDirection, kRandom };

/// Every setting of a brush, as a stroke description's `brush` holds it. A new brush has
/// the description's defaults (30 px, hardness 0.8, spacing 0.25, the pressure rule).
/// Setters check their range as a description would and throw Error naming the field.
class KSTROKE_API Brush {
public:
  Brush();
  ~Brush();
  /// Copies every setting.
  ///@{
  Brush(const Brush& other);
  Brush& operator=(const Brush& other);
  ///@}

  /// A built-in preset (PresetNames) or a brush file. Throws Error.
  static Brush Preset(const std::string& nameOrFile);
  /// The built-in presets' names, in order.
  static std::vector<std::string> PresetNames();

  /// The tip's diameter in pixels: above 0, up to 10000.
  ///@{
  double Diameter() const;
  Brush& Diameter(double pixels);
  ///@}
  /// How much of the tip is solid before its edge falls off: 0..1.
  ///@{
  double Hardness() const;
  Brush& Hardness(double fraction);
  ///@}
  /// The tip's short axis over its long one: 0..1.
  ///@{
  double Roundness() const;
  Brush& Roundness(double fraction);
  ///@}
  /// The tip's long axis in degrees counter-clockwise: −3600..3600.
  ///@{
  double Angle() const;
  Brush& Angle(double degrees);
  ///@}
  /// The distance between dabs, a fraction of the diameter: above 0, up to 100.
  ///@{
  double Spacing() const;
  Brush& Spacing(double fraction);
  ///@}
  /// The most paint the stroke lays down: 0..1.
  ///@{
  double Opacity() const;
  Brush& Opacity(double fraction);
  ///@}
  /// The share of the opacity each dab adds: 0..1.
  ///@{
  double Flow() const;
  Brush& Flow(double fraction);
  ///@}
  /// Dithers the paint, hiding bands in slow gradients at 8 bits.
  ///@{
  bool Dither() const;
  Brush& Dither(bool on);
  ///@}
  /// Dabs add up instead of building up to the opacity.
  ///@{
  bool Additive() const;
  Brush& Additive(bool on);
  ///@}
  /// Joins the samples with a curve through them instead of straight segments.
  ///@{
  bool Curve() const;
  Brush& Curve(bool on);
  ///@}
  /// How far the brush lags behind the pointer: 0..0.99, 0 follows it exactly.
  ///@{
  double Stabiliser() const;
  Brush& Stabiliser(double strength);
  ///@}

  /// Removes every dynamics mapping: every factor constant (1; the angle 0).
  Brush& ClearDynamics();
  /// Adds a mapping: `input` through the piecewise-linear `curve` of 1 to 8 [input,
  /// factor] points with increasing inputs. Several mappings of one factor multiply
  /// (the angle's add up, in degrees counter-clockwise).
  Brush& Map(Factor factor, Input input, const std::vector<std::array<float, 2>>& curve);

  /// The transfer mode a preset paints with ("erase" for an eraser), or "".
  std::string Transfer() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  friend class Stroke;
  friend class Document;
};

/// What a stroke lays down: a flat colour, or pixels cloned from an image.
class KSTROKE_API Source {
public:
  /// A flat colour.
  static Source Fill(Colour colour);
  /// Pixels of `image` (shared, not copied; its depth must be the canvas's): its point
  /// at (`sourceX`, `sourceY`), fractions of the image, lands on the canvas's (0, 0).
  static Source Clone(const Canvas& image, double sourceX = 0, double sourceY = 0,
                      double sourcePixelAspect = 1);
  /// Pixels of the image file at `path`, read when a stroke starts, at that canvas's
  /// depth and colour space. A document a stroke of it is added to names the file.
  static Source CloneFile(const std::string& path, double sourceX = 0, double sourceY = 0,
                          double sourcePixelAspect = 1);
  /// The same, with the file's pixels already read into `image` (at the depth and colour
  /// space of the canvases it is painted on): a host that paints many strokes from one
  /// file reads it once. A document still names the file.
  static Source CloneFile(const Canvas& image, const std::string& path, double sourceX = 0,
                          double sourceY = 0, double sourcePixelAspect = 1);
  ~Source();
  /// Copies share a clone's image.
  ///@{
  Source(const Source& other);
  Source& operator=(const Source& other);
  ///@}

private:
  struct Impl;
  Source();
  std::unique_ptr<Impl> impl;
  friend class Stroke;
};

/// One pointer sample.
struct Event {
  double t = 0;                      ///< time; each event's is after the one before
  double x = 0;                      ///< fraction of the canvas's width
  double y = 0;                      ///< fraction of the canvas's height
  std::optional<double> pressure{};  ///< 0..1; none reads as 1
  double tiltX = 0;                  ///< degrees, + to the right, −90..90
  double tiltY = 0;                  ///< degrees, + towards the user, −90..90
  double twist = 0;                  ///< degrees, 0..360
  bool spacing = true;               ///< false forces a dab at this event
};

/// One stroke being painted into a canvas: events come in as the pen moves and each
/// Render draws what they added. The first event always leaves a dab; with the brush's
/// curve on, the last sample is held back until the next arrives or Finish.
class KSTROKE_API Stroke {
public:
  /// A stroke on `canvas` (which must outlive it) with `brush` and `source`.
  Stroke(Canvas& canvas, const Brush& brush = Brush(),
         const Source& source = Source::Fill(Colour()));
  ~Stroke();
  Stroke(const Stroke&) = delete;
  Stroke& operator=(const Stroke&) = delete;

  /// The transfer mode ("normal", "multiply", "erase", … as in descriptions); before
  /// the first event. Default: the brush's, else "normal".
  Stroke& Transfer(const std::string& mode);
  /// The channels painted ("all", "colour", "alpha", "colour-opaque").
  Stroke& Channels(const std::string& channels);
  /// Seeds the dither and the random input.
  Stroke& Seed(int32_t seed);
  /// Blend in linear light rather than the stored values (an sRGB canvas only differs).
  Stroke& LinearBlending(bool on);
  /// Copies of the stroke mirrored and turned about a centre (README.md, Symmetry):
  /// `mirror` "none", "vertical", "horizontal" or "both", `rotate` 1 to 64 turns, the
  /// centre in fractions of the canvas. A document the stroke is added to draws every
  /// copy; the stroke itself paints the original only, and a host paints copy k live
  /// with a Stroke of its own given the same symmetry and AsCopy(k). Before the first
  /// event.
  Stroke& Symmetry(const std::string& mirror, int32_t rotate = 1, double centreX = 0.5,
                   double centreY = 0.5);
  /// Strokes the symmetry draws, the original included (1 without symmetry).
  std::size_t Copies() const;
  /// Paints copy `index` (1 to Copies() − 1) of the symmetry instead of the original, as
  /// a document draws it: the events moved, the tip turned and mirrored with them. A
  /// copy is not added to a document (its original carries it). Before the first event.
  Stroke& AsCopy(std::size_t index);

  /// Adds a sample. Throws Error naming the event when its time is not after the last
  /// one's or a value is out of range, and when the stroke is finished.
  void Add(const Event& event);
  /// Draws what the events added since the last call. Answers the canvas rectangle that
  /// changed (empty when nothing did). Throws Error.
  Rect Render(Progress* progress = nullptr);
  /// Records the samples held back (a curve's last, the stabiliser's catch-up) and draws
  /// them. No event may follow. Answers the changed rectangle.
  Rect Finish(Progress* progress = nullptr);

  /// Events added so far.
  std::size_t Events() const;
  /// The recorded stroke, for hosts that also use the engine's classes directly.
  const K_Shape& Shape() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  friend class Document;
};

/// A stroke description or stroke file: a canvas's settings and strokes, as the kstroke
/// program reads and writes them (README.md has the format).
class KSTROKE_API Document {
public:
  /// Reads a description (JSON) or a stroke file (.kst, or content starting with a
  /// chunk). Throws Error naming the file and the field.
  static Document Load(const std::string& path);
  /// Parses a description; `name` heads messages.
  static Document Parse(const std::string& json, const std::string& name = "description");
  /// The built-in stroke.
  static Document BuiltIn();
  /// A document of no strokes, for a canvas as Canvas's constructor makes it. Throws
  /// Error for a size out of range.
  static Document New(int32_t width, int32_t height, Depth depth = Depth::k8,
                      Colour background = {1, 1, 1, 1},
                      ColourSpace space = ColourSpace::kDepthDefault);
  ~Document();
  /// Copies every setting and stroke.
  ///@{
  Document(const Document& other);
  Document& operator=(const Document& other);
  ///@}

  /// The description as JSON, every field written.
  std::string ToJson() const;
  /// Writes the strokes recorded into a stroke file at `path`. Throws Error.
  void Save(const std::string& path) const;
  /// Writes the description as JSON to `path`, as `kstroke load` does: clone images
  /// named by a relative path are named relative to `path`'s folder, and the file is
  /// written under a temporary name and renamed when complete. Throws Error.
  void SaveDescription(const std::string& path) const;

  int32_t Width() const;   ///< the canvas's, pixels
  int32_t Height() const;  ///< the canvas's, pixels
  Depth GetDepth() const;  ///< the canvas's bits per channel
  /// Strokes before symmetry copies.
  std::size_t Strokes() const;
  /// Paints every stroke with `brush` (and its transfer, when it has one).
  Document& UseBrush(const Brush& brush);
  /// Appends `stroke` as painted so far: its brush, source, transfer, channels, seed
  /// and events. Throws Error when its canvas is not of the document's size and depth,
  /// it blends otherwise than the document's earlier strokes, or it clones an image in
  /// memory (a description names its clone images by file: Source::CloneFile).
  Document& Add(const Stroke& stroke);
  /// Keeps the first `count` strokes (an undo of the ones after).
  Document& Keep(std::size_t count);
  /// A canvas of the document's size, depth, colour space and background, unpainted.
  Canvas Blank() const;

  /// Renders every stroke onto a new canvas, as a painting host would while the pen
  /// moved. Throws Error.
  Canvas Render(Progress* progress = nullptr) const;

private:
  struct Impl;
  Document();
  std::unique_ptr<Impl> impl;
};

}  // namespace kstroke
