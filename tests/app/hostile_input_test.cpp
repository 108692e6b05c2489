// SPDX-License-Identifier: MIT
// The program against input built to break it: every case ends with exit 1 and one
// short line naming the file and, where there is one, the field, and writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app_test_support.h"
#include "chunk_bytes.h"
#include "image_bytes.h"

namespace {

namespace fs = std::filesystem;
using image_bytes::PngClaiming;

std::string Nested(size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

// A description of one stroke whose parts can be swapped for hostile ones.
std::string Doc(const std::string& width = "64", const std::string& x = "0.5",
                const std::string& transfer = "\"normal\"", const std::string& colour = "[0, 0, 0]") {
  return R"({"canvas": {"width": )" + width + R"(, "height": 64}, "transfer": )" + transfer +
         R"(, "source": {"colour": )" + colour + R"(}, "strokes": [{"events": [{"t": 0, "x": )" + x +
         R"(, "y": 0.5}, {"t": 1, "x": 0.2, "y": 0.3}]}]})";
}

std::string CloneDoc(const std::string& image) {
  return R"({"canvas": {"width": 64, "height": 64}, "source": {"type": "clone", "image": ")" +
         image + R"("}, "strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})";
}

TEST(HostileInput, EndsWithOneShortLineNamingFileAndField) {
  const fs::path dir = fs::path(TestScratchDir()) / "hostile";
  fs::create_directories(dir);
  const std::string deep = Nested(100000);
  std::string manyEvents = R"({"strokes": [{"events": [)";
  for (int i = 0; i < 11000; ++i)
    manyEvents += (i ? "," : "") + std::string(R"({"t": )") + std::to_string(i) +
                  R"(, "x": )" + std::to_string((i % 100) / 100.0) + R"(, "y": 0.5})";
  manyEvents += "]}]}";
  WriteText(dir / "wide.png", PngClaiming(40000, 1));
  WriteText(dir / "wraps.png", PngClaiming(65636, 10));
  WriteText(dir / "bomb.png", PngClaiming(20000, 20000));
  const std::string kdoc = R"({"canvas": {"width": )" + deep + "}}";
  const Bytes kst = List("kstk", Cat({Chunk("kver", Be32(1)), Chunk("kdoc", Bytes(kdoc.begin(), kdoc.end()))}));

  struct Case {
    const char* name;
    std::string file;     ///< written to the scratch folder; empty: `input` as it is
    std::string content;
    std::string field;    ///< what follows "kstroke render: <input>: "; a path cut short
                          ///< ends in "…" and is matched up to there
    std::string message;  ///< the rest of the line
    std::string context = "";  ///< between the file and the field
  };
  const std::string aaa = "\"" + std::string(56, 'a') + "…", image = "strokes[0].source.image";
  const std::string limit = " pixels, over the limit of 30000 pixels a side and 268435456 pixels in all";
  const Case kCases[] = {
      {"nested width", "a.json", Doc(deep), "canvas.width[0][0]…", "nested deeper than 64 levels"},
      {"nested x", "b.json", Doc("64", deep), "strokes[0].events[0].x[0][0]…", "nested deeper than 64 levels"},
      {"nested transfer", "c.json", Doc("64", "0.5", deep), "transfer[0][0]…", "nested deeper than 64 levels"},
      {"nested colour", "d.json", Doc("64", "0.5", "\"normal\"", deep), "source.colour[0][0]…",
       "nested deeper than 64 levels"},
      {"nested in a stroke file", "e.kst", std::string(kst.begin(), kst.end()),
       "canvas.width[0][0]…", "nested deeper than 64 levels", "chunk \"kdoc\": "},
      {"shallow nesting is quoted short", "f.json", Doc(Nested(40)), "canvas.width",
       "expected a whole number, got [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]…"},
      {"a megabyte string", "g.json", Doc("\"" + std::string(1 << 20, 'a') + "\""), "canvas.width",
       "expected a whole number, got " + aaa},
      {"a long key", "h.json", R"({"brush": {")" + std::string(100000, 'k') + R"(": 1}})",
       "brush.kk…", "unknown field"},
      {"number beyond double", "i.json", Doc("1e999"), "canvas.width",
       "not valid JSON: number overflow parsing '1e999'"},
      {"a folder", "", (dir / "folder").string(), "", "is a folder, not a file"},
      {"an endless device", "", "/dev/zero", "",
       "larger than the 64.0 MiB a stroke description or stroke file may have"},
      {"too many events", "j.json", manyEvents, "strokes[0].events",
       "11000 pointer positions, but a stroke holds at most 10924: split it into several strokes"},
      {"clone 40000 wide", "k.json", CloneDoc("wide.png"), image,
       "'" + (dir / "wide.png").string() + "' is 40000 × 1" + limit},
      {"clone width past 16 bits", "l.json", CloneDoc("wraps.png"), image,
       "'" + (dir / "wraps.png").string() + "' is 65636 × 10" + limit},
      {"clone bomb", "m.json", CloneDoc("bomb.png"), image,
       "'" + (dir / "bomb.png").string() + "' is 20000 × 20000" + limit},
      // Refused by its size, before it is read.
      {"larger than the limit", "", (dir / "huge.json").string(), "",
       "larger than the 64.0 MiB a stroke description or stroke file may have (65.0 MiB)"},
  };
  WriteText(dir / "huge.json", "{");
  fs::resize_file(dir / "huge.json", (std::uintmax_t(65) << 20));
  fs::create_directories(dir / "folder");
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string input = c.content;
    if (!c.file.empty()) {
      input = (dir / c.file).string();
      WriteText(input, c.content);
    }
    const fs::path out = dir / "out.png";
    const ProgramRun r = RunKstroke("render " + input + " -q -o " + out.string());
    EXPECT_EQ(r.status, 1);
    const std::string head = "kstroke render: " + input + ": " + c.context;
    const std::string tail = c.message + "\n";
    ASSERT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    ASSERT_GE(r.err.size(), head.size() + tail.size()) << r.err;
    ASSERT_EQ(r.err.compare(r.err.size() - tail.size(), tail.size(), tail), 0) << r.err;
    std::string field = r.err.substr(head.size(), r.err.size() - head.size() - tail.size());
    if (!field.empty()) field.resize(field.size() - 2);  // ": "
    const std::string cut = "…";
    const auto cutShort = [&](const std::string& f) {
      return f.size() > cut.size() && f.substr(f.size() - cut.size()) == cut;
    };
    if (cutShort(c.field)) {
      EXPECT_EQ(field.rfind(c.field.substr(0, c.field.size() - cut.size()), 0), 0u) << field;
      EXPECT_TRUE(cutShort(field) && field.size() <= 60u) << field;
    } else {
      EXPECT_EQ(field, c.field);
    }
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST(HostileInput, FailedWritesAreFailures) {
  const std::string kst = TestScratchDir() + "full.kst";
  Ran("save -q " + Example("fill.json") + " -o " + kst);
  const std::string full = ": cannot write to standard output: No space left on device\n";
  // A 5 KB stroke file under a 4 KB file size limit: the last of it fails only when the
  // file is flushed and closed, the step a careless writer does not check.
  const std::string capped = TestScratchDir() + "capped.kst";
  // A 1.5 KB description under a 1 KB limit stays in the stream's buffer until the file
  // is closed: only the check of the flush and the close sees it fail.
  const fs::path tiny = fs::path(TestScratchDir()) / "tiny.json";
  WriteText(tiny, R"({"canvas": {"width": 64, "height": 64}, "strokes": [{"events": [)"
                  R"({"t": 0, "x": 0.2, "y": 0.5}, {"t": 0.1, "x": 0.8, "y": 0.5}]}]})");
  const std::string buffered = TestScratchDir() + "capped.json";
  ExpectRefusals({
      {"file past its size limit", "save -q " + Example("fill.json") + " -o " + capped, 1,
       "kstroke save: " + capped + ": cannot write the output file: File too large\n", false,
       "trap '' XFSZ; ulimit -f 4;"},
      {"past its limit only when closed", "load " + tiny.string() + " -o " + buffered, 1,
       "kstroke load: " + buffered + ": cannot write the output file: File too large\n", false,
       "trap '' XFSZ; ulimit -f 1;"},
      {"load", "load " + kst + " >/dev/full", 1, "kstroke load" + full},
      {"tables", "tables >/dev/full", 1, "kstroke tables" + full},
      {"outline", "outline -o " + TestScratchDir() + "o.png >/dev/full", 1, "kstroke outline" + full},
      {"render", "render " + Example("fill.json") + " -q -o - >/dev/full", 1, "kstroke render" + full},
  });
  EXPECT_FALSE(fs::exists(capped));
  EXPECT_FALSE(fs::exists(buffered));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(HostileInput, OutOfMemorySaysWhatDidNotFit) {
  // The sanitizers reserve more address space than the limit below allows.
  const fs::path dir = fs::path(TestScratchDir()) / "oom";
  fs::create_directories(dir);
  const fs::path doc = dir / "huge.json";
  WriteText(doc, R"({"canvas": {"width": 30000, "height": 30000, "depth": 32},
                 "strokes": [{"events": [{"t": 0, "x": 0.5, "y": 0.5}]}]})");
  const ProgramRun r = RunKstroke("render " + doc.string() + " -q -o " + (dir / "o.png").string(),
                                  "ulimit -v 2000000;");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kstroke render: " + doc.string() +
                       ": out of memory for the canvas: 30000 × 30000 pixels at 32 bits (14400.0 MB)\n");
  EXPECT_FALSE(fs::exists(dir / "o.png"));
}
#endif

}  // namespace
