// SPDX-License-Identifier: MIT
// Reading a stroke description or stroke file whole, within a size limit checked before
// the file is read, so `kstroke render /dev/zero` ends at once instead of growing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Largest stroke description or stroke file the program reads: 64 MiB. A stroke of
/// the most events one stroke can record takes about 1 MiB as JSON.
constexpr std::size_t kMaxInputBytes = std::size_t(64) << 20;

/// The bytes of `path`. Throws StrokeDocError naming the file: it cannot be opened
/// (with the system's reason), it is a folder, it is larger than kMaxInputBytes (a
/// regular file by its size, before reading; a pipe or device once that much has
/// arrived), or reading fails.
std::vector<uint8_t> ReadInputFile(const std::string& path);
