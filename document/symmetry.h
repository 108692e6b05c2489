// SPDX-License-Identifier: MIT
// Symmetry: every stroke drawn again as painting programs' symmetry draws it, mirrored
// and turned about a centre on the canvas, each copy a full stroke with its own tips.
//
// A copy is the stroke recorded as it is (stabiliser, dynamics and all, on the
// pointer's own samples) and then moved: positions in canvas pixels are mirrored
// (x about the vertical axis through the centre, y about the horizontal one) and
// then turned counter-clockwise on the screen by 360° · r / N. Centripetal curves
// and stabilising commute with such moves, so the copy is the stroke's own shape
// moved. The tip turns with it: a mirror reverses the brush angle and every angle
// factor, and the turn adds to the brush angle.
#pragma once

#include "document/stroke_doc.h"

/// `doc` with each stroke replaced by its symmetry's copies, the stroke itself first and
/// then by turn (r = 0 … N − 1) and mirror (none, vertical, horizontal, both); every
/// copy's symmetry is none. Event strokes keep their events and carry their move in
/// `DocStroke::copy`; recorded strokes are moved outright.
StrokeDoc ExpandSymmetry(const StrokeDoc& doc);

/// "file: strokes[i]" for stroke `index` of `doc`, i being the index in the description
/// of the stroke it was expanded from: messages and field paths name the file's strokes.
std::string StrokeWhere(const StrokeDoc& doc, size_t index);

/// " (symmetry copy k of n)" for an expanded stroke of a stroke with copies, else "".
std::string CopyNote(const DocStroke& stroke);

/// Where a copy's sample at canvas pixel `p` goes.
std::array<double, 2> MoveCopy(const DocCopy& copy, const std::array<double, 2>& p);
