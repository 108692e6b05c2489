// SPDX-License-Identifier: MIT
// Long calls of the Python module run without the GIL; a kstroke::Progress brings them
// back to Python now and then, to report to a callable, to let it stop the job, and to
// let Ctrl-C (KeyboardInterrupt) stop it.
//
// The job runs on the calling thread with the GIL released. At most every kAskInterval,
// and at each new part of the job, the progress takes the GIL back, runs Python's
// signal handlers (on the main thread only: Python runs them nowhere else) and calls the
// callable with the fraction done. A callable answering False stops the job with
// kstroke.Error code 1603; one that raises, or a handler that raises (KeyboardInterrupt),
// stops it too, and the call then raises that exception instead.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <optional>
#include <thread>

#include "kstroke/kstroke.hpp"

namespace kstroke_py {

class PyProgress final : public kstroke::Progress {
public:
  /// `callback`: None, or a callable taking the fraction done (0..1). Needs the GIL.
  explicit PyProgress(pybind11::object callback);
  PyProgress(const PyProgress&) = delete;
  PyProgress& operator=(const PyProgress&) = delete;

  /// What to hand the facade: null when there is nothing to ask (no callable, and a
  /// thread other than the main one, where no signal handler runs).
  kstroke::Progress* Active() { return active ? this : nullptr; }

  void Begin(int32_t units) override;
  void NextUnit() override;
  bool Report(int32_t done, int32_t total) override;
  bool KeepGoing() override;
  void End() override;

  /// Raises what the callable or a signal handler raised during the job, if anything.
  /// Needs the GIL.
  void RaisePending();

private:
  /// Asks Python (taking the GIL) when `due` or the interval has passed; answers
  /// whether the job may go on.
  bool Ask(bool due);

  pybind11::object callback;
  bool active = false;
  bool mainThread = false;
  std::thread::id owner;
  int32_t units = 1;
  int32_t unit = 0;
  double fraction = 0;
  double told = -1;
  bool stop = false;
  std::chrono::steady_clock::time_point lastAsked{};
  std::optional<pybind11::error_already_set> pending;
};

/// Runs `job(progress)` with the GIL released, `progress` being what to hand the facade
/// (may be null). A kstroke::Error the job throws because Python stopped it becomes the
/// Python exception that stopped it.
template <class F>
auto WithoutGil(const pybind11::object& callback, F&& job) -> decltype(job(nullptr)) {
  PyProgress progress(callback);
  try {
    auto finish = [&] {
      pybind11::gil_scoped_release release;
      return job(progress.Active());
    };
    if constexpr (std::is_void_v<decltype(job(nullptr))>) {
      finish();
      progress.RaisePending();
    } else {
      auto result = finish();
      progress.RaisePending();
      return result;
    }
  } catch (const kstroke::Error&) {
    progress.RaisePending();
    throw;
  }
}

}  // namespace kstroke_py
