// SPDX-License-Identifier: MIT
// Between a stroke description and the engine's K_Shape: building a shape from a
// recorded description, and describing a shape. Events are recorded by
// document/stroke_input.h.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "document/stroke_doc.h"
#include "kstroke/shape.h"

/// The engine refused an event; the message is one line naming the file and event.
struct RecordError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A shape holding exactly `recorded` (open or closed, relative, no rectangle).
std::unique_ptr<K_Shape> ShapeFromRecorded(const DocRecorded& recorded);

/// The recorded description of `shape`, value for value. Only a relative stroke path
/// without a rectangle can be described; the caller checks Kind(), Flags() and
/// RelRect() (see RecordableHeader). Throws long on a host list failure.
DocRecorded RecordedFromShape(const K_Shape& shape);

/// Whether a shape's header is one a recorded description can hold: flags relative,
/// possibly open, nothing else, and no relative rectangle.
bool RecordableHeader(const K_Shape& shape);
