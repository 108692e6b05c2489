// SPDX-License-Identifier: MIT
/// @file
/// Library entry points the host calls after loading and before unloading libkstroke.
#pragma once

#include <cstdint>

#include "kstroke/kstroke_export.h"

extern "C" {
/// Logs "K Birth" (level 10) and answers 0. Holds no state: any number, any order.
KSTROKE_API int32_t K_Birth(void);
/// Logs "K Death" (level 10) and answers 0.
KSTROKE_API int32_t K_Death(void);
}
