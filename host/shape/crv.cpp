// SPDX-License-Identifier: MIT
// Cubic Bezier arc length. The table holds cumulative lengths at equal parameter
// steps; a query finds its interval there and integrates (or, for the inverse,
// solves with safeguarded Newton) only inside that interval.
#include "host/crv/crv.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

#include "host/gx/gx.h"

namespace {

// 4-point Gauss-Legendre on [-1, 1], exact for polynomials up to degree 7. Table
// intervals are under a pixel long and the speed of a cubic is smooth there, so an
// interval, or any part of one, is integrated to rounding; a stroke builds hundreds of
// tables and asks for hundreds of points per call, so the rule is kept short.
constexpr double kNodes[2] = {0.3399810435848563, 0.8611363115940526};
constexpr double kWeights[2] = {0.6521451548625461, 0.3478548451374538};

bool ValidCurve(const CRV_Curve* c) {
  if (!c || c->kind != kCRV_CubicPlanar) return false;
  for (const double* p : c->points)
    if (!p) return false;
  return true;
}

// The derivative of a cubic is a quadratic in t: B'(t) = c + t·(b + t·a) per axis,
// taken from the control points once per query rather than once per speed sample.
struct Hodograph {
  double ax, bx, cx, ay, by, cy;
};

Hodograph HodographOf(const CRV_Curve& c) {
  Hodograph h;
  double d[3][2];
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 2; ++k) d[i][k] = c.points[i + 1][k] - c.points[i][k];
  h.cx = 3 * d[0][0];
  h.bx = 6 * (d[1][0] - d[0][0]);
  h.ax = 3 * (d[0][0] - 2 * d[1][0] + d[2][0]);
  h.cy = 3 * d[0][1];
  h.by = 6 * (d[1][1] - d[0][1]);
  h.ay = 3 * (d[0][1] - 2 * d[1][1] + d[2][1]);
  return h;
}

double Speed(const Hodograph& h, double t) {
  const double dx = h.cx + t * (h.bx + t * h.ax);
  const double dy = h.cy + t * (h.by + t * h.ay);
  // Not std::hypot: every query and table interval costs four of these, and hypot's
  // overflow guard makes it several times slower; control points are pixel
  // coordinates, far from 1e150.
  return std::sqrt(dx * dx + dy * dy);
}

#if defined(__SSE2__)
// Speeds at two parameters at once: the same operations as Speed, lane by lane, with
// SQRTPD (correctly rounded, as sqrt is) and no errno test on the way.
__m128d Speeds(const Hodograph& h, __m128d t) {
  const __m128d dx = _mm_add_pd(_mm_set1_pd(h.cx),
                                _mm_mul_pd(t, _mm_add_pd(_mm_set1_pd(h.bx),
                                                         _mm_mul_pd(t, _mm_set1_pd(h.ax)))));
  const __m128d dy = _mm_add_pd(_mm_set1_pd(h.cy),
                                _mm_mul_pd(t, _mm_add_pd(_mm_set1_pd(h.by),
                                                         _mm_mul_pd(t, _mm_set1_pd(h.ay)))));
  return _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)));
}

// Sum of the two lanes, low + high, as the scalar form adds them.
double LaneSum(__m128d v) { return _mm_cvtsd_f64(_mm_add_sd(v, _mm_unpackhi_pd(v, v))); }
#endif

inline __attribute__((always_inline)) double Integrate(const Hodograph& h, double t0, double t1) {
  const double half = 0.5 * (t1 - t0), mid = 0.5 * (t0 + t1);
#if defined(__SSE2__)
  // Lanes (mid - half·node, mid + half·node); a - b is a + (-b) exactly.
  const __m128d m = _mm_set1_pd(mid);
  const __m128d sign = _mm_set_pd(1.0, -1.0);
  const double inner = LaneSum(Speeds(h, _mm_add_pd(m, _mm_mul_pd(sign, _mm_set1_pd(half * kNodes[0])))));
  const double outer = LaneSum(Speeds(h, _mm_add_pd(m, _mm_mul_pd(sign, _mm_set1_pd(half * kNodes[1])))));
  return (kWeights[0] * inner + kWeights[1] * outer) * half;
#else
  double sum = 0;
  for (int i = 0; i < 2; ++i)
    sum += kWeights[i] * (Speed(h, mid - half * kNodes[i]) + Speed(h, mid + half * kNodes[i]));
  return sum * half;
#endif
}

// The rule's four speeds in one vector where the processor has AVX: lanes (mid −
// half·node, mid + half·node) for the inner node, then for the outer, each computed as
// the SSE2 form computes it (no FMA), and summed in the same pairs and order, so the
// answers are the same bit for bit. Half the square-root instructions, which a table
// and each Newton step are mostly waiting on.
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KSTROKE_CRV_AVX 1
__attribute__((target("avx"))) inline double IntegrateAvx(const Hodograph& h, double t0, double t1) {
  const double half = 0.5 * (t1 - t0), mid = 0.5 * (t0 + t1);
  const double inner = half * kNodes[0], outer = half * kNodes[1];
  const __m256d t = _mm256_add_pd(_mm256_set1_pd(mid), _mm256_mul_pd(_mm256_setr_pd(-1.0, 1.0, -1.0, 1.0),
                                                                     _mm256_setr_pd(inner, inner, outer, outer)));
  const __m256d dx = _mm256_add_pd(_mm256_set1_pd(h.cx),
                                   _mm256_mul_pd(t, _mm256_add_pd(_mm256_set1_pd(h.bx),
                                                                  _mm256_mul_pd(t, _mm256_set1_pd(h.ax)))));
  const __m256d dy = _mm256_add_pd(_mm256_set1_pd(h.cy),
                                   _mm256_mul_pd(t, _mm256_add_pd(_mm256_set1_pd(h.by),
                                                                  _mm256_mul_pd(t, _mm256_set1_pd(h.ay)))));
  const __m256d speeds = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)));
  return (kWeights[0] * LaneSum(_mm256_castpd256_pd128(speeds)) +
          kWeights[1] * LaneSum(_mm256_extractf128_pd(speeds, 1))) *
         half;
}
#endif

// The two forms of the rule, for the templates below.
struct PortableRule {
  static double Integrate(const Hodograph& h, double t0, double t1) { return ::Integrate(h, t0, t1); }
};
#if defined(KSTROKE_CRV_AVX)
struct AvxRule {
  __attribute__((target("avx"))) static double Integrate(const Hodograph& h, double t0, double t1) {
    return IntegrateAvx(h, t0, t1);
  }
};
#endif

// Decided once per process, with the pixel kernels (KSTROKE_PORTABLE turns it off).
bool UseAvx() {
#if defined(KSTROKE_CRV_AVX)
  static const bool use = GX_HasAvx2();
  return use;
#else
  return false;
#endif
}

// Table intervals are at most this long, measured along the control polygon (which
// bounds the arc length from above) with |dx| + |dy| per side, which bounds it again
// and needs no square root: every query asks for the count. A recorded stroke is
// hundreds of segments a few pixels long each; giving each of them `resolution`
// intervals would cost more than painting the stroke.
constexpr double kIntervalLength = 1.0;

// Intervals of a curve's table at this resolution: enough that none is longer than
// kIntervalLength pixels, at least one, at most `resolution`.
int32_t IntervalCount(const CRV_Curve& c, int32_t resolution) {
  double polygon = 0;
  for (int i = 0; i < 3; ++i)
    polygon += std::fabs(c.points[i + 1][0] - c.points[i][0]) +
               std::fabs(c.points[i + 1][1] - c.points[i][1]);
  const double wanted = std::ceil(polygon / kIntervalLength);
  if (!(wanted >= 1.0)) return 1;  // NaN too: a broken curve still gets a table
  return wanted < double(resolution) ? int32_t(wanted) : resolution;
}

// Appends the n + 1 samples of a table to the empty list `fresh`, a chunk at a time:
// one call per chunk, not per sample. n ≥ 1, so the last sample always flushes the
// chunk.
template <class Rule>
int32_t FillTable(const Hodograph& h, int32_t n, SEQ_Head** fresh) {
  constexpr int32_t kChunk = 64;
  CRV_ArcSample chunk[kChunk];
  chunk[0] = {0.0, 0.0};
  CRV_ArcSample last = chunk[0];
  int32_t filled = 1;
  int32_t rc = 0;
  for (int32_t j = 1; rc == 0 && j <= n; ++j) {
    const double t0 = last.t;
    last.t = double(j) / n;
    last.s += Rule::Integrate(h, t0, last.t);
    chunk[filled++] = last;
    if (filled == kChunk || j == n) {
      rc = SEQ_AppendItems(fresh, filled, chunk);
      filled = 0;
    }
  }
  return rc;
}

#if defined(KSTROKE_CRV_AVX)
__attribute__((target("avx"), flatten)) int32_t FillTableAvx(const Hodograph& h, int32_t n, SEQ_Head** fresh) {
  return FillTable<AvxRule>(h, n, fresh);
}
#endif

int32_t Fill(const Hodograph& h, int32_t n, SEQ_Head** fresh) {
#if defined(KSTROKE_CRV_AVX)
  if (UseAvx()) return FillTableAvx(h, n, fresh);
#endif
  return FillTable<PortableRule>(h, n, fresh);
}

// Makes sure `*table` is this resolution's table, building it when missing.
int32_t EnsureTable(const CRV_Curve& c, int32_t resolution, SEQ_Head*** table) {
  const int32_t n = IntervalCount(c, resolution);
  SEQ_Head** old = *table;
  if (old && SEQ_ItemSize(old) == int32_t(sizeof(CRV_ArcSample)) && SEQ_Count(old) == n + 1)
    return 0;
  // The old table goes only once the new one exists, so a failure leaves the slot valid.
  SEQ_Head** fresh = nullptr;
  int32_t rc = SEQ_New(int32_t(sizeof(CRV_ArcSample)), n + 1, &fresh);
  if (rc != 0) return rc;
  rc = Fill(HodographOf(c), n, fresh);
  if (rc != 0) {
    SEQ_Dispose(fresh, 0);
    return rc;
  }
  SEQ_Dispose(old, 0);
  *table = fresh;
  return 0;
}

int32_t Prepare(const CRV_Curve* curve, int32_t resolution, SEQ_Head*** table) {
  if (!ValidCurve(curve) || !table) return CRV_Err_BadCurve;
  if (resolution < 1) return CRV_Err_BadResolution;
  return EnsureTable(*curve, resolution, table);
}

const CRV_ArcSample* Samples(SEQ_Head** table) {
  return static_cast<const CRV_ArcSample*>(SEQ_Items(table));
}

}  // namespace

V_Vector2T<double> CRV_EvaluatePoint(const CRV_Curve& c, double t) {
  const double u = 1.0 - t;
  const double a = u * u * u, b = 3 * u * u * t, d = 3 * u * t * t, e = t * t * t;
  return {a * c.points[0][0] + b * c.points[1][0] + d * c.points[2][0] + e * c.points[3][0],
          a * c.points[0][1] + b * c.points[1][1] + d * c.points[2][1] + e * c.points[3][1]};
}

int32_t CRV_SFromT(const CRV_Curve* curve, double t, int32_t resolution, SEQ_Head*** table,
                   double* length) {
  const int32_t rc = Prepare(curve, resolution, table);
  if (rc != 0) return rc;
  t = std::min(1.0, std::max(0.0, t));
  const int32_t n = SEQ_Count(*table) - 1;
  const int32_t j = std::min(n - 1, int32_t(t * n));
  const CRV_ArcSample* samples = Samples(*table);
  *length = t >= 1.0 ? samples[n].s : samples[j].s + Integrate(HodographOf(*curve), samples[j].t, t);
  return 0;
}

namespace {

// One arc-length inversion: safeguarded Newton on the table interval that holds s,
// bracketed by [left, right]. `steps` counts down the iterations still allowed.
struct Inversion {
  Hodograph h;
  double startT, startS;  ///< the interval's first sample
  double s, left, right, x, tolerance;
  int32_t steps;
  bool done;
};

// Sets the inversion up on a prepared table; s at or past an end is done at once.
Inversion StartInversion(const CRV_Curve& curve, SEQ_Head** table, double s) {
  Inversion q{};
  const CRV_ArcSample* samples = Samples(table);
  const int32_t n = SEQ_Count(table) - 1;
  const double total = samples[n].s;
  q.done = true;
  if (!(s > 0.0)) {
    q.x = 0.0;
    return q;
  }
  if (s >= total) {
    q.x = 1.0;
    return q;
  }
  // The last sample at or before s (samples[0].s = 0 < s < samples[n].s, so it is one
  // of 0 .. n − 1, and the only one with samples[lo].s <= s < samples[lo + 1].s). Arc
  // length grows nearly in step with t, so its share of the total points at or next to
  // that sample: a walk from there takes a step or two where a bisection took a
  // mispredicted branch at each of its halvings.
  const double share = s / total * n;  // NaN for a broken curve: the walk starts at 0
  int32_t lo = share >= 1.0 ? std::min(n - 1, int32_t(std::min(share, double(n)))) : 0;
  while (lo > 0 && samples[lo].s > s) --lo;
  while (samples[lo + 1].s <= s) ++lo;
  const int32_t hi = lo + 1;
  const CRV_ArcSample a = samples[lo], b = samples[hi];
  q.h = HodographOf(curve);
  q.startT = a.t;
  q.startS = a.s;
  q.s = s;
  q.left = a.t;
  q.right = b.t;
  q.x = b.s > a.s ? a.t + (s - a.s) / (b.s - a.s) * (b.t - a.t) : a.t;
  q.tolerance = 1e-15 * std::max(1.0, total);
  q.steps = 60;
  q.done = false;
  return q;
}

// One Newton step; x is the answer once done.
template <class Rule>
inline __attribute__((always_inline)) void Step(Inversion* q) {
  const double f = q->startS + Rule::Integrate(q->h, q->startT, q->x) - q->s;
  if (std::fabs(f) <= q->tolerance) {
    q->done = true;
    return;
  }
  (f > 0 ? q->right : q->left) = q->x;
  const double v = Speed(q->h, q->x);
  double next = v > 0 ? q->x - f / v : 0.5 * (q->left + q->right);
  // Newton steps that leave the bracket fall back to bisection.
  if (!(next > q->left && next < q->right)) next = 0.5 * (q->left + q->right);
  if (next == q->x) {
    q->done = true;
    return;
  }
  q->x = next;
  q->done = --q->steps == 0;
}

// Runs up to four inversions in lockstep. Each step is one long chain of dependent
// operations (integral, square roots, division) that leaves the processor mostly
// waiting; the chains of independent inversions fill those waits, so four cost about
// twice the time of one.
template <class Rule>
void InvertWith(Inversion* q, int32_t n) {
  for (bool any = true; any;) {
    any = false;
    for (int32_t k = 0; k < n; ++k)
      if (!q[k].done) {
        Step<Rule>(&q[k]);
        any = true;
      }
  }
}

#if defined(KSTROKE_CRV_AVX)
__attribute__((target("avx"), flatten)) void InvertAvx(Inversion* q, int32_t n) { InvertWith<AvxRule>(q, n); }
#endif

void Invert(Inversion* q, int32_t n) {
#if defined(KSTROKE_CRV_AVX)
  // A lone inversion waits on its chain of dependent operations, which the AVX form's
  // lane extraction lengthens; interleaved ones wait on the divider, where it saves a
  // quarter of the work. Both give the same answers.
  if (n > 1 && UseAvx()) return InvertAvx(q, n);
#endif
  InvertWith<PortableRule>(q, n);
}

}  // namespace

int32_t CRV_TFromS(const CRV_Curve* curve, double s, int32_t resolution, SEQ_Head*** table,
                   double* t) {
  const int32_t rc = Prepare(curve, resolution, table);
  if (rc != 0) return rc;
  Inversion q = StartInversion(*curve, *table, s);
  Invert(&q, 1);
  *t = q.x;
  return 0;
}

int32_t CRV_EvaluatePointFromS(const CRV_Curve* curve, double s, int32_t resolution,
                               SEQ_Head*** table, V_Vector2T<double>* point) {
  double t = 0;
  const int32_t rc = CRV_TFromS(curve, s, resolution, table, &t);
  if (rc != 0) return rc;
  *point = CRV_EvaluatePoint(*curve, t);
  return 0;
}

int32_t CRV_TableLength(SEQ_Head** table, double* length) {
  if (!table || !length || SEQ_ItemSize(table) != int32_t(sizeof(CRV_ArcSample)) || SEQ_Count(table) < 2)
    return CRV_Err_BadCurve;
  *length = Samples(table)[SEQ_Count(table) - 1].s;
  return 0;
}

int32_t CRV_PrepareTable(const CRV_Curve* curve, int32_t resolution, SEQ_Head*** table) {
  return Prepare(curve, resolution, table);
}

int32_t CRV_EvaluatePointsFromS(const CRV_Curve* curves, const double* s, int32_t count,
                                int32_t resolution, SEQ_Head*** const* tables,
                                V_Vector2T<double>* points) {
  if (count < 0 || (count > 0 && (!curves || !s || !tables || !points))) return CRV_Err_BadCurve;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t rc = Prepare(&curves[k], resolution, tables[k]);
    if (rc != 0) return rc;
  }
  constexpr int32_t kGroup = 4;
  for (int32_t first = 0; first < count; first += kGroup) {
    const int32_t n = std::min(kGroup, count - first);
    Inversion q[kGroup];
    for (int32_t k = 0; k < n; ++k) q[k] = StartInversion(curves[first + k], *tables[first + k], s[first + k]);
    Invert(q, n);
    for (int32_t k = 0; k < n; ++k) points[first + k] = CRV_EvaluatePoint(curves[first + k], q[k].x);
  }
  return 0;
}
