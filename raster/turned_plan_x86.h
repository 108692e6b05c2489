// SPDX-License-Identifier: MIT
// Kp_PlanTurnedRow for the vector rows: what the rows of a dab share (the steps'
// reciprocals, the bounds put in order for each step's sign) is worked out once, and
// the four ink-reach bounds of a row are narrowed together in one vector of doubles.
// Per bound the operations are the scalar plan's, in its order (a difference, then its
// product with the same reciprocal; no FMA), so both give the same plans bit for bit;
// only the branches are gone. Included by the vector kernels' sources, whose functions
// carry target attributes that include AVX2.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>

#include <cstring>
#include <limits>

#include "raster/turned_spans.h"

#define KSTROKE_PLAN_AVX2 __attribute__((target("avx2")))

/// What every row of one dab shares in its plan, for one pair of steps (du, dv).
struct Kp_RowPlanner {
  bool known = false;
  Fx16 du = 0, dv = 0;
  bool any = false;   ///< the level (pair) holds ink
  bool flat = false;  ///< a step of the ink bounds (flatInk) or level bounds (flatLevel) is 0
  // Ink reach on (u, v, u + v, u − v): along the row t runs from (near − c)·r to
  // (far − c)·r, near and far being low and high put in order for the sign of r. A
  // bound whose step is 0 holds for the whole row or for none of it: c between low
  // and high decides (flat: all bits set in that lane).
  alignas(32) double inkNear[4], inkFar[4], inkR[4], inkLow[4], inkHigh[4], flatInk[4];
  // The level's bounds on u and v, the same way, pulled in by one sample.
  alignas(16) double levelNear[2], levelFar[2], levelR[2], levelLow[2], levelHigh[2], flatLevel[2];

  void Prepare(const Kp_SpanArgs& a, bool trilinear) {
    known = true;
    du = a.du;
    dv = a.dv;
    const Kp_LevelInk& level = a.ink->levels[a.level];
    const Kp_InkReach& reach = trilinear ? level.pairReach : level.reach;
    any = reach.any;
    const double steps[4] = {double(a.du), double(a.dv), double(a.du) + a.dv, double(a.du) - a.dv};
    const double s = double(int64_t(1) << (16 + a.level));
    levelLow[0] = levelLow[1] = -s;
    levelHigh[0] = a.pyramid->Width(a.level) * s;
    levelHigh[1] = a.pyramid->Height(a.level) * s;
    flat = false;
    for (int32_t i = 0; i < 4; ++i) {
      const double r = kp_turned::Inverse(steps[i]);
      const bool isFlat = steps[i] == 0;
      flat |= isFlat;
      double allBits;
      const uint64_t bits = isFlat ? ~uint64_t(0) : 0;
      std::memcpy(&allBits, &bits, sizeof allBits);
      inkR[i] = r;
      inkLow[i] = reach.low[i];
      inkHigh[i] = reach.high[i];
      inkNear[i] = r < 0 ? reach.high[i] : reach.low[i];
      inkFar[i] = r < 0 ? reach.low[i] : reach.high[i];
      flatInk[i] = allBits;
      if (i < 2) {
        levelR[i] = r;
        levelNear[i] = r < 0 ? levelHigh[i] : levelLow[i];
        levelFar[i] = r < 0 ? levelLow[i] : levelHigh[i];
        flatLevel[i] = allBits;
      }
    }
  }
};

/// Kp_PlanTurnedRow(a, trilinear), the same result; `planner` is prepared again when
/// the row's steps differ from the ones it holds, and must not be shared between dabs
/// (level, ink and trilinear are taken as they were at its last preparation).
KSTROKE_PLAN_AVX2 inline Kp_TurnedRow Kp_PlanTurnedRowAvx2(const Kp_SpanArgs& a, bool trilinear,
                                                          Kp_RowPlanner* planner) {
  using namespace kp_turned;
  Kp_TurnedRow plan;
  plan.end = a.count;
  if (!a.ink || a.count <= 0 || !NoWrap(a.u, a.du, a.count) || !NoWrap(a.v, a.dv, a.count)) return plan;
  Kp_RowPlanner& pl = *planner;
  if (!pl.known || pl.du != a.du || pl.dv != a.dv) pl.Prepare(a, trilinear);
  plan.end = 0;
  if (!pl.any) return plan;
  const double u = a.u, v = a.v;
  const double infinity = std::numeric_limits<double>::infinity();
  const __m256d c = _mm256_setr_pd(u, v, u + v, u - v);
  const __m256d inkR = _mm256_load_pd(pl.inkR);
  __m256d t0 = _mm256_mul_pd(_mm256_sub_pd(_mm256_load_pd(pl.inkNear), c), inkR);
  __m256d t1 = _mm256_mul_pd(_mm256_sub_pd(_mm256_load_pd(pl.inkFar), c), inkR);
  const __m128d c2 = _mm256_castpd256_pd128(c);
  const __m128d levelR = _mm_load_pd(pl.levelR);
  __m128d i0 = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(_mm_load_pd(pl.levelNear), c2), levelR), _mm_set1_pd(1.0));
  __m128d i1 = _mm_sub_pd(_mm_mul_pd(_mm_sub_pd(_mm_load_pd(pl.levelFar), c2), levelR), _mm_set1_pd(1.0));
  bool levelMissed = false;
  if (pl.flat) {
    const __m256d flatInk = _mm256_load_pd(pl.flatInk);
    const __m256d held = _mm256_and_pd(_mm256_cmp_pd(_mm256_load_pd(pl.inkLow), c, _CMP_LE_OQ),
                                       _mm256_cmp_pd(c, _mm256_load_pd(pl.inkHigh), _CMP_LT_OQ));
    if (_mm256_movemask_pd(_mm256_andnot_pd(held, flatInk))) return plan;
    t0 = _mm256_blendv_pd(t0, _mm256_set1_pd(-infinity), flatInk);
    t1 = _mm256_blendv_pd(t1, _mm256_set1_pd(infinity), flatInk);
    const __m128d flatLevel = _mm_load_pd(pl.flatLevel);
    const __m128d inLevel = _mm_and_pd(_mm_cmp_pd(_mm_load_pd(pl.levelLow), c2, _CMP_LE_OQ),
                                       _mm_cmp_pd(c2, _mm_load_pd(pl.levelHigh), _CMP_LT_OQ));
    levelMissed = _mm_movemask_pd(_mm_andnot_pd(inLevel, flatLevel)) != 0;
    i0 = _mm_blendv_pd(i0, _mm_set1_pd(-infinity), flatLevel);
    i1 = _mm_blendv_pd(i1, _mm_set1_pd(infinity), flatLevel);
  }
  __m128d lo2 = _mm_max_pd(_mm256_castpd256_pd128(t0), _mm256_extractf128_pd(t0, 1));
  __m128d hi2 = _mm_min_pd(_mm256_castpd256_pd128(t1), _mm256_extractf128_pd(t1, 1));
  lo2 = _mm_max_sd(lo2, _mm_unpackhi_pd(lo2, lo2));
  hi2 = _mm_min_sd(hi2, _mm_unpackhi_pd(hi2, hi2));
  const double lo = _mm_cvtsd_f64(_mm_max_sd(lo2, _mm_set_sd(-1.0)));
  const double hi = _mm_cvtsd_f64(_mm_min_sd(hi2, _mm_set_sd(double(a.count))));
  if (!TakeReach(lo, hi, a.count, &plan)) return plan;
  const double inLo = _mm_cvtsd_f64(_mm_max_sd(_mm_max_sd(i0, _mm_unpackhi_pd(i0, i0)), _mm_set_sd(plan.begin)));
  const double inHi = _mm_cvtsd_f64(_mm_min_sd(_mm_min_sd(i1, _mm_unpackhi_pd(i1, i1)), _mm_set_sd(plan.end - 1)));
  TakeInside(inLo, inHi, !levelMissed, &plan);
  return plan;
}

#endif
