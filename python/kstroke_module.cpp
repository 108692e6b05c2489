// SPDX-License-Identifier: MIT
// The `kstroke` Python module: the C++ facade (include/kstroke/kstroke.hpp) with numpy.
//
// Every class is a thin binding of the facade's: a stroke renders exactly as the kstroke
// program renders it. What is added here is only what Python needs: canvases as numpy
// arrays over their own pixels (no copy), events from numpy arrays, arguments checked
// with TypeError / ValueError naming them, the facade's errors as kstroke.Error, and the
// GIL released while a job runs (python/py_progress.h).
#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kstroke/kstroke.hpp"
#include "python/py_progress.h"

namespace py = pybind11;
using kstroke_py::WithoutGil;

namespace {

// Arguments
// ====================================================================================

// "Func: arg: what" — every argument error names where it was passed.
std::string Where(const char* func, const char* arg) {
  return std::string(func) + ": " + arg + ": ";
}

std::string ShapeText(const py::array& a) {
  std::ostringstream text;
  text << "(";
  for (py::ssize_t d = 0; d < a.ndim(); ++d) text << (d ? ", " : "") << a.shape(d);
  text << (a.ndim() == 1 ? ",)" : ")");
  return text.str();
}

std::string Repr(py::handle h) { return py::repr(h).cast<std::string>(); }

std::string Number(double v) { return py::repr(py::float_(v)).cast<std::string>(); }

kstroke::Colour ColourArg(const char* func, const char* arg, const py::object& value) {
  const std::string where = Where(func, arg);
  if (py::isinstance<py::str>(value) || !py::isinstance<py::sequence>(value))
    throw py::type_error(where + "expected 3 or 4 numbers (red, green, blue[, alpha]), got " +
                         Repr(value));
  const py::sequence s = value.cast<py::sequence>();
  if (s.size() != 3 && s.size() != 4)
    throw py::value_error(where + "expected 3 or 4 numbers (red, green, blue[, alpha]), got " +
                          std::to_string(s.size()));
  double c[4] = {0, 0, 0, 1};
  for (size_t i = 0; i < s.size(); ++i) {
    try {
      c[i] = s[i].cast<double>();
    } catch (const py::cast_error&) {
      throw py::type_error(where + "expected numbers, got " + Repr(s[i]));
    }
  }
  return {c[0], c[1], c[2], c[3]};
}

py::tuple ColourTuple(const kstroke::Colour& c) {
  return py::make_tuple(c.red, c.green, c.blue, c.alpha);
}

kstroke::ColourSpace SpaceArg(const char* func, const py::object& value) {
  if (value.is_none()) return kstroke::ColourSpace::kDepthDefault;
  if (py::isinstance<py::str>(value)) {
    const std::string s = value.cast<std::string>();
    if (s == "srgb") return kstroke::ColourSpace::kSrgb;
    if (s == "linear") return kstroke::ColourSpace::kLinear;
  }
  throw py::value_error(Where(func, "colour") + "expected 'srgb', 'linear' or None, got " +
                        Repr(value));
}

const char* SpaceName(kstroke::ColourSpace space) {
  return space == kstroke::ColourSpace::kLinear ? "linear" : "srgb";
}

kstroke::Depth DepthArg(int depth) {
  // The facade checks the value and names it as a description would.
  return kstroke::Depth(depth);
}

std::string PathArg(const std::filesystem::path& path) { return path.string(); }

// Canvas pixels
// ====================================================================================

py::dtype DtypeOf(kstroke::Depth depth) {
  switch (depth) {
    case kstroke::Depth::k8: return py::dtype::of<uint8_t>();
    case kstroke::Depth::k16: return py::dtype::of<uint16_t>();
    case kstroke::Depth::kFloat: break;
  }
  return py::dtype::of<float>();
}

py::object FullOf(kstroke::Depth depth) {
  switch (depth) {
    case kstroke::Depth::k8: return py::int_(255);
    case kstroke::Depth::k16: return py::int_(32768);
    case kstroke::Depth::kFloat: break;
  }
  return py::float_(1.0);
}

// The canvas's pixels as an array over them, H × W × 4 (alpha, red, green, blue), whose
// base is `owner`, the Python canvas: the array keeps it alive.
py::array PixelArray(const py::object& owner) {
  kstroke::Canvas& canvas = owner.cast<kstroke::Canvas&>();
  const kstroke::PixelView v = canvas.Pixels();
  const py::dtype dtype = DtypeOf(v.depth);
  const py::ssize_t item = dtype.itemsize();
  return py::array(dtype, {py::ssize_t(v.height), py::ssize_t(v.width), py::ssize_t(4)},
                   {py::ssize_t(v.rowBytes), 4 * item, item}, v.data, owner);
}

py::array Rgba(const py::object& owner) {
  py::list order;
  for (int c : {1, 2, 3, 0}) order.append(c);
  // Fancy indexing copies: the answer is an array of its own.
  return py::array(PixelArray(owner).attr("__getitem__")(py::make_tuple(py::ellipsis(), order)));
}

template <class T>
void CopyRgba(const py::array& src, kstroke::Canvas& canvas, T full) {
  const kstroke::PixelView v = canvas.Pixels();
  const auto a = src.unchecked<T, 3>();
  const bool alpha = a.shape(2) == 4;
  for (py::ssize_t y = 0; y < a.shape(0); ++y) {
    T* row = reinterpret_cast<T*>(static_cast<char*>(v.data) + y * v.rowBytes);
    for (py::ssize_t x = 0; x < a.shape(1); ++x, row += 4) {
      row[0] = alpha ? a(y, x, 3) : full;
      row[1] = a(y, x, 0);
      row[2] = a(y, x, 1);
      row[3] = a(y, x, 2);
    }
  }
}

kstroke::Canvas CanvasFromRgba(const py::array& array, const py::object& colour) {
  static const char* kFunc = "Canvas.from_rgba";
  const std::string where = Where(kFunc, "array");
  if (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4))
    throw py::value_error(where + "expected an array of shape (height, width, 3 or 4), got " +
                          ShapeText(array));
  kstroke::Depth depth;
  if (array.dtype().is(py::dtype::of<uint8_t>()))
    depth = kstroke::Depth::k8;
  else if (array.dtype().is(py::dtype::of<uint16_t>()))
    depth = kstroke::Depth::k16;
  else if (array.dtype().is(py::dtype::of<float>()))
    depth = kstroke::Depth::kFloat;
  else
    throw py::type_error(where + "expected uint8, uint16 or float32 values, got " +
                         py::str(array.dtype()).cast<std::string>());
  if (depth == kstroke::Depth::k16 && array.size() > 0 &&
      array.attr("max")().cast<int>() > 32768)
    throw py::value_error(where + "16-bit values run from 0 to 32768 (full), got " +
                          Repr(array.attr("max")()));
  const kstroke::ColourSpace space = SpaceArg(kFunc, colour);
  kstroke::Canvas canvas(int32_t(array.shape(1)), int32_t(array.shape(0)), depth,
                         {0, 0, 0, 0}, space);
  switch (depth) {
    case kstroke::Depth::k8: CopyRgba<uint8_t>(array, canvas, 255); break;
    case kstroke::Depth::k16: CopyRgba<uint16_t>(array, canvas, 32768); break;
    case kstroke::Depth::kFloat: CopyRgba<float>(array, canvas, 1.0f); break;
  }
  return canvas;
}

std::string CanvasRepr(const kstroke::Canvas& c) {
  std::ostringstream text;
  text << "<kstroke.Canvas " << c.Width() << " x " << c.Height() << ", "
       << py::str(DtypeOf(c.GetDepth())).cast<std::string>()
       << ", " << SpaceName(c.Space()) << ">";
  return text.str();
}

// Brush fields
// ====================================================================================

using kstroke::Brush;

struct NumberField {
  const char* name;
  double (Brush::*get)() const;
  Brush& (Brush::*set)(double);
  const char* doc;
};
struct FlagField {
  const char* name;
  bool (Brush::*get)() const;
  Brush& (Brush::*set)(bool);
  const char* doc;
};

const NumberField kNumberFields[] = {
    {"diameter", &Brush::Diameter, &Brush::Diameter, "Tip diameter in pixels, above 0 up to 10000."},
    {"hardness", &Brush::Hardness, &Brush::Hardness, "Share of the radius at full strength, 0..1."},
    {"roundness", &Brush::Roundness, &Brush::Roundness, "Minor axis over major axis, 0..1."},
    {"angle", &Brush::Angle, &Brush::Angle, "Tip angle in degrees, counter-clockwise, -3600..3600."},
    {"spacing", &Brush::Spacing, &Brush::Spacing, "Distance between dabs as a fraction of the diameter, above 0 up to 100."},
    {"opacity", &Brush::Opacity, &Brush::Opacity, "Most the stroke covers, 0..1."},
    {"flow", &Brush::Flow, &Brush::Flow, "Share each dab adds, 0..1."},
    {"stabiliser", &Brush::Stabiliser, &Brush::Stabiliser, "How far the brush lags the pointer, 0..0.99."},
};
const FlagField kFlagFields[] = {
    {"dither", &Brush::Dither, &Brush::Dither, "Dither the paint."},
    {"additive", &Brush::Additive, &Brush::Additive, "Dabs add up instead of building up to the opacity."},
    {"curve", &Brush::Curve, &Brush::Curve, "Join the samples with a curve through them instead of straight segments."},
};

// Sets the fields `kwargs` names; an unknown name is a TypeError, as for any call.
void SetBrushFields(const char* func, Brush& brush, const py::kwargs& kwargs) {
  for (const auto& item : kwargs) {
    const std::string name = item.first.cast<std::string>();
    bool known = false;
    try {
      for (const NumberField& f : kNumberFields)
        if (name == f.name) {
          (brush.*f.set)(item.second.cast<double>());
          known = true;
        }
      for (const FlagField& f : kFlagFields)
        if (name == f.name) {
          (brush.*f.set)(item.second.cast<bool>());
          known = true;
        }
    } catch (const py::cast_error&) {
      throw py::type_error(Where(func, name.c_str()) + "expected a number or a bool, got " +
                           Repr(item.second));
    }
    if (!known) throw py::type_error(std::string(func) + ": unexpected brush field '" + name + "'");
  }
}

std::string BrushRepr(const Brush& b) {
  std::string text = "kstroke.Brush(";
  const char* sep = "";
  for (const NumberField& f : kNumberFields) {
    text += sep + std::string(f.name) + "=" + Number((b.*f.get)());
    sep = ", ";
  }
  for (const FlagField& f : kFlagFields) text += sep + std::string(f.name) + "=" + ((b.*f.get)() ? "True" : "False");
  if (!b.Transfer().empty()) text += ", transfer='" + b.Transfer() + "'";
  return text + ")";
}

const char* const kFactorNames[] = {"diameter", "opacity", "flow", "angle", "roundness"};
const char* const kInputNames[] = {"pressure", "tilt_x", "tilt_y", "twist", "speed", "direction", "random"};
// The description's own names for the tilts, also taken.
const char* const kInputAliases[] = {"pressure", "tiltX", "tiltY", "twist", "speed", "direction", "random"};

template <size_t N>
int NameArg(const char* func, const char* arg, const std::string& name, const char* const (&names)[N],
            const char* const* aliases = nullptr) {
  std::string all;
  for (size_t i = 0; i < N; ++i) {
    if (name == names[i] || (aliases && name == aliases[i])) return int(i);
    all += (i ? ", " : "") + std::string(names[i]);
  }
  throw py::value_error(Where(func, arg) + "expected one of " + all + ", got '" + name + "'");
}

std::vector<std::array<float, 2>> CurveArg(const char* func, const py::object& value) {
  const py::array a = py::array::ensure(value);
  if (!a || (a.size() > 0 && std::strchr("biuf", a.dtype().kind()) == nullptr))
    throw py::type_error(Where(func, "curve") + "expected [input, factor] pairs of numbers, got " +
                         Repr(value));
  if (a.ndim() != 2 || a.shape(1) != 2)
    throw py::value_error(Where(func, "curve") +
                          "expected [input, factor] pairs, an array of shape (n, 2), got shape " +
                          ShapeText(a));
  const auto d = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
  std::vector<std::array<float, 2>> curve;
  for (py::ssize_t i = 0; i < d.shape(0); ++i) curve.push_back({float(d.at(i, 0)), float(d.at(i, 1))});
  return curve;
}

// Sources
// ====================================================================================

// A facade source and how Python would spell it, for its repr.
struct PySource {
  kstroke::Source source;
  std::string repr;
};

std::string PointText(double x, double y, double aspect) {
  std::string text = ", source_x=" + Number(x) + ", source_y=" + Number(y);
  if (aspect != 1) text += ", source_pixel_aspect=" + Number(aspect);
  return text + ")";
}

// Strokes
// ====================================================================================

// One facade stroke. A stroke is used from one thread at a time; a second thread's call
// while a render runs without the GIL is refused rather than racing it.
struct PyStroke {
  explicit PyStroke(const kstroke::Canvas& c) : canvas(c) {}

  std::unique_ptr<kstroke::Stroke> stroke;
  kstroke::Canvas canvas;  // shares the pixels; for the repr
  std::atomic<bool> busy{false};
  bool finished = false;

  struct Use {
    explicit Use(PyStroke& s, const char* func) : stroke(s) {
      if (stroke.busy.exchange(true))
        throw std::runtime_error(std::string(func) + ": the stroke is in use by another thread");
    }
    ~Use() { stroke.busy = false; }
    PyStroke& stroke;
  };
};

kstroke::Brush BrushArg(const py::object& brush) {
  if (brush.is_none()) return kstroke::Brush();
  if (py::isinstance<py::str>(brush)) return kstroke::Brush::Preset(brush.cast<std::string>());
  if (py::isinstance<kstroke::Brush>(brush)) return brush.cast<kstroke::Brush>();
  throw py::type_error("Stroke: brush: expected a Brush, a preset's name or None, got " + Repr(brush));
}

kstroke::Source SourceArg(const py::object& source) {
  if (source.is_none()) return kstroke::Source::Fill(kstroke::Colour());
  if (py::isinstance<PySource>(source)) return source.cast<const PySource&>().source;
  if (py::isinstance<py::sequence>(source) && !py::isinstance<py::str>(source))
    return kstroke::Source::Fill(ColourArg("Stroke", "source", source));
  throw py::type_error("Stroke: source: expected a Source, a fill colour or None, got " + Repr(source));
}

// One column of add_events: `n` numbers (a scalar stands for all of them when `n` is
// known and the column may be one), as doubles.
std::vector<double> Column(const char* arg, const py::object& value, py::ssize_t n,
                           bool scalarAllowed, bool flags = false) {
  static const char* kFunc = "Stroke.add_events";
  const std::string where = Where(kFunc, arg);
  const py::array a = py::array::ensure(value);
  const char* kinds = flags ? "biu" : "biuf";
  if (!a || (a.size() > 0 && std::strchr(kinds, a.dtype().kind()) == nullptr))
    throw py::type_error(where + (flags ? "expected booleans" : "expected real numbers") + ", got " +
                         (a ? "an array of " + py::str(a.dtype()).cast<std::string>() : Repr(value)));
  if (a.ndim() == 0 && scalarAllowed) {
    return std::vector<double>(size_t(n), a.attr("item")().cast<double>());
  }
  if (a.ndim() != 1)
    throw py::value_error(where + "expected a 1-D array, got shape " + ShapeText(a));
  if (n >= 0 && a.shape(0) != n)
    throw py::value_error(where + "expected " + std::to_string(n) + " values (as many as t), got " +
                          std::to_string(a.shape(0)));
  const auto d = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
  return std::vector<double>(d.data(), d.data() + d.size());
}

void AddEvents(PyStroke& s, const py::object& t, const py::object& x, const py::object& y,
               const py::object& pressure, const py::object& tiltX, const py::object& tiltY,
               const py::object& twist, const py::object& spacing) {
  const std::vector<double> times = Column("t", t, -1, false);
  const auto n = py::ssize_t(times.size());
  const std::vector<double> xs = Column("x", x, n, false), ys = Column("y", y, n, false);
  std::vector<double> pressures, tx, ty, tw, sp;
  if (!pressure.is_none()) pressures = Column("pressure", pressure, n, true);
  if (!tiltX.is_none()) tx = Column("tilt_x", tiltX, n, true);
  if (!tiltY.is_none()) ty = Column("tilt_y", tiltY, n, true);
  if (!twist.is_none()) tw = Column("twist", twist, n, true);
  if (!spacing.is_none()) sp = Column("spacing", spacing, n, true, true);
  PyStroke::Use use(s, "Stroke.add_events");
  py::gil_scoped_release release;
  for (size_t i = 0; i < times.size(); ++i) {
    kstroke::Event e{times[i], xs[i], ys[i]};
    if (!pressures.empty()) e.pressure = pressures[i];
    if (!tx.empty()) e.tiltX = tx[i];
    if (!ty.empty()) e.tiltY = ty[i];
    if (!tw.empty()) e.twist = tw[i];
    if (!sp.empty()) e.spacing = sp[i] != 0;
    s.stroke->Add(e);
  }
}

std::string RectRepr(const kstroke::Rect& r) {
  return "kstroke.Rect(left=" + std::to_string(r.left) + ", top=" + std::to_string(r.top) +
         ", right=" + std::to_string(r.right) + ", bottom=" + std::to_string(r.bottom) + ")";
}

// Documents
// ====================================================================================

kstroke::Document DocumentArg(const char* func, const py::object& value, const std::string& name) {
  if (py::isinstance<kstroke::Document>(value)) return value.cast<kstroke::Document>();
  if (py::isinstance<py::dict>(value)) {
    const std::string json = py::module_::import("json").attr("dumps")(value).cast<std::string>();
    py::gil_scoped_release release;
    return kstroke::Document::Parse(json, name);
  }
  if (py::isinstance<py::str>(value) || py::hasattr(value, "__fspath__")) {
    const std::string path = PathArg(value.cast<std::filesystem::path>());
    py::gil_scoped_release release;
    return kstroke::Document::Load(path);
  }
  throw py::type_error(Where(func, "description") +
                       "expected a file name, a description (dict) or a Document, got " + Repr(value));
}

// Whether a file name ends in ".json", in any case.
bool NamesJson(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".json";
}

std::string DocumentRepr(const kstroke::Document& d) {
  std::ostringstream text;
  text << "<kstroke.Document " << d.Width() << " x " << d.Height() << ", depth "
       << int(d.GetDepth()) << ", " << d.Strokes() << (d.Strokes() == 1 ? " stroke>" : " strokes>");
  return text.str();
}

// The array of a canvas the caller gets alone: its base is a Python canvas of its own.
py::array OwnPixels(kstroke::Canvas canvas) {
  return PixelArray(py::cast(std::move(canvas)));
}

const char* const kModuleDoc = R"(kstroke: brush strokes from pointer events, rendered into numpy arrays.

A Canvas holds pixels of four channels in the order ALPHA, RED, GREEN, BLUE (alpha
first), never premultiplied, in one of three depths:

    depth 8   numpy uint8    full scale 255
    depth 16  numpy uint16   full scale 32768 (not 65535: values run 0..32768)
    depth 32  numpy float32  full scale 1.0 (colours may pass 1 and go below 0)

Canvas.pixels is a numpy view of shape (height, width, 4) over the canvas's own pixels:
writing to it changes the canvas, and the view keeps the canvas alive. Canvas.rgba()
answers a copy in red, green, blue, alpha order.

Positions are fractions of the canvas (0..1 across, 0..1 down); times increase from
event to event; colours are (red, green, blue[, alpha]) fractions, as in stroke
descriptions.

Rendering, reading and writing images, and loading and saving documents run with the
GIL released, so other Python threads go on meanwhile. Calls that take `progress`
accept a callable called now and then with the fraction done (0..1) on the calling
thread; answering False stops the job with kstroke.Error code 1603 (kstroke.CANCELLED).
On the main thread Ctrl-C stops a job too: the call raises KeyboardInterrupt.
Failures raise kstroke.Error, which carries the engine's message and .code.
)";

}  // namespace

// Module
// ====================================================================================

PYBIND11_MODULE(kstroke, m) {
  m.doc() = kModuleDoc;
  m.attr("__version__") = KSTROKE_VERSION;
  m.attr("CANCELLED") = 1603;
  m.attr("OUT_OF_MEMORY") = 1001;

  // kstroke.Error ---------------------------------------------------------------------
  py::exec(R"(
class Error(RuntimeError):
    """A failure of the engine: str(error) is its one-line message, naming what failed
    (a file, a field, an event), and .code the engine's or host's code: 0 for bad input,
    3 for a failed check, 1603 (CANCELLED) when a progress callable stopped the job,
    1001 (OUT_OF_MEMORY), or the image library's code for a file that cannot be read."""

    def __init__(self, message, code=0):
        super().__init__(message)
        self.message = message
        self.code = code

    def __reduce__(self):
        return (type(self), (self.message, self.code))
)",
           m.attr("__dict__"));
  // Held for the life of the process: the translator may run until the very end.
  static py::handle errorType = py::object(m.attr("Error")).release();
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const kstroke::Error& e) {
      const py::object error = errorType(e.what(), e.Code());
      PyErr_SetObject(errorType.ptr(), error.ptr());
    }
  });

  // Rect ------------------------------------------------------------------------------
  py::class_<kstroke::Rect>(m, "Rect",
                            "A rectangle of canvas pixels, right and bottom exclusive; what a "
                            "render changed.")
      .def_readonly("left", &kstroke::Rect::left)
      .def_readonly("top", &kstroke::Rect::top)
      .def_readonly("right", &kstroke::Rect::right)
      .def_readonly("bottom", &kstroke::Rect::bottom)
      .def_property_readonly("width", [](const kstroke::Rect& r) { return r.Empty() ? 0 : r.right - r.left; })
      .def_property_readonly("height", [](const kstroke::Rect& r) { return r.Empty() ? 0 : r.bottom - r.top; })
      .def_property_readonly("empty", &kstroke::Rect::Empty, "True when it holds no pixel.")
      .def_property_readonly(
          "slices",
          [](const kstroke::Rect& r) {
            if (r.Empty()) return py::make_tuple(py::slice(0, 0, 1), py::slice(0, 0, 1));
            return py::make_tuple(py::slice(r.top, r.bottom, 1), py::slice(r.left, r.right, 1));
          },
          "(rows, columns) slices, to index a canvas's pixels: canvas.pixels[rect.slices].")
      .def("__bool__", [](const kstroke::Rect& r) { return !r.Empty(); })
      .def("__eq__",
           [](const kstroke::Rect& a, const kstroke::Rect& b) {
             return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
           })
      .def("__repr__", &RectRepr);

  // Canvas ----------------------------------------------------------------------------
  py::class_<kstroke::Canvas>(m, "Canvas", py::buffer_protocol(), R"(An image to paint into, or to clone from.

Its pixels are alpha, red, green, blue (alpha first) of uint8 (full 255), uint16 (full
32768) or float32 (full 1.0). Canvas.pixels is a numpy view over them, and a canvas
also gives its pixels through the buffer protocol: numpy.asarray(canvas) is that view.)")
      .def(py::init([](int width, int height, int depth, const py::object& background,
                       const py::object& colour) {
             return kstroke::Canvas(width, height, DepthArg(depth),
                                    ColourArg("Canvas", "background", background),
                                    SpaceArg("Canvas", colour));
           }),
           py::arg("width"), py::arg("height"), py::arg("depth") = 8,
           py::arg("background") = py::make_tuple(1.0, 1.0, 1.0, 1.0), py::arg("colour") = py::none(),
           R"(A canvas of width x height pixels (1 to 30000 a side) filled with `background`
(red, green, blue[, alpha], fractions). `depth` is 8, 16 or 32 (float); `colour` what the
values mean: 'srgb' (sRGB-encoded), 'linear' (linear light) or None, the depth's
default (sRGB at 8 and 16 bits, linear for float).)")
      .def_static(
          "read",
          [](const std::filesystem::path& path, int depth, const py::object& colour,
             const py::object& progress) {
            const kstroke::ColourSpace space = SpaceArg("Canvas.read", colour);
            const std::string file = PathArg(path);
            return WithoutGil(progress, [&](kstroke::Progress* p) {
              return kstroke::Canvas::Read(file, DepthArg(depth), space, p);
            });
          },
          py::arg("path"), py::arg("depth") = 8, py::arg("colour") = py::none(),
          py::arg("progress") = py::none(),
          R"(Reads an image (PNG, JPEG, TIFF or OpenEXR, told by its content) at `depth`,
converted from its tagged colour to `colour`. Runs without the GIL.)")
      .def_static("from_rgba", &CanvasFromRgba, py::arg("array"), py::arg("colour") = py::none(),
                  R"(A canvas holding a copy of `array`, of shape (height, width, 4) in red, green,
blue, alpha order, or (height, width, 3) (then opaque). The dtype sets the depth: uint8
(full 255), uint16 (full 32768) or float32 (full 1.0).)")
      .def_property_readonly("width", &kstroke::Canvas::Width)
      .def_property_readonly("height", &kstroke::Canvas::Height)
      .def_property_readonly("depth", [](const kstroke::Canvas& c) { return int(c.GetDepth()); },
                             "8, 16 or 32 (float) bits per channel.")
      .def_property_readonly("colour", [](const kstroke::Canvas& c) { return SpaceName(c.Space()); },
                             "'srgb' (sRGB-encoded values) or 'linear' (linear light).")
      .def_property_readonly("dtype", [](const kstroke::Canvas& c) { return DtypeOf(c.GetDepth()); },
                             "The pixels' numpy dtype: uint8, uint16 or float32.")
      .def_property_readonly("full", [](const kstroke::Canvas& c) { return FullOf(c.GetDepth()); },
                             "The value of full scale: 255, 32768 or 1.0.")
      .def_property_readonly("shape", [](const kstroke::Canvas& c) {
        return py::make_tuple(c.Height(), c.Width(), 4);
      })
      .def_property_readonly("pixels", &PixelArray,
                             R"(The pixels, no copy: a numpy array of shape (height, width, 4) in the
order alpha, red, green, blue. Writing to it changes the canvas; it keeps the canvas
alive.)")
      .def("rgba", &Rgba, R"(A copy of the pixels in the order red, green, blue, alpha, of the
canvas's dtype and scale.)")
      .def(
          "write",
          [](const kstroke::Canvas& c, const std::filesystem::path& path, const py::object& fileDepth,
             const py::object& progress) {
            const std::string file = PathArg(path);
            const std::string samples = fileDepth.is_none() ? "" : py::str(fileDepth).cast<std::string>();
            WithoutGil(progress, [&](kstroke::Progress* p) { c.Write(file, samples, p); });
          },
          py::arg("path"), py::arg("file_depth") = py::none(), py::arg("progress") = py::none(),
          R"(Writes the canvas to `path`; the format follows the name (.png, .tif/.tiff, .exr)
and `file_depth` ('8', '16', 'half', 'float'; None: the format's choice) the samples.
Written under a temporary name and renamed when complete. Runs without the GIL.)")
      .def_buffer([](kstroke::Canvas& c) {
        const kstroke::PixelView v = c.Pixels();
        const py::dtype dtype = DtypeOf(v.depth);
        const py::ssize_t item = dtype.itemsize();
        const std::string format = v.depth == kstroke::Depth::k8    ? py::format_descriptor<uint8_t>::format()
                                   : v.depth == kstroke::Depth::k16 ? py::format_descriptor<uint16_t>::format()
                                                                    : py::format_descriptor<float>::format();
        return py::buffer_info(v.data, item, format, 3, {py::ssize_t(v.height), py::ssize_t(v.width), py::ssize_t(4)},
                               {py::ssize_t(v.rowBytes), 4 * item, item});
      })
      .def("__repr__", &CanvasRepr);

  // Brush -----------------------------------------------------------------------------
  const Brush defaults;
  py::class_<Brush> brushClass(m, "Brush", R"(Every setting of a brush, as a stroke description's `brush` holds it.
Setting a field out of its range raises kstroke.Error naming it.)");
  brushClass
      .def(py::init([](double diameter, double hardness, double roundness, double angle,
                       double spacing, double opacity, double flow, double stabiliser, bool dither,
                       bool additive, bool curve) {
             Brush b;
             b.Diameter(diameter).Hardness(hardness).Roundness(roundness).Angle(angle);
             b.Spacing(spacing).Opacity(opacity).Flow(flow).Stabiliser(stabiliser);
             b.Dither(dither).Additive(additive).Curve(curve);
             return b;
           }),
           py::kw_only(), py::arg("diameter") = defaults.Diameter(),
           py::arg("hardness") = defaults.Hardness(), py::arg("roundness") = defaults.Roundness(),
           py::arg("angle") = defaults.Angle(), py::arg("spacing") = defaults.Spacing(),
           py::arg("opacity") = defaults.Opacity(), py::arg("flow") = defaults.Flow(),
           py::arg("stabiliser") = defaults.Stabiliser(), py::arg("dither") = defaults.Dither(),
           py::arg("additive") = defaults.Additive(), py::arg("curve") = defaults.Curve(),
           "A brush with the description's defaults and the pressure rule (diameter 0.2 + 0.8 x "
           "pressure, flow = pressure); the fields are the properties of the same names.")
      .def_static(
          "preset",
          [](const std::string& nameOrFile, py::kwargs fields) {
            Brush b = Brush::Preset(nameOrFile);
            SetBrushFields("Brush.preset", b, fields);
            return b;
          },
          py::arg("name_or_file"),
          "A built-in preset (Brush.presets()) or a brush file, keyword fields set over it.")
      .def_static("presets", &Brush::PresetNames, "The built-in presets' names, in order.")
      .def_property_readonly("transfer", [](const Brush& b) -> py::object {
        if (b.Transfer().empty()) return py::none();
        return py::str(b.Transfer());
      }, "The transfer mode a preset paints with ('erase' for an eraser), or None.")
      .def("clear_dynamics", &Brush::ClearDynamics, py::return_value_policy::reference_internal,
           "Removes every dynamics mapping: every factor constant (1; the angle 0). Answers the brush.")
      .def(
          "map",
          [](Brush& b, const std::string& factor, const std::string& input, const py::object& curve) -> Brush& {
            const int f = NameArg("Brush.map", "factor", factor, kFactorNames);
            const int in = NameArg("Brush.map", "input", input, kInputNames, kInputAliases);
            return b.Map(kstroke::Factor(f), kstroke::Input(in), CurveArg("Brush.map", curve));
          },
          py::arg("factor"), py::arg("input"), py::arg("curve"), py::return_value_policy::reference_internal,
          R"(Adds a dynamics mapping: `input` ('pressure', 'tilt_x', 'tilt_y', 'twist', 'speed',
'direction', 'random') read through the piecewise-linear `curve` of 1 to 8 [input, factor]
points with increasing inputs, scaling `factor` ('diameter', 'opacity', 'flow',
'roundness'; 'angle' adds degrees). Several mappings of a factor multiply (the angle's
add up). Answers the brush. A new brush has the pressure rule; clear_dynamics() first to
replace it.)")
      .def("copy", [](const Brush& b) { return Brush(b); })
      .def("__copy__", [](const Brush& b) { return Brush(b); })
      .def("__deepcopy__", [](const Brush& b, py::dict) { return Brush(b); })
      .def("__repr__", &BrushRepr);
  for (const NumberField& f : kNumberFields)
    brushClass.def_property(
        f.name, [f](const Brush& b) { return (b.*f.get)(); },
        [f](Brush& b, double v) { (b.*f.set)(v); }, f.doc);
  for (const FlagField& f : kFlagFields)
    brushClass.def_property(
        f.name, [f](const Brush& b) { return (b.*f.get)(); },
        [f](Brush& b, bool v) { (b.*f.set)(v); }, f.doc);

  // Source ----------------------------------------------------------------------------
  py::class_<PySource>(m, "Source", "What a stroke lays down: a flat colour, or pixels cloned from an image.")
      .def_static(
          "fill",
          [](const py::object& colour) {
            const kstroke::Colour c = ColourArg("Source.fill", "colour", colour);
            return PySource{kstroke::Source::Fill(c),
                            "kstroke.Source.fill(" + Repr(ColourTuple(c)) + ")"};
          },
          py::arg("colour") = py::make_tuple(0.0, 0.0, 0.0, 1.0),
          "A flat colour: (red, green, blue[, alpha]), fractions; on a float canvas red, green and "
          "blue may pass 1.")
      .def_static(
          "clone",
          [](const kstroke::Canvas& image, double x, double y, double aspect) {
            return PySource{kstroke::Source::Clone(image, x, y, aspect),
                            "kstroke.Source.clone(" + CanvasRepr(image) + PointText(x, y, aspect)};
          },
          py::arg("image"), py::arg("source_x") = 0.0, py::arg("source_y") = 0.0,
          py::arg("source_pixel_aspect") = 1.0,
          R"(Pixels of the canvas `image` (shared, not copied; of the stroke's canvas's depth):
its point (source_x, source_y), fractions of the image, lands on the canvas's (0, 0).)")
      .def_static(
          "clone_file",
          [](const std::filesystem::path& path, double x, double y, double aspect) {
            const std::string file = PathArg(path);
            return PySource{kstroke::Source::CloneFile(file, x, y, aspect),
                            "kstroke.Source.clone_file(" + Repr(py::str(file)) + PointText(x, y, aspect)};
          },
          py::arg("path"), py::arg("source_x") = 0.0, py::arg("source_y") = 0.0,
          py::arg("source_pixel_aspect") = 1.0,
          R"(Pixels of the image file at `path`, read when a stroke starts, at its canvas's
depth and colour. A document a stroke of it is added to names the file.)")
      .def("__repr__", [](const PySource& s) { return s.repr; });

  // Stroke ----------------------------------------------------------------------------
  py::class_<PyStroke>(m, "Stroke", R"(One stroke being painted into a canvas: events come in as the pen
moves and each render() draws what they added. The first event always leaves a dab;
with the brush's curve on, the last sample is held back until the next or finish().)")
      .def(py::init([](kstroke::Canvas& canvas, const py::object& brush, const py::object& source,
                       const py::object& transfer, const py::object& channels, const py::object& seed,
                       bool linearBlending) {
             auto s = std::make_unique<PyStroke>(canvas);
             const kstroke::Brush b = BrushArg(brush);
             const kstroke::Source src = SourceArg(source);
             {
               // A clone file is read here.
               py::gil_scoped_release release;
               s->stroke = std::make_unique<kstroke::Stroke>(canvas, b, src);
             }
             if (!transfer.is_none()) s->stroke->Transfer(transfer.cast<std::string>());
             if (!channels.is_none()) s->stroke->Channels(channels.cast<std::string>());
             if (!seed.is_none()) s->stroke->Seed(seed.cast<int32_t>());
             s->stroke->LinearBlending(linearBlending);
             return s;
           }),
           py::arg("canvas"), py::arg("brush") = py::none(), py::arg("source") = py::none(),
           py::kw_only(), py::arg("transfer") = py::none(), py::arg("channels") = py::none(),
           py::arg("seed") = py::none(), py::arg("linear_blending") = false, py::keep_alive<1, 2>(),
           R"(A stroke on `canvas` with `brush` (a Brush, a preset's name, or None: Brush()) and
`source` (a Source, a fill colour, or None: black). `transfer` ('normal', 'multiply',
'erase', ... as in descriptions; default the brush's, else 'normal'), `channels` ('all',
'colour', 'alpha', 'colour-opaque'), `seed` (the dither and the random input) and
`linear_blending` (blend in linear light; only an sRGB canvas differs).)")
      .def(
          "add",
          [](PyStroke& s, double t, double x, double y, std::optional<double> pressure, double tiltX,
             double tiltY, double twist, bool spacing) {
            PyStroke::Use use(s, "Stroke.add");
            s.stroke->Add({t, x, y, pressure, tiltX, tiltY, twist, spacing});
          },
          py::arg("t"), py::arg("x"), py::arg("y"), py::arg("pressure") = py::none(),
          py::arg("tilt_x") = 0.0, py::arg("tilt_y") = 0.0, py::arg("twist") = 0.0,
          py::arg("spacing") = true,
          R"(Adds a pointer sample: time `t` (after the last event's), position (x, y) in
fractions of the canvas, `pressure` 0..1 (None reads as 1), tilts in degrees -90..90,
`twist` in degrees 0..360; spacing=False forces a dab here.)")
      .def("add_events", &AddEvents, py::arg("t"), py::arg("x"), py::arg("y"),
           py::arg("pressure") = py::none(), py::arg("tilt_x") = py::none(),
           py::arg("tilt_y") = py::none(), py::arg("twist") = py::none(), py::arg("spacing") = py::none(),
           R"(Adds one event per element of the 1-D arrays `t`, `x`, `y` (numbers of any real
dtype, or lists); the optional columns are arrays as long, or single values for every
event. Exactly as many add() calls; a bad event raises kstroke.Error naming it, the
events before it stay added.)")
      .def(
          "render",
          [](PyStroke& s, const py::object& progress) {
            PyStroke::Use use(s, "Stroke.render");
            return WithoutGil(progress, [&](kstroke::Progress* p) { return s.stroke->Render(p); });
          },
          py::arg("progress") = py::none(),
          "Draws what the events added since the last call; answers the Rect that changed. Runs "
          "without the GIL.")
      .def(
          "finish",
          [](PyStroke& s, const py::object& progress) {
            PyStroke::Use use(s, "Stroke.finish");
            const kstroke::Rect r =
                WithoutGil(progress, [&](kstroke::Progress* p) { return s.stroke->Finish(p); });
            s.finished = true;
            return r;
          },
          py::arg("progress") = py::none(),
          R"(Records the samples held back (a curve's last, the stabiliser's catch-up) and draws
them; no event may follow. Answers the Rect that changed. Runs without the GIL.)")
      .def_property_readonly("events", [](const PyStroke& s) { return s.stroke->Events(); },
                             "Events added so far.")
      .def_property_readonly("finished", [](const PyStroke& s) { return s.finished; })
      .def("__len__", [](const PyStroke& s) { return s.stroke->Events(); })
      .def("__repr__", [](const PyStroke& s) {
        const size_t n = s.stroke->Events();
        std::ostringstream text;
        text << "<kstroke.Stroke: " << n << (n == 1 ? " event" : " events") << " on a "
             << s.canvas.Width() << " x " << s.canvas.Height() << " "
             << py::str(DtypeOf(s.canvas.GetDepth())).cast<std::string>() << " canvas"
             << (s.finished ? ", finished>" : ">");
        return text.str();
      });

  // Document --------------------------------------------------------------------------
  py::class_<kstroke::Document>(m, "Document", R"(A stroke description or stroke file: a canvas's settings and strokes,
as the kstroke program reads and writes them (README.md has the format).)")
      .def_static(
          "load",
          [](const std::filesystem::path& path) {
            const std::string file = PathArg(path);
            py::gil_scoped_release release;
            return kstroke::Document::Load(file);
          },
          py::arg("path"),
          "Reads a description (JSON) or a stroke file (.kst, or content starting with a chunk).")
      .def_static(
          "parse",
          [](const py::object& description, const std::string& name) {
            if (py::isinstance<py::str>(description)) {
              const std::string json = description.cast<std::string>();
              py::gil_scoped_release release;
              return kstroke::Document::Parse(json, name);
            }
            if (!py::isinstance<py::dict>(description))
              throw py::type_error("Document.parse: description: expected a JSON string or a dict, got " +
                                   Repr(description));
            return DocumentArg("Document.parse", description, name);
          },
          py::arg("description"), py::arg("name") = "description",
          R"(Parses a description, given as JSON text or as a dict; `name` heads messages and
clone image paths are relative to its folder (the current one by default).)")
      .def_static("built_in", &kstroke::Document::BuiltIn, "The built-in stroke.")
      .def_static(
          "new",
          [](int width, int height, int depth, const py::object& background, const py::object& colour) {
            return kstroke::Document::New(width, height, DepthArg(depth),
                                          ColourArg("Document.new", "background", background),
                                          SpaceArg("Document.new", colour));
          },
          py::arg("width"), py::arg("height"), py::arg("depth") = 8,
          py::arg("background") = py::make_tuple(1.0, 1.0, 1.0, 1.0), py::arg("colour") = py::none(),
          "A document of no strokes, for a canvas as Canvas(width, height, depth, background, "
          "colour) makes it.")
      .def("to_json", &kstroke::Document::ToJson,
           "The description as JSON text, every field written (clone images named as loaded).")
      .def(
          "to_dict",
          [](const kstroke::Document& d) { return py::module_::import("json").attr("loads")(d.ToJson()); },
          "The description as a dict.")
      .def(
          "save",
          [](const kstroke::Document& d, const std::filesystem::path& path) {
            const std::string file = PathArg(path);
            const bool json = NamesJson(path);
            py::gil_scoped_release release;
            if (json)
              d.SaveDescription(file);
            else
              d.Save(file);
          },
          py::arg("path"),
          R"(Writes the document: a name ending in .json gets the description (clone images named
from its folder), any other the strokes recorded into a stroke file (.kst). Written
under a temporary name and renamed when complete. Runs without the GIL.)")
      .def_property_readonly("width", &kstroke::Document::Width)
      .def_property_readonly("height", &kstroke::Document::Height)
      .def_property_readonly("depth", [](const kstroke::Document& d) { return int(d.GetDepth()); })
      .def_property_readonly("strokes", &kstroke::Document::Strokes, "Strokes, before symmetry copies.")
      .def("__len__", &kstroke::Document::Strokes)
      .def("use_brush", &kstroke::Document::UseBrush, py::arg("brush"),
           py::return_value_policy::reference_internal,
           "Paints every stroke with `brush` (and its transfer, when it has one). Answers the document.")
      .def(
          "add",
          [](kstroke::Document& d, PyStroke& s) -> kstroke::Document& {
            PyStroke::Use use(s, "Document.add");
            return d.Add(*s.stroke);
          },
          py::arg("stroke"), py::return_value_policy::reference_internal,
          R"(Appends `stroke` as painted so far: its brush, source, transfer, channels, seed and
events. Answers the document.)")
      .def("keep", &kstroke::Document::Keep, py::arg("count"), py::return_value_policy::reference_internal,
           "Keeps the first `count` strokes (an undo of the ones after). Answers the document.")
      .def("blank", &kstroke::Document::Blank,
           "A canvas of the document's size, depth, colour and background, unpainted.")
      .def(
          "render",
          [](const kstroke::Document& d, const py::object& progress) {
            return WithoutGil(progress, [&](kstroke::Progress* p) { return d.Render(p); });
          },
          py::arg("progress") = py::none(),
          "Renders every stroke onto a new Canvas, as a painting host would while the pen moved. Runs "
          "without the GIL.")
      .def("copy", [](const kstroke::Document& d) { return kstroke::Document(d); })
      .def("__copy__", [](const kstroke::Document& d) { return kstroke::Document(d); })
      .def("__deepcopy__", [](const kstroke::Document& d, py::dict) { return kstroke::Document(d); })
      .def("__repr__", &DocumentRepr);

  m.def(
      "render",
      [](const py::object& description, const py::object& progress) {
        const kstroke::Document d = DocumentArg("render", description, "description");
        return OwnPixels(WithoutGil(progress, [&](kstroke::Progress* p) { return d.Render(p); }));
      },
      py::arg("description"), py::arg("progress") = py::none(),
      R"(Renders a stroke description or stroke file (a path), a description (a dict) or a
Document, and answers the pixels: a numpy array of shape (height, width, 4), alpha, red,
green, blue, of uint8, uint16 or float32 (see the module's help). Runs without the GIL.)");
}
