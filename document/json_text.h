// SPDX-License-Identifier: MIT
// JSON text in and out of error messages: a parser that knows which field it is in
// when the text goes wrong, and the short, flat excerpt of a value that messages quote.
//
// Stroke descriptions are hostile input. Parsing keeps no recursion of its own and
// refuses nesting deeper than kMaxJsonDepth (a description needs six levels), so a
// file of a million brackets costs neither the stack nor gigabytes of nodes. Messages
// never print more than kExcerptChars of what the file holds.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

/// Deepest nesting of arrays and objects a description may have.
constexpr int kMaxJsonDepth = 64;
/// Longest quote of a value or a path in a message, "…" included.
constexpr std::size_t kExcerptChars = 60;

/// Parses `text`. Throws StrokeDocError headed by `file`, naming the field where
/// there is one:
///   a.json: not valid JSON: parse error at line 1, column 9: …
///   a.json: canvas.width: not valid JSON: number overflow parsing '1e999'
///   a.json: canvas.width[0][0]…: nested deeper than 64 levels
nlohmann::json ParseJsonText(const std::string& text, const std::string& file);

/// `value` as compact JSON writes it, cut to at most kExcerptChars characters
/// ("[[[[…", "\"abc…\""). Work is bounded by the excerpt, not by the value.
std::string JsonExcerpt(const nlohmann::json& value);

/// `text` cut to at most kExcerptChars characters, at a UTF-8 character boundary.
std::string TextExcerpt(const std::string& text);
