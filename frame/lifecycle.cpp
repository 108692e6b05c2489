// SPDX-License-Identifier: MIT
// Entry points: the library keeps no global state, so both only log.
#include "kstroke/frame.h"

#include "host/jot/jot.h"

int32_t K_Birth(void) {
  JOT_Log(10, "K", "Birth", "K Birth");
  return 0;
}

int32_t K_Death(void) {
  JOT_Log(10, "K", "Death", "K Death");
  return 0;
}
