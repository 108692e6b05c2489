// SPDX-License-Identifier: MIT
// Block kernels for scaled, unrotated tips, done separably. Every row of a block reads
// the same columns, so a bilinear sample's horizontal blend (the `top` and `bottom` of
// raster/span_kernels.h) depends only on the level row and the column. Each level row
// the block touches is blended across once, for all columns, into a row of H values
// kept while the next output rows need it; an output row then only blends two H rows
// down (and, blending two levels, the two results). The arithmetic is the sampling
// rule's, in the same order, so the results are the reference kernels' bit for bit.
//
// Column tables (index and fraction of every column at each level) are made once per
// block. Wide blocks go in strips of kStripColumns columns, each a block of its own:
// column i of a strip starting at s samples u + (s + i)·du, as in the whole block.
// With the tip's ink (raster/tip_ink.h), a level row's H values are made only over
// the columns its non-zero samples reach; all other H values and output samples are 0.
//
// The blending passes are a policy (`Passes`): ScalarPasses here, vector forms in
// scaled_blocks_avx2.cpp.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "raster/span_kernels.h"
#include "raster/tip_ink.h"

namespace kp_blocks {

constexpr int32_t kStripColumns = 512;
/// H rows and column tables are padded to this many columns past a strip.
constexpr int32_t kPadColumns = 32;
constexpr int32_t kNoSample = INT32_MIN;  ///< a column outside the level: sample 0

/// Index and fraction of every column of a strip at one level.
struct Columns {
  int32_t x[kStripColumns + kPadColumns];  ///< kNoSample outside −1 .. w(k) − 1
  uint8_t f[kStripColumns + kPadColumns];
  int32_t n = 0;
  /// The columns inside the level, [in0, in1); in order along x unless the
  /// coordinates wrap along the strip.
  int32_t in0 = 0, in1 = 0;
  bool ordered = false;
  Fx16 step = 0;

  /// The columns of level k sampled from u by du; `pad`: columns past the strip that
  /// read as outside the level. `Fill` is Columns::Fill or a vector form of it.
  template <class Fill>
  void Build(const Kp_MIPPyramid& p, int32_t k, Fx16 u, Fx16 du, int32_t count, int32_t pad,
             Fill fill) noexcept {
    n = count;
    step = du;
    start = u;
    shift = 16 + k;
    fill(this, k, p.Width(k));
    for (int32_t i = count; i < count + pad; ++i) {
      x[i] = kNoSample;
      f[i] = 0;
    }
    in0 = 0;
    while (in0 < count && x[in0] == kNoSample) ++in0;
    in1 = count;
    while (in1 > in0 && x[in1 - 1] == kNoSample) --in1;
    const int64_t last = int64_t(u) + int64_t(du) * (count - 1);
    ordered = last >= INT32_MIN && last <= INT32_MAX;
    inverse = du != 0 ? 1.0 / std::fabs(double(du)) : 0.0;
    BuildPasses();
  }

  /// x and f of columns 0 .. n − 1 of level k, w samples wide: the sample index and
  /// fraction of u + i·du, kNoSample outside −1 .. w − 1.
  static void Fill(Columns* c, int32_t k, int32_t w) noexcept {
    const uint32_t origin = uint32_t(c->start), stride = uint32_t(c->step);
    for (int32_t i = 0; i < c->n; ++i) {
      const uint32_t at = origin + uint32_t(i) * stride;
      const int32_t xi = int32_t(at) >> (16 + k);
      c->x[i] = xi >= -1 && xi < w ? xi : kNoSample;
      c->f[i] = uint8_t((at >> (8 + k)) & 255u);
    }
  }

  Fx16 Start() const noexcept { return start; }

  /// The least and greatest x of `size` columns from `first` that lie inside the level
  /// (*lo > *hi when none does); answers whether all of them do.
  bool GroupBounds(int32_t first, int32_t size, int32_t* lo, int32_t* hi) const noexcept {
    if (ordered && first >= in0 && first + size <= in1) {  // x runs in order here
      *lo = x[step >= 0 ? first : first + size - 1];
      *hi = x[step >= 0 ? first + size - 1 : first];
      return true;
    }
    *lo = INT32_MAX;
    *hi = INT32_MIN;
    bool all = true;
    for (int32_t j = first; j < first + size; ++j) {
      if (x[j] == kNoSample) {
        all = false;
        continue;
      }
      *lo = std::min(*lo, x[j]);
      *hi = std::max(*hi, x[j]);
    }
    return all;
  }

  /// Columns [*c0, *c1) outside which the samples first..last of a row (and its
  /// borders) give 0: those with first − 1 <= x <= last. When the coordinates wrap
  /// along the strip, all.
  void Reach(int32_t first, int32_t last, int32_t* c0, int32_t* c1) const noexcept {
    if (!ordered) {
      *c0 = 0;
      *c1 = n;
      return;
    }
    // x reaches a sample index t where u + i·du passes t·2^shift; with no wrap along
    // the strip that is one exact division.
    if (step >= 0) {
      *c0 = Passing(first - 1);  // the first column with x >= first − 1
      *c1 = Passing(last + 1);   // ... with x > last
    } else {
      *c0 = Passing(last);       // the first column with x <= last
      *c1 = Passing(first - 2);  // ... with x < first − 1
    }
    if (*c1 < *c0) *c1 = *c0;
  }

  /// Passing as a table for rows in bulk: entry clamp(t, lo − 1, hi + 1) − lo + 1 of
  /// `at` is Passing(t) for every t. Null when there is none (the coordinates wrap, no
  /// column lies inside the level, or the level is sampled far apart); Reach then
  /// answers. Two bytes past the last entry may be read.
  struct Table {
    const int16_t* at;
    int32_t lo, hi;
  };
  Table PassTable() const noexcept { return {passHi >= passLo ? passes : nullptr, passLo, passHi}; }

private:
  Fx16 start = 0;
  int32_t shift = 16;
  double inverse = 0;  ///< 1 / |step|

  /// With ordered columns inside the level, passes[t − passLo + 1] is Passing(t) for t
  /// over passLo − 1 .. passHi + 1, the x those columns take and one past each end
  /// (passHi < passLo: no table; a level sampled far apart falls back to the search
  /// below). One more entry is spare, for the two-byte reads of vector gathers.
  int16_t passes[2 * kStripColumns + 8];
  int32_t passLo = 0, passHi = -1;

  void BuildPasses() noexcept {
    passLo = 0;
    passHi = -1;
    if (!ordered || in1 <= in0) return;
    const bool rising = step >= 0;
    const int32_t lo = rising ? x[in0] : x[in1 - 1], hi = rising ? x[in1 - 1] : x[in0];
    if (int64_t(hi) - lo + 4 > int64_t(sizeof(passes) / sizeof(passes[0]))) return;
    int16_t* at = passes + 1 - lo;  // at[t] is the entry of t
    const int64_t stride = step >= 0 ? int64_t(step) : -int64_t(step);
    if (stride <= int64_t(2) << shift) {
      // Neighbouring columns' x differ by 2 at most, so each t is some column's x or
      // one short of it (one past it, falling). Columns last to first, each writing
      // both: the first column to reach t writes last.
      const int32_t beside = rising ? -1 : 1;
      for (int32_t i = in1 - 1; i >= in0; --i) {
        at[x[i] + beside] = int16_t(i);
        at[x[i]] = int16_t(i);
      }
    } else {
      int32_t i = in0;
      if (rising) {
        for (int32_t t = lo; t <= hi; ++t) {
          while (x[i] < t) ++i;
          at[t] = int16_t(i);
        }
      } else {
        for (int32_t t = hi; t >= lo; --t) {
          while (x[i] > t) ++i;
          at[t] = int16_t(i);
        }
      }
    }
    // Past either end: rising, in0 below and in1 above; falling, the other way.
    at[lo - 1] = int16_t(rising ? in0 : in1);
    at[hi + 1] = int16_t(rising ? in1 : in0);
    at[hi + 2] = 0;
    passLo = lo;
    passHi = hi;
  }

  /// The first column whose x is at or past t in the strip's direction (x >= t for a
  /// rising step, x <= t for a falling one), clamped to the columns inside the level.
  int32_t Passing(int32_t t) const noexcept {
    if (passHi >= passLo) {
      // The columns past in1 are further along, those before in0 not as far.
      if (step >= 0 ? t <= passLo : t >= passHi) return in0;
      if (step >= 0 ? t > passHi : t < passLo) return in1;
      return passes[t - passLo + 1];
    }
    const int64_t edge = int64_t(t) * (int64_t(1) << shift) - start;  // where x reaches t
    int64_t i = 0;
    if (step > 0) {
      i = edge <= 0 ? 0 : FirstReaching(edge, step);  // the first i with i·step >= edge
    } else if (step < 0) {
      // x <= t while u + i·step < (t + 1)·2^shift: the first i with i·(−step) > −beyond.
      const int64_t beyond = edge + (int64_t(1) << shift);
      i = beyond > 0 ? 0 : FirstReaching(1 - beyond, -int64_t(step));
    } else {
      i = edge <= 0 ? 0 : n;  // one x for every column
    }
    return int32_t(std::clamp<int64_t>(i, in0, std::max(in0, in1)));
  }

  /// The first i >= 0 with i·step >= edge (edge, step > 0), by the reciprocal of the
  /// step and an exact correction: one row's reach costs no division.
  int64_t FirstReaching(int64_t edge, int64_t stride) const noexcept {
    const double guess = double(edge) * inverse;  // both exact below 2^53; off by 1 at most
    if (!(guess < double(n) + 2)) return n;       // past the strip: clamped anyway
    int64_t i = int64_t(guess);
    while (i > 0 && (i - 1) * stride >= edge) --i;
    while (i * stride < edge) ++i;
    return i;
  }
};

/// One level's H rows: the last two computed, each with the columns that may be
/// non-zero (every H value outside them is 0). A row without ink points at the
/// level's row of zeros instead of being written.
struct HRow {
  int32_t row = INT32_MIN;
  int32_t c0 = 0, c1 = 0;
  const uint16_t* h = nullptr;
  alignas(32) uint16_t buffer[kStripColumns + kPadColumns];
};

template <class T>
uint16_t HorizontalOne(const T* row, const Columns& cols, int32_t i) noexcept {
  const int32_t x = cols.x[i];
  if (x == kNoSample) return 0;
  const uint32_t f = cols.f[i];
  return uint16_t(Kp_Div255(uint32_t(row[x]) * (255 - f) + uint32_t(row[x + 1]) * f));
}

inline uint32_t VerticalOne(const uint16_t* h0, const uint16_t* h1, int32_t i, uint32_t fy) noexcept {
  return Kp_Div255(uint32_t(h0[i]) * (255 - fy) + uint32_t(h1[i]) * fy);
}

/// The H rows and fractions an output row blends.
struct OutRow {
  const uint16_t* a0;  ///< level L, rows y and y + 1
  const uint16_t* a1;
  uint32_t fa;
  const uint16_t* b0;  ///< level L + 1 (trilinear only)
  const uint16_t* b1;
  uint32_t fb;
  uint32_t weight;     ///< of level L + 1
};

template <class T, bool kTrilinear>
T OutputOne(const OutRow& r, int32_t i) noexcept {
  const uint32_t a = VerticalOne(r.a0, r.a1, i, r.fa);
  if (!kTrilinear) return T(a);
  const uint32_t b = VerticalOne(r.b0, r.b1, i, r.fb);
  return T(Kp_Div255((255 - r.weight) * a + r.weight * b));
}

/// The H rows of a small strip to make in one call (AllRows): level rows first ..
/// first + count − 1, row i over [c0[i], c1[i]) into store + i·padded, h[i] pointing
/// there; a row without columns (c1[i] = 0) points at `zeros` instead.
template <class T>
struct HRows {
  const unsigned char* level;  ///< row 0
  std::ptrdiff_t rowBytes;
  int32_t first, count, padded;
  const int32_t* c0;
  const int32_t* c1;
  uint16_t* store;
  const uint16_t* zeros;
  const uint16_t** h;

  const T* Row(int32_t i) const noexcept {
    return reinterpret_cast<const T*>(level + std::ptrdiff_t(first + i) * rowBytes);
  }
  /// Points h[i] at row i's place and answers it; null, pointing h[i] at `zeros`, for
  /// a row without columns.
  uint16_t* Place(int32_t i) const noexcept {
    if (c1[i] == 0) {
      h[i] = zeros;
      return nullptr;
    }
    uint16_t* at = store + std::ptrdiff_t(i) * padded;
    h[i] = at;
    return at;
  }
};

/// The portable passes: one sample at a time from the tables.
struct ScalarPasses {
  static constexpr int32_t kStep = 1;  ///< columns per vector
  template <class T>
  struct Plan {
    void Build(const Columns&, const Kp_MIPPyramid&, int32_t) noexcept {}
  };
  /// H values over [c0, c1) and zeros over the rest of [0, padded).
  template <class T>
  static void Horizontal(const Plan<T>&, const Columns& cols, const T* row, int32_t c0,
                         int32_t c1, int32_t padded, uint16_t* h) noexcept {
    for (int32_t i = 0; i < c0; ++i) h[i] = 0;
    for (int32_t i = c0; i < c1; ++i) h[i] = HorizontalOne(row, cols, i);
    for (int32_t i = c1; i < padded; ++i) h[i] = 0;
  }
  /// Output samples over [o0, o1) and zeros over the rest of the strip's n.
  template <class T, bool kTrilinear>
  static void Output(const OutRow& r, int32_t o0, int32_t o1, int32_t n, T* dst) noexcept {
    for (int32_t i = 0; i < o0; ++i) dst[i] = 0;
    for (int32_t i = o0; i < o1; ++i) dst[i] = OutputOne<T, kTrilinear>(r, i);
    for (int32_t i = o1; i < n; ++i) dst[i] = 0;
  }
  static void FillColumns(Columns* c, int32_t k, int32_t w) noexcept { Columns::Fill(c, k, w); }
  /// Level::ReachRows: the vector forms do the rows inside the level in bulk.
  template <class Level>
  static void RowReaches(const Level& level, int32_t first, int32_t count, int32_t* c0,
                         int32_t* c1) noexcept {
    level.ReachRows(first, count, c0, c1);
  }
  template <class T>
  static void HorizontalRows(const Plan<T>& plan, const Columns& cols, const HRows<T>& rows) noexcept {
    for (int32_t i = 0; i < rows.count; ++i)
      if (uint16_t* h = rows.Place(i))
        Horizontal(plan, cols, rows.Row(i), rows.c0[i], rows.c1[i], rows.padded, h);
  }
  /// Every output row of a small strip (OutRows).
  template <class T, bool kTrilinear, class Rows>
  static void OutputRows(const Rows& rows) noexcept {
    for (int32_t j = 0; j < rows.count; ++j) {
      OutRow r{};
      int32_t o0, o1;
      rows.template At<kTrilinear>(j, &r, &o0, &o1);
      Output<T, kTrilinear>(r, o0, o1, rows.n, rows.Dst(j));
    }
  }
};

template <class T, class Passes>
struct Level {
  int32_t k = 0;
  int32_t height = 0;
  const Kp_MIPPyramid* pyramid = nullptr;
  const Kp_LevelInk* ink = nullptr;
  int32_t padded = 0;  ///< the strip's columns rounded up to whole vectors
  Columns cols;
  typename Passes::template Plan<T> plan;
  HRow slots[2];
  alignas(32) uint16_t zeros[kStripColumns + kPadColumns];

  void Set(const Kp_MIPPyramid& p, int32_t level, const Kp_PyramidInk* pyramidInk, Fx16 u,
           Fx16 du, int32_t n) noexcept {
    k = level;
    height = p.Height(level);
    pyramid = &p;
    ink = pyramidInk ? &pyramidInk->levels[level] : nullptr;
    padded = RoundUp(n);
    cols.Build(p, level, u, du, n, padded - n, Passes::FillColumns);
    plan.Build(cols, p, level);
    std::memset(zeros, 0, std::size_t(padded) * sizeof(uint16_t));
    for (HRow& s : slots) s.row = INT32_MIN;
  }

  static_assert((Passes::kStep & (Passes::kStep - 1)) == 0, "a vector is a power of two columns");
  /// c (at least 0) rounded up to whole vectors.
  static int32_t RoundUp(int32_t c) { return (c + Passes::kStep - 1) & -Passes::kStep; }

  /// The columns of level row r that may hold non-zero H values, rounded out to whole
  /// vectors; false when none may (a border row, or a row without ink).
  bool RowReach(int32_t r, int32_t* c0, int32_t* c1) const noexcept {
    *c0 = *c1 = 0;
    if (r >= 0 && r < height) {
      if (!ink) {
        *c1 = cols.n;
      } else if (ink->rows[r].first <= ink->rows[r].last) {
        cols.Reach(ink->rows[r].first, ink->rows[r].last, c0, c1);
      }
    }
    if (*c1 <= *c0) return false;
    *c0 &= -Passes::kStep;  // columns are never negative
    *c1 = RoundUp(*c1);
    return true;
  }

  /// RowReach of rows first .. first + count − 1 into c0[i], c1[i]; a row without
  /// columns as (INT32_MAX, 0), so that min and max over rows need no test.
  void ReachRows(int32_t first, int32_t count, int32_t* c0, int32_t* c1) const noexcept {
    for (int32_t i = 0; i < count; ++i)
      if (!RowReach(first + i, &c0[i], &c1[i])) {
        c0[i] = INT32_MAX;
        c1[i] = 0;
      }
  }

  const T* LevelRow(int32_t r) const noexcept {
    return reinterpret_cast<const T*>(pyramid->levels[k] + std::ptrdiff_t(r) * pyramid->rowBytes[k]);
  }

  /// H row r, made in the slot that does not hold row `keep` if it is not held yet.
  const HRow& Get(int32_t r, int32_t keep) noexcept {
    if (slots[0].row == r) return slots[0];
    if (slots[1].row == r) return slots[1];
    HRow& s = slots[0].row == keep ? slots[1] : slots[0];
    s.row = r;
    if (!RowReach(r, &s.c0, &s.c1)) {
      s.c0 = s.c1 = 0;
      s.h = zeros;
      return s;
    }
    Passes::Horizontal(plan, cols, LevelRow(r), s.c0, s.c1, padded, s.buffer);
    s.h = s.buffer;
    return s;
  }
};

/// Every H row a strip of a small block needs, made up front in one call of the
/// passes (small dabs would otherwise spend more on calls and bookkeeping per row than
/// on blending): level rows first .. first + count − 1.
template <class T>
struct AllRows {
  static constexpr int32_t kEntries = 6144;  ///< H values held
  static constexpr int32_t kRows = 128;
  int32_t first = 0, count = 0;
  const uint16_t* h[kRows];
  int32_t c0[kRows], c1[kRows];  ///< a row without ink: INT32_MAX, 0 (no columns)
  int32_t pair0[kRows], pair1[kRows];  ///< the same over rows i and i + 1 together
  alignas(32) uint16_t store[kEntries];

  /// Makes rows lo .. hi of `level`; false, having made nothing, when they do not fit.
  template <class Passes>
  bool Make(Level<T, Passes>& level, int32_t lo, int32_t hi) noexcept {
    first = lo;
    count = hi - lo + 1;
    if (count > kRows || int64_t(count) * level.padded > kEntries) return false;
    Passes::RowReaches(level, lo, count, c0, c1);
    for (int32_t i = 0; i + 1 < count; ++i) {
      pair0[i] = std::min(c0[i], c0[i + 1]);
      pair1[i] = std::max(c1[i], c1[i + 1]);
    }
    const HRows<T> rows{level.pyramid->levels[level.k], level.pyramid->rowBytes[level.k], lo, count,
                        level.padded, c0, c1, store, level.zeros, h};
    Passes::HorizontalRows(level.plan, level.cols, rows);
    return true;
  }
};

/// The output rows of a small strip, from its H rows (AllRows): row j samples level
/// row position v + j·dv and goes to out + j·rowBytes.
template <class T>
struct OutRows {
  const AllRows<T>* fine;
  const AllRows<T>* coarse;  ///< level L + 1 (trilinear only)
  uint32_t v, dv;
  int32_t count, level, height, n;
  uint32_t weight;
  unsigned char* out;
  std::ptrdiff_t rowBytes;

  T* Dst(int32_t j) const noexcept { return reinterpret_cast<T*>(out + std::ptrdiff_t(j) * rowBytes); }

  /// Row j's blend and the columns [*o0, *o1) that may be non-zero; none (both 0) for
  /// a row whose level-L row lies outside the level, *r then left as it is.
  template <bool kTrilinear>
  void At(int32_t j, OutRow* r, int32_t* o0, int32_t* o1) const noexcept {
    const uint32_t at = v + uint32_t(j) * dv;
    *o0 = *o1 = 0;
    const int32_t y = int32_t(at) >> (16 + level);
    if (y < -1 || y >= height) return;  // zeros
    const int32_t i = y - fine->first;
    r->a0 = fine->h[i];
    r->a1 = fine->h[i + 1];
    r->fa = (at >> (8 + level)) & 255u;
    int32_t lo = fine->pair0[i], hi = fine->pair1[i];
    if (kTrilinear) {
      const int32_t c = (int32_t(at) >> (17 + level)) - coarse->first;
      r->b0 = coarse->h[c];
      r->b1 = coarse->h[c + 1];
      r->fb = (at >> (9 + level)) & 255u;
      r->weight = weight;
      lo = std::min(lo, coarse->pair0[c]);
      hi = std::max(hi, coarse->pair1[c]);
    }
    hi = std::min(hi, n);
    if (hi > lo) {
      *o0 = lo;
      *o1 = hi;
    }
  }
};

/// The least and greatest level-k row index of the rows of a block (no wrap along v).
inline void RowSpan(const Kp_SpanArgs& a, int32_t k, int32_t* lo, int32_t* hi) {
  const int32_t y0 = a.v >> (16 + k);
  const int32_t y1 = Fx16(uint32_t(a.v) + uint32_t(a.rows - 1) * uint32_t(a.dv)) >> (16 + k);
  *lo = std::min(y0, y1);
  *hi = std::max(y0, y1);
}

/// A strip whose H rows all fit AllRows: each made once up front, then every output
/// row in one call. False, having drawn nothing, when they do not fit.
template <class T, class Passes, bool kTrilinear>
bool SmallStrip(const Kp_SpanArgs& a, uint32_t weight, int32_t n, Level<T, Passes>* fine,
                Level<T, Passes>* coarse, unsigned char* out) noexcept {
  const int32_t level = a.level;
  int32_t lo = 0, hi = 0;
  RowSpan(a, level, &lo, &hi);
  // Rows outside −1 .. h(L) − 1 are cleared without H rows; the others read y, y + 1.
  lo = std::max(lo, -1);
  hi = std::min(hi, fine->height - 1) + 1;
  AllRows<T> fineRows, coarseRows;
  if (hi >= lo && !fineRows.Make(*fine, lo, hi)) return false;
  if (kTrilinear && hi >= lo && !coarseRows.Make(*coarse, lo >> 1, (hi >> 1) + 1)) return false;
  const OutRows<T> rows{&fineRows, &coarseRows, uint32_t(a.v), uint32_t(a.dv), a.rows, level,
                        fine->height, n, weight, out, a.rowBytes};
  Passes::template OutputRows<T, kTrilinear>(rows);
  return true;
}

/// The block kernel: strips, then rows; a row whose level-L row lies outside the level
/// is cleared, as the sampling rule for rows of constant v says.
template <class T, class Passes, bool kTrilinear>
void SeparableBlock(const Kp_SpanArgs& a, T* dst) noexcept {
  const Kp_MIPPyramid& p = *a.pyramid;
  const int32_t level = a.level;
  const uint32_t weight = kTrilinear ? uint32_t(Kp_TrilinearWeight(level, a.scale)) : 0;
  Level<T, Passes> fine;
  Level<T, Passes> coarse;
  const int64_t lastV = int64_t(a.v) + int64_t(a.dv) * (a.rows - 1);
  const bool vInOrder = a.rows > 0 && lastV >= INT32_MIN && lastV <= INT32_MAX;
  for (int32_t s = 0; s < a.count; s += kStripColumns) {
    const int32_t n = std::min(kStripColumns, a.count - s);
    const Fx16 us = Fx16(uint32_t(a.u) + uint32_t(s) * uint32_t(a.du));
    fine.Set(p, level, a.ink, us, a.du, n);
    if (kTrilinear) coarse.Set(p, level + 1, a.ink, us, a.du, n);
    auto* out = reinterpret_cast<unsigned char*>(dst) + std::ptrdiff_t(s) * std::ptrdiff_t(sizeof(T));
    if (vInOrder && SmallStrip<T, Passes, kTrilinear>(a, weight, n, &fine, &coarse, out)) continue;
    uint32_t v = uint32_t(a.v);
    for (int32_t j = 0; j < a.rows; ++j, v += uint32_t(a.dv), out += a.rowBytes) {
      T* row = reinterpret_cast<T*>(out);
      const int32_t y = int32_t(v) >> (16 + level);
      OutRow r{};
      if (y < -1 || y >= fine.height) {
        Passes::template Output<T, kTrilinear>(r, 0, 0, n, row);  // zeros
        continue;
      }
      const HRow& a0 = fine.Get(y, y + 1);
      const HRow& a1 = fine.Get(y + 1, y);
      r.a0 = a0.h;
      r.a1 = a1.h;
      r.fa = (v >> (8 + level)) & 255u;
      int32_t o0 = std::min(a0.c0 == a0.c1 ? INT32_MAX : a0.c0, a1.c0 == a1.c1 ? INT32_MAX : a1.c0);
      int32_t o1 = std::max(a0.c1, a1.c1);
      if (kTrilinear) {
        // Level L's row is inside, so level L + 1's (half the index) is too.
        const int32_t yc = int32_t(v) >> (17 + level);
        const HRow& b0 = coarse.Get(yc, yc + 1);
        const HRow& b1 = coarse.Get(yc + 1, yc);
        r.b0 = b0.h;
        r.b1 = b1.h;
        r.fb = (v >> (9 + level)) & 255u;
        r.weight = weight;
        o0 = std::min({o0, b0.c0 == b0.c1 ? INT32_MAX : b0.c0, b1.c0 == b1.c1 ? INT32_MAX : b1.c0});
        o1 = std::max({o1, b0.c1, b1.c1});
      }
      o1 = std::min(o1, n);
      if (o1 <= o0) o0 = o1 = 0;
      Passes::template Output<T, kTrilinear>(r, o0, o1, n, row);
    }
  }
}

}  // namespace kp_blocks

/// SeparableBlock with the AVX2 passes (scaled_blocks_avx2.cpp); call only where
/// Kp_HasAvx2().
template <class P>
void ScaledBilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
template <class P>
void ScaledTrilinearBlockAvx2(const Kp_SpanArgs& a, typename P::Value* dst) noexcept;
