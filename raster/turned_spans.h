// SPDX-License-Identifier: MIT
// Row kernels along which v changes (turned dabs): every sample has its own rows,
// columns and fractions, so nothing is shared between samples. What is saved is the
// sampling where the tip holds no ink (Kp_PlanTurnedRow, with raster/tip_ink.h) and,
// with AVX2, the arithmetic of eight samples at once (turned_spans_avx2.cpp), at 8 bits
// with AVX-512 sixteen (turned_spans_avx512.cpp).
#pragma once

#include <cstdint>

#include "host/gx/gx.h"
#include "raster/span_kernels.h"
#include "raster/tip_ink.h"

/// Every level again with each sample paired with the one below it: entry (y, x) is
/// the two samples (x, y), (x, y + 1), for rows −1 .. h − 1 and columns −1 .. w. Two
/// neighbouring entries hold all four samples a bilinear sample blends, so a turned
/// row reads them with one load per sample: at 8 bits the bytes (y, x), (y + 1, x),
/// (y, x + 1), (y + 1, x + 1), at 16 bits the same as words.
struct Kp_PairedRows {
  const unsigned char* origin[kKp_MaxMIPLevels];  ///< entry (0, 0) of each level
  int32_t rowBytes[kKp_MaxMIPLevels];
  GX_Block block;
};

/// Pairs the rows of every level of `p`.
void Kp_PairRows(const Kp_MIPPyramid& p, Kp_PairedRows* paired);

/// Entries from one paired row of level k to the next (an entry is two samples).
inline int32_t Kp_PairedStride(const Kp_MIPPyramid& p, const Kp_PairedRows& paired, int32_t k) {
  return paired.rowBytes[k] / (2 * p.BytesPerSample());
}

/// Steps of the rows of one dab and what follows from them, worked out once: the rows
/// of a turned dab nearly always share du and dv.
struct Kp_RowMemo {
  bool known = false;
  Fx16 du = 0, dv = 0;
  double inverse[4] = {0, 0, 0, 0};  ///< 1 / du, 1 / dv, 1 / (du + dv), 1 / (du − dv); 0 for 0
};

/// What a row with dv != 0 needs drawn: samples outside [begin, end) are 0 (the ink
/// reach of level L and, blending, of level L + 1); inside [insideBegin, insideEnd)
/// every sample's level-L (and so level-L + 1) indices lie inside the level, so the
/// bounds tests can be left out there.
struct Kp_TurnedRow {
  int32_t begin = 0, end = 0;
  int32_t insideBegin = 0, insideEnd = 0;
};

namespace kp_turned {

inline bool NoWrap(int32_t start, int32_t step, int32_t count) {
  const int64_t last = int64_t(start) + int64_t(step) * (count - 1);
  return last >= INT32_MIN && last <= INT32_MAX;
}

inline double Inverse(double step) { return step != 0 ? 1.0 / step : 0.0; }

inline void Remember(Fx16 du, Fx16 dv, Kp_RowMemo* memo) {
  if (memo->known && memo->du == du && memo->dv == dv) return;
  memo->known = true;
  memo->du = du;
  memo->dv = dv;
  memo->inverse[0] = Inverse(du);
  memo->inverse[1] = Inverse(dv);
  memo->inverse[2] = Inverse(double(du) + dv);
  memo->inverse[3] = Inverse(double(du) - dv);
}

/// Narrows [*lo, *hi] of t to where low < c + b·t < high (open: Kp_InkReach) or
/// low <= c + b·t < high (`inward` > 0: pulled in by that much to be sure); r = 1 / b.
inline void Narrow(double c, double b, double r, double low, double high, double inward, double* lo,
                   double* hi) {
  if (b == 0) {
    if (!(low <= c && c < high)) *hi = *lo - 1;
    return;
  }
  double t0 = (low - c) * r, t1 = (high - c) * r;
  if (t1 < t0) {
    const double t = t0;
    t0 = t1;
    t1 = t;
  }
  t0 += inward;
  t1 -= inward;
  *lo = *lo < t0 ? t0 : *lo;
  *hi = *hi > t1 ? t1 : *hi;
}

/// floor(t) for t >= −1 (truncation after a shift to the positive side).
inline int32_t FloorFromMinus1(double t) { return int32_t(t + 1.0) - 1; }

/// The plan's [begin, end) from the ink reach narrowed to [lo, hi] (lo >= −1): the
/// samples strictly inside and one more on each side, within the row of `count`.
/// False, and the plan left empty, when no sample is left.
inline bool TakeReach(double lo, double hi, int32_t count, Kp_TurnedRow* plan) {
  if (!(hi > lo)) return false;
  plan->begin = FloorFromMinus1(lo);
  if (plan->begin < 0) plan->begin = 0;
  plan->end = FloorFromMinus1(hi) + 2;
  if (plan->end > count) plan->end = count;
  if (plan->end > plan->begin) return true;
  plan->end = plan->begin;
  return false;
}

/// The plan's inside run from the level bounds narrowed to [inLo, inHi] (`held`
/// false: a bound of step 0 rules the whole row out).
inline void TakeInside(double inLo, double inHi, bool held, Kp_TurnedRow* plan) {
  if (held && inHi >= inLo) {
    plan->insideBegin = FloorFromMinus1(inLo) + 1;  // past inLo: one sample too many at most
    plan->insideEnd = FloorFromMinus1(inHi) + 1;
  }
  if (plan->insideEnd <= plan->insideBegin) plan->insideBegin = plan->insideEnd = plan->begin;
}

}  // namespace kp_turned

/// Plans a row; without ink information (a.ink null) or where the coordinates wrap
/// along the row, all of it is drawn and tested. Uses and updates a.memo if set. The
/// vector rows get the same plans from Kp_PlanTurnedRowAvx2 (raster/turned_plan_x86.h),
/// which narrows the four bounds at once.
inline Kp_TurnedRow Kp_PlanTurnedRow(const Kp_SpanArgs& a, bool trilinear) noexcept {
  using namespace kp_turned;
  Kp_TurnedRow plan;
  plan.end = a.count;
  if (!a.ink || a.count <= 0 || !NoWrap(a.u, a.du, a.count) || !NoWrap(a.v, a.dv, a.count)) return plan;
  Kp_RowMemo local;
  Kp_RowMemo* memo = a.memo ? a.memo : &local;
  Remember(a.du, a.dv, memo);
  const Kp_LevelInk& level = a.ink->levels[a.level];
  const Kp_InkReach& reach = trilinear ? level.pairReach : level.reach;
  plan.end = 0;
  if (!reach.any) return plan;
  // The ink reach: samples strictly inside, one more on each side. Every operand is
  // an integer below 2^34, exact in a double; the quotients, by a rounded reciprocal,
  // are off by far less than the sample added.
  const double u = a.u, v = a.v, du = a.du, dv = a.dv;
  const double* inv = memo->inverse;
  double lo = -1, hi = a.count;
  Narrow(u, du, inv[0], reach.low[0], reach.high[0], 0, &lo, &hi);
  Narrow(v, dv, inv[1], reach.low[1], reach.high[1], 0, &lo, &hi);
  Narrow(u + v, du + dv, inv[2], reach.low[2], reach.high[2], 0, &lo, &hi);
  Narrow(u - v, du - dv, inv[3], reach.low[3], reach.high[3], 0, &lo, &hi);
  if (!TakeReach(lo, hi, a.count, &plan)) return plan;
  // Level-L indices inside −1 .. w − 1 and −1 .. h − 1: u and v in [−s, w·s), s the
  // level's sample in 16.16 units; a sample in from each end to be sure. Level L + 1's
  // indices, halves of these, are then inside too.
  const double s = double(int64_t(1) << (16 + a.level));
  const Kp_MIPPyramid& p = *a.pyramid;
  double inLo = plan.begin, inHi = plan.end - 1;
  Narrow(u, du, inv[0], -s, p.Width(a.level) * s, 1, &inLo, &inHi);
  Narrow(v, dv, inv[1], -s, p.Height(a.level) * s, 1, &inLo, &inHi);
  TakeInside(inLo, inHi, true, &plan);
  return plan;
}

/// Plans and draws a row with dv != 0 eight samples at a time with AVX2, zeros
/// included; `weight` is Kp_TrilinearWeight when `kTrilinear`. Call only where
/// Kp_HasAvx2() and with a.paired set.
template <class T, bool kTrilinear>
void Kp_TurnedRowAvx2(const Kp_SpanArgs& a, uint32_t weight, T* dst) noexcept;
/// The same raising each destination sample m to max(m, s) (s never passes full)
/// instead of storing s, and writing nothing where s is 0. Any dv; with dv = 0 the
/// caller has made sure the level-L row lies inside the level.
template <class T, bool kTrilinear>
void Kp_TurnedRowRaiseAvx2(const Kp_SpanArgs& a, uint32_t weight, T* dst) noexcept;
/// A batch of rows of one dab (Kp_RowsProc), storing or raising; rows with dv = 0 keep
/// the rule for rows of constant v. Call only where Kp_HasAvx2() and with paired rows.
template <class T, bool kTrilinear, bool kRaise>
void Kp_TurnedRowsAvx2(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) noexcept;
/// The widest block Kp_SmallBlockAvx2 takes; wider ones cost less through the separable
/// kernel (measured at 24 and 32).
constexpr int32_t kKp_SmallBlockMax = 16;
/// An unturned block (the block kernels' arguments: rows of constant v, v stepping by
/// a.dv from row to row) of 1 to kKp_SmallBlockMax samples a row, bilinear or
/// `trilinear`, eight samples at a time with AVX2: the columns' offsets, fractions and
/// bounds at each level are worked out once for the block, and each row costs its loads
/// and blends. The small dabs of a pressure stroke are mostly this. Answers false,
/// having drawn nothing, for wider blocks or without paired rows. Call only where
/// Kp_HasAvx2().
template <class T>
bool Kp_SmallBlockAvx2(const Kp_SpanArgs& a, bool trilinear, T* dst) noexcept;
/// Kp_TurnedRowsAvx2 at 8 bits, sixteen samples at a time with AVX-512. Call only where
/// Kp_HasAvx512() and with paired rows.
template <bool kTrilinear, bool kRaise>
void Kp_TurnedRowsAvx512(const Kp_SpanArgs& common, const Kp_RowArgs* rows, int32_t n) noexcept;
