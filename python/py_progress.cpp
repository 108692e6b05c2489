// SPDX-License-Identifier: MIT
#include "python/py_progress.h"

#include <algorithm>

namespace py = pybind11;

namespace kstroke_py {
namespace {

// Often enough for a progress bar and for Ctrl-C to feel immediate; seldom enough that
// taking the GIL back costs nothing measurable, even when another thread holds it.
constexpr std::chrono::milliseconds kAskInterval{10};

}  // namespace

PyProgress::PyProgress(py::object callback_) : callback(std::move(callback_)) {
  owner = std::this_thread::get_id();
  const py::module_ threading = py::module_::import("threading");
  mainThread = threading.attr("main_thread")().is(threading.attr("current_thread")());
  active = mainThread || !callback.is_none();
}

void PyProgress::Begin(int32_t units_) {
  units = std::max(units_, 1);
  unit = 0;
  Ask(true);
}

void PyProgress::NextUnit() {
  unit = std::min(unit + 1, units);
  fraction = std::max(fraction, double(unit - 1) / units);
  Ask(true);
}

bool PyProgress::Report(int32_t done, int32_t total) {
  // Phases of one part each count from 0 again: the fraction told never goes back.
  const double within = total > 0 ? std::clamp(double(done) / total, 0.0, 1.0) : 0.0;
  fraction = std::max(fraction, (std::max(unit - 1, 0) + within) / units);
  return Ask(false);
}

bool PyProgress::KeepGoing() { return Ask(false); }

void PyProgress::End() {
  fraction = 1;
  Ask(true);
}

bool PyProgress::Ask(bool due) {
  if (stop) return false;
  // Python is called on the job's own thread only.
  if (std::this_thread::get_id() != owner) return true;
  const auto now = std::chrono::steady_clock::now();
  if (told >= 0 && !(due && fraction != told) && now - lastAsked < kAskInterval) return true;
  lastAsked = now;
  told = fraction;
  py::gil_scoped_acquire gil;
  try {
    if (mainThread && PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (!callback.is_none() && callback(fraction).ptr() == Py_False) stop = true;
  } catch (py::error_already_set& e) {
    pending = std::move(e);
    stop = true;
  }
  return !stop;
}

void PyProgress::RaisePending() {
  if (pending) {
    py::error_already_set e = std::move(*pending);
    pending.reset();
    throw e;
  }
}

}  // namespace kstroke_py
