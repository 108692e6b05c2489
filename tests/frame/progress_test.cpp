// SPDX-License-Identifier: MIT
#include "kstroke/progress.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "frame/errors.h"
#include "host/jot/jot.h"
#include "kstroke/frame.h"
#include "test_support.h"

namespace {

using Reports = std::vector<std::pair<int32_t, int32_t>>;

TEST(ProgressSubRange, ForwardsReportsIntoTheCurrentStep) {
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  {
    ProgressSubRange range(&info, 4);
    EXPECT_EQ(info.context, &range);
    EXPECT_EQ(info.abortCheck(info.context), 0);  // the host gave no abort check
    GX_ReportProgress(&info, 5, 10);   // step 0: 5 of 40
    range.Advance(2);                  // direct: 2 of 4
    GX_ReportProgress(&info, 3, 10);   // step 2: 23 of 40
  }
  EXPECT_EQ(rec.reports, (Reports{{5, 40}, {2, 4}, {23, 40}, {4, 4}}));
  EXPECT_EQ(info.context, &rec);
  EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
}

TEST(ProgressSubRange, NestedRangesMapTwiceIntoTheHostRange) {
  ProgressRecorder rec;
  GX_ProgressInfo info = rec.Record();
  {
    ProgressSubRange outer(&info, 2);
    outer.Advance(1);                  // (1, 2)
    {
      ProgressSubRange inner(&info, 100);
      inner.Advance(50);               // outer sees (50, 100) → (150, 200)
      GX_ReportProgress(&info, 1, 4);  // inner (201, 400) → outer (601, 800)
    }                                  // inner close (100,100) → (200, 200)
  }                                    // outer close (2, 2)
  EXPECT_EQ(rec.reports, (Reports{{1, 2}, {150, 200}, {201 + 400, 800}, {200, 200}, {2, 2}}));
}

TEST(ProgressSubRange, CancelInsideNestedRangeRestoresEveryRecord) {
  ProgressRecorder rec(1, 77);
  GX_ProgressInfo info = rec.Record();
  const long code = ThrownCode([&] {
    ProgressSubRange outer(&info, 2);
    ProgressSubRange inner(&info, 10);
    inner.Advance(1);  // report 0
    inner.Advance(2);  // report 1 answers 77
    FAIL() << "advance should have thrown";
  });
  EXPECT_EQ(code, 77);
  EXPECT_EQ(info.context, &rec);
  EXPECT_EQ(info.progress, &ProgressRecorder::Callback);
  EXPECT_EQ(info.abortCheck, nullptr);
}

TEST(ProgressSubRange, NonZeroAnswerAtCloseIsIgnored) {
  ProgressRecorder rec(0, 5);
  GX_ProgressInfo info = rec.Record();
  EXPECT_NO_THROW({ ProgressSubRange range(&info, 3); });
  EXPECT_EQ(rec.reports, (Reports{{3, 3}}));
}

TEST(ProgressSubRange, AbortCheckIsForwardedWithTheSavedContext) {
  struct Ctx { int calls = 0; } ctx;
  GX_ProgressInfo info;
  info.context = &ctx;
  info.abortCheck = [](void* c) -> int32_t { ++static_cast<Ctx*>(c)->calls; return 9; };
  ProgressSubRange range(&info, 2);
  ASSERT_NE(info.abortCheck, nullptr);
  EXPECT_EQ(info.abortCheck(info.context), 9);
  EXPECT_EQ(ctx.calls, 1);
}

TEST(ProgressSubRange, NullRecordIsAllowed) {
  ProgressSubRange range(nullptr, 3);
  EXPECT_NO_THROW(range.Advance(1));
}

struct LogLine { int32_t level; std::string module, event, text; };
void Capture(void* ctx, int32_t level, const char* m, const char* e, const char* t) {
  static_cast<std::vector<LogLine>*>(ctx)->push_back({level, m, e, t});
}

TEST(Lifecycle, BirthAndDeathOnlyLogInAnyOrder) {
  std::vector<LogLine> lines;
  JOT_SetSink(&Capture, &lines);
  EXPECT_EQ(K_Death(), 0);
  EXPECT_EQ(K_Birth(), 0);
  EXPECT_EQ(K_Birth(), 0);
  JOT_SetSink(nullptr, nullptr);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, 10);
  EXPECT_EQ(lines[0].module, "K");
  EXPECT_EQ(lines[0].event, "Death");
  EXPECT_EQ(lines[0].text, "K Death");
  EXPECT_EQ(lines[1].event, "Birth");
  EXPECT_EQ(lines[1].text, "K Birth");
}

TEST(Errors, FailedCheckReportsThenThrowsThree) {
  Y_ResetVerificationReports();
  const long code = ThrownCode([] { KSTROKE_CHECK(1 + 1 == 3, "arithmetic is broken"); });
  EXPECT_EQ(code, 3);
  EXPECT_EQ(Y_LastVerificationReport().message, "arithmetic is broken");
  EXPECT_EQ(Y_LastVerificationReport().code, 0);
  EXPECT_EQ(Y_LastVerificationReport().file, "");
  EXPECT_GT(Y_LastVerificationReport().line, 0);

  const long depth = ThrownCode(
      [] { KSTROKE_CHECK_CODE(false, kK_DepthCheckReportCode, "Unknown world bitdepth"); });
  EXPECT_EQ(depth, 3);
  EXPECT_EQ(Y_LastVerificationReport().code, 2425831);
}

TEST(Errors, EachThreadKeepsItsOwnLastReport) {
  Y_ResetVerificationReports();
  (void)ThrownCode([] { KSTROKE_CHECK(false, "on the main thread"); });
  std::string seenThere;
  std::thread other([&] {
    seenThere = Y_LastVerificationReport().message;
    (void)ThrownCode([] { KSTROKE_CHECK(false, "on another thread"); });
  });
  other.join();
  EXPECT_EQ(seenThere, "");
  EXPECT_EQ(Y_LastVerificationReport().message, "on the main thread");
  EXPECT_EQ(Y_LastVerificationReport().count, 1);
}

TEST(Errors, HostCodesPassUnchangedAndBoundaryTranslates) {
  EXPECT_EQ(ThrownCode([] { KSTROKE_HOST(int32_t(1234)); }), 1234);
  EXPECT_NO_THROW(KSTROKE_HOST(0));
  struct Case { const char* name; std::function<void()> body; int32_t code; };
  const Case cases[] = {
      {"ok", [] {}, 0}, {"long", [] { throw 42L; }, 42},
      {"bad_alloc", [] { throw std::bad_alloc(); }, Y_Err_OutOfMemory},
      {"length", [] { throw std::length_error("x"); }, Y_Err_Length},
      {"runtime", [] { throw std::runtime_error("x"); }, Y_Err_Generic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Kp_CatchAtBoundary(c.body), c.code);
  }
}

}  // namespace
