// SPDX-License-Identifier: MIT
// Stroke files; the layout is at the top of document/stroke_file.h.
//
// Reading walks the children of the "kstk" list with plain reads, because the strokes
// share one tag and a descent finds only the first chunk of a tag. Each stroke's list
// is copied into a memory file of its own; every chunk the host and engine readers
// will visit is first entered once here, so a defect is reported with the name of the
// chunk that has it, and only then do WS_ReadShapeChunk and ReadExtraChunks run.
#include "document/stroke_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "document/input_file.h"
#include "document/output_file.h"
#include "document/recorded_shape.h"
#include "document/stroke_input.h"
#include "document/symmetry.h"
#include "host/dkf/dkf.h"
#include "host/dkf/ws_chunks.h"

namespace {

constexpr uint32_t kTagFile = DKF_Tag("kstk");
constexpr uint32_t kTagVersion = DKF_Tag("kver");
constexpr uint32_t kTagSettings = DKF_Tag("kdoc");
constexpr uint32_t kTagStroke = DKF_Tag("strk");
constexpr uint32_t kTagShape = DKF_Tag("shap");
constexpr uint32_t kTagShapeHeader = DKF_Tag("shhd");
constexpr uint32_t kTagShapePoints = DKF_Tag("bzpt");
constexpr uint32_t kTagTables = DKF_Tag("pnts");

// The stroke's tables in the order K_Shape writes them: time-distance, spacing, then
// the five parameters in K_StrokeParam order.
constexpr int kTableCount = 7;
constexpr uint32_t kTableTags[kTableCount] = {DKF_Tag("tmds"), DKF_Tag("tpsp"), DKF_Tag("dmtr"),
                                              DKF_Tag("optc"), DKF_Tag("flow"), DKF_Tag("angl"),
                                              DKF_Tag("rndn")};
constexpr int kTimeDistance = 0;
constexpr int kSpacing = 1;
constexpr int kFirstParam = 2;

// A tag as it reads, with anything unprintable shown as '?'.
std::string Quoted(uint32_t tag) {
  std::string s = "\"";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((tag >> shift) & 0xFF);
    s += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return s + "\"";
}

std::string Chunk(uint32_t tag) { return "chunk " + Quoted(tag); }

std::string Describe(int32_t code) {
  switch (code) {
    case DKF_Err_Truncated: return "cut short (the file or its parent chunk ends inside it)";
    case DKF_Err_ChunkTooLarge: return "its size runs past the end of its parent chunk";
    case DKF_Err_Overflow: return "holds a count too large to read";
    case DKF_Err_TooDeep: return "chunks are nested too deeply";
    case DKF_Err_NotFound: return "missing";
    case DKF_Err_BadFormat: return "malformed";
    case DKF_Err_PastChunkEnd: return "shorter than its contents need";
    case DKF_Err_Io: return "cannot be read";
    case Y_Err_OutOfMemory: return "out of memory";
    default: return "error " + std::to_string(code);
  }
}

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw StrokeFileError(where + ": " + what);
}

void Written(int32_t rc, const std::string& where) {
  if (rc != 0) Fail(where, "cannot write the stroke file: " + Describe(rc));
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Writing ---------------------------------------------------------------------------
// ===================================================================================

void WriteDataChunk(DKF_File* file, uint32_t tag, const void* data, size_t size,
                    const std::string& where) {
  if (size > size_t(INT32_MAX)) Fail(where, Chunk(tag) + ": too large to write");
  DKF_ChunkWriteState state;
  Written(DKF_BeginChunkWrite(file, tag, int32_t(size), 0, &state), where);
  DKF_WriteCursor w(file);
  w.Bytes(data, int32_t(size));
  Written(w.Result(), where);
  Written(DKF_EndChunkWrite(file, &state), where);
}

// A shape recorded from events, or a recorded one, exactly as reading will see it.
std::unique_ptr<K_Shape> ShapeToWrite(const StrokeDoc& doc, const DocStroke& stroke,
                                      const std::string& where) {
  std::unique_ptr<K_Shape> shape;
  try {
    shape = RecordStroke(stroke, doc.width, doc.height, where);
  } catch (const RecordError& e) {
    throw StrokeFileError(e.what());
  }
  if (auto problem = CheckRecorded(RecordedFromShape(*shape)))
    Fail(where, "the recorded stroke would not read back: " + problem->what);
  return shape;
}

// Reading ---------------------------------------------------------------------------
// ===================================================================================

struct Child {
  uint32_t tag = 0;
  uint32_t listType = 0;
  std::vector<uint8_t> chunk;  ///< header, list type and data: a chunk file of its own
};

// The children of the entered chunk `parent` (whose data is `dataSize` bytes), each
// checked against the parent's end.
std::vector<Child> ReadChildren(DKF_File* file, int32_t dataSize, const std::string& where) {
  std::vector<Child> children;
  DKF_ReadCursor r(file);
  int64_t left = dataSize;
  while (left > 0) {
    if (left < kDKF_HeaderBytes) Fail(where, "ends inside a chunk header");
    uint8_t header[kDKF_HeaderBytes];
    if (!r.Bytes(header, kDKF_HeaderBytes)) Fail(where, Describe(r.Result()));
    left -= kDKF_HeaderBytes;
    Child c;
    c.tag = BigEndian32(header);
    const uint32_t size = BigEndian32(header + 4);
    if (size > left) Fail(where, Chunk(c.tag) + ": " + Describe(DKF_Err_ChunkTooLarge));
    if (c.tag == kDKF_TagList && size < uint32_t(kDKF_ListTypeBytes))
      Fail(where, Chunk(c.tag) + ": too short to hold its list type");
    c.chunk.assign(header, header + kDKF_HeaderBytes);
    c.chunk.resize(kDKF_HeaderBytes + size_t(size));
    if (!r.Bytes(c.chunk.data() + kDKF_HeaderBytes, int32_t(size)))
      Fail(where, Chunk(c.tag) + ": " + Describe(r.Result()));
    if (c.tag == kDKF_TagList) c.listType = BigEndian32(c.chunk.data() + kDKF_HeaderBytes);
    left -= size;
    if (size % 2 == 1 && left > 0) {  // pad byte
      uint8_t pad;
      r.Bytes(&pad, 1);
      left -= 1;
    }
    children.push_back(std::move(c));
  }
  return children;
}

// Enters child `tag` (of list type `type`) of `parent`, failing with the chunk's name
// when it is malformed or, unless `optional`, absent.
class Enter {
public:
  Enter(DKF_File* file, uint32_t tag, uint32_t type, const DKF_ChunkInfo* parent,
        const std::string& where, bool optional = false)
      : descent(file, tag, type, parent, &found) {
    const uint32_t name = tag == kDKF_TagList ? type : tag;
    if (descent.Result()) Fail(where, Chunk(name) + ": " + Describe(descent.Result()));
    if (!found && !optional) Fail(where, Chunk(name) + " missing");
  }
  const DKF_ChunkInfo* Info() const { return descent.GetChunkInfo(); }
  bool Found() const { return found; }

private:
  bool found = false;
  DKF_ScDescend descent;
};

// Enters every chunk the shape readers will visit; answers which tables are present.
std::array<bool, kTableCount> CheckShapeChunks(DKF_File* file, const DKF_ChunkInfo* stroke,
                                               const std::string& where) {
  std::array<bool, kTableCount> present{};
  Enter shape(file, kDKF_TagList, kTagShape, stroke, where);
  { Enter header(file, kTagShapeHeader, 0, shape.Info(), where); }
  { Enter points(file, kTagShapePoints, 0, shape.Info(), where); }
  Enter tables(file, kDKF_TagList, kTagTables, shape.Info(), where);
  for (int i = 0; i < kTableCount; ++i) {
    Enter table(file, kTableTags[i], 0, tables.Info(), where, true);
    present[size_t(i)] = table.Found();
  }
  return present;
}

// Tables a file leaves out (see the top of document/stroke_file.h).
void FillAbsentTables(const std::array<bool, kTableCount>& present, K_Shape* shape) {
  const auto& td = shape->timeDistanceTable;
  if (td.empty()) return;  // refused later, by name
  const double first = td.front().time, last = td.back().time;
  if (!present[kSpacing]) shape->tipSpacingTable = {{last, true}};
  for (int i = 0; i < kK_StrokeParamCount; ++i) {
    if (present[size_t(kFirstParam + i)]) continue;
    const float factor = i == K_StrokeParam_Angle ? 0.0f : 1.0f;
    K_Shape::ParamTable& table = shape->paramTables[i];
    table = {{first, factor}};
    if (last > first) table.push_back({last, factor});
  }
}

std::string ChunkOf(const RecordedProblem& p) {
  if (p.part == RecordedProblem::kVertices)
    return Chunk(kTagShapePoints) + (p.whole ? "" : ", vertex " + std::to_string(p.entry));
  const int table = p.part == RecordedProblem::kTimeDistance ? kTimeDistance
                    : p.part == RecordedProblem::kSpacing    ? kSpacing
                                                             : kFirstParam + p.param;
  return Chunk(kTableTags[table]) + (p.whole ? "" : ", entry " + std::to_string(p.entry));
}

DocRecorded ReadStroke(const std::vector<uint8_t>& chunk, const std::string& where) {
  DKF_ScFile file;
  if (int32_t rc = DKF_OpenMemory(chunk.data(), chunk.size(), file.Out()))
    Fail(where, Describe(rc));
  Enter stroke(file.Get(), kDKF_TagList, kTagStroke, nullptr, where);
  const std::array<bool, kTableCount> present = CheckShapeChunks(file.Get(), stroke.Info(), where);
  if (!present[kTimeDistance])
    Fail(where,
         Chunk(kTableTags[kTimeDistance]) + " missing (a stroke cannot do without its timing)");

  unsigned char kind = 0;
  if (int32_t rc = WS_PeekShapeKind(file.Get(), stroke.Info(), &kind))
    Fail(where, Chunk(kTagShapeHeader) + ": " + Describe(rc));
  if (kind != kWS_KindStroke)
    Fail(where, Chunk(kTagShapeHeader) + ": holds a shape of kind " + std::to_string(kind) +
                    ", not a stroke (" + std::to_string(kWS_KindStroke) + ")");
  std::unique_ptr<K_Shape> shape(new K_Shape());
  if (!shape) throw std::bad_alloc();
  switch (const int32_t rc = WS_ReadShapeChunk(file.Get(), stroke.Info(), shape.get())) {
    case 0: break;
    // The header was read whole above, so these concern the points.
    case DKF_Err_BadFormat:
      Fail(where, Chunk(kTagShapePoints) + ": a point is not a finite number");
    case DKF_Err_Overflow:
    case DKF_Err_PastChunkEnd:
      Fail(where, Chunk(kTagShapePoints) + ": holds fewer points than its vertex count");
    default: Fail(where, Chunk(kTagShape) + ": " + Describe(rc));
  }
  if (!RecordableHeader(*shape)) {
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%02x", unsigned(shape->Flags()));
    Fail(where, Chunk(kTagShapeHeader) + ": not a relative stroke path without a rectangle (" +
                    (shape->RelRect() ? "has a rectangle" : std::string("flags ") + flags) + ")");
  }
  FillAbsentTables(present, shape.get());
  DocRecorded recorded = RecordedFromShape(*shape);
  if (auto problem = CheckRecorded(recorded)) Fail(where, ChunkOf(*problem) + ": " + problem->what);
  return recorded;
}

bool StartsWithList(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 4 && BigEndian32(bytes.data()) == kDKF_TagList;
}

}  // namespace

std::vector<uint8_t> StrokeFileBytes(const StrokeDoc& doc) {
  const std::string file = doc.path.empty() ? std::string("built-in stroke") : doc.path;
  DKF_ScFile out;
  Written(DKF_NewMemoryFile(out.Out()), file);
  DKF_File* f = out.Get();
  // Sizes are announced as 0: the chunk library patches them when each chunk ends.
  DKF_ChunkWriteState top;
  Written(DKF_BeginChunkWrite(f, kDKF_TagList, 0, kTagFile, &top), file);
  const uint8_t version[4] = {0, 0, 0, uint8_t(kStrokeFileVersion)};
  WriteDataChunk(f, kTagVersion, version, sizeof version, file);
  const std::string settings = StrokeDocToJson(doc, DocPart::kSettings);
  WriteDataChunk(f, kTagSettings, settings.data(), settings.size(), file);
  for (size_t i = 0; i < doc.strokes.size(); ++i) {
    const std::string where = file + ": strokes[" + std::to_string(i) + "]";
    std::unique_ptr<K_Shape> shape = ShapeToWrite(doc, doc.strokes[i], where);
    DKF_ChunkWriteState stroke;
    Written(DKF_BeginChunkWrite(f, kDKF_TagList, 0, kTagStroke, &stroke), where);
    Written(WS_WriteShapeChunk(f, shape.get()), where);
    Written(DKF_EndChunkWrite(f, &stroke), where);
  }
  Written(DKF_EndChunkWrite(f, &top), file);
  std::vector<uint8_t> bytes;
  Written(DKF_GetBytes(f, &bytes), file);
  return bytes;
}

void SaveStrokeFile(const StrokeDoc& doc, const std::string& path, kstroke::Progress* progress) {
  // Symmetry copies are strokes of their own in the file: it holds what is drawn.
  const std::vector<uint8_t> bytes = StrokeFileBytes(RelocateDoc(ExpandSymmetry(doc), path));
  AtomicOutput out(path);
  out.Write(std::string(bytes.begin(), bytes.end()));
  if (progress && !progress->KeepGoing()) throw long(GX_Err_Cancelled);
  out.Commit();
}

StrokeDoc ParseStrokeFile(const std::vector<uint8_t>& bytes, const std::string& path) {
  if (!StartsWithList(bytes)) Fail(path, "not a kstroke stroke file (no " + Chunk(kTagFile) + ")");
  if (bytes.size() >= 12 && BigEndian32(bytes.data() + 8) != kTagFile)
    Fail(path, "not a kstroke stroke file (it starts with a " +
                   Quoted(BigEndian32(bytes.data() + 8)) + " list, not " + Quoted(kTagFile) + ")");
  DKF_ScFile file;
  if (int32_t rc = DKF_OpenMemory(bytes.data(), bytes.size(), file.Out())) Fail(path, Describe(rc));
  Enter top(file.Get(), kDKF_TagList, kTagFile, nullptr, path);
  const std::vector<Child> children =
      ReadChildren(file.Get(), top.Info()->DataSize(), path + ": " + Chunk(kTagFile));

  const Child* settings = nullptr;
  std::vector<const Child*> strokes;
  uint32_t version = 1;
  for (const Child& c : children) {
    if (c.tag == kTagVersion) {
      const size_t size = c.chunk.size() - kDKF_HeaderBytes;
      if (size != 4)
        Fail(path, Chunk(kTagVersion) + ": expected 4 bytes, got " + std::to_string(size));
      version = BigEndian32(c.chunk.data() + kDKF_HeaderBytes);
      if (version == 0 || version > kStrokeFileVersion)
        Fail(path, Chunk(kTagVersion) + ": version " + std::to_string(version) +
                       " is not one this program reads (up to " +
                       std::to_string(kStrokeFileVersion) + ")");
    } else if (c.tag == kTagSettings && !settings) {
      settings = &c;
    } else if (c.tag == kDKF_TagList && c.listType == kTagStroke) {
      strokes.push_back(&c);
    }
  }
  if (!settings) Fail(path, Chunk(kTagSettings) + " missing (the document's settings)");
  const std::string text(settings->chunk.begin() + kDKF_HeaderBytes, settings->chunk.end());
  StrokeDoc doc;
  try {
    doc = ParseStrokeDoc(text, path + ": " + Chunk(kTagSettings), DocPart::kSettings);
  } catch (const StrokeDocError& e) {
    throw StrokeFileError(e.what());
  }
  doc.path = path;
  // Version 1 kept the background alpha first.
  if (version == 1)
    doc.background = {{doc.background[1], doc.background[2], doc.background[3], doc.background[0]}};
  if (strokes.size() > doc.strokes.size())
    Fail(path, Chunk(kTagFile) + ": holds " + std::to_string(strokes.size()) + " strokes but " +
                   Chunk(kTagSettings) + " describes " + std::to_string(doc.strokes.size()));
  for (size_t i = 0; i < doc.strokes.size(); ++i) {
    const std::string where = path + ": strokes[" + std::to_string(i) + "]";
    if (i >= strokes.size()) Fail(where, Chunk(kTagStroke) + " missing");
    doc.strokes[i].recorded = ReadStroke(strokes[i]->chunk, where);
  }
  return doc;
}

StrokeDoc LoadStrokeFile(const std::string& path) { return ParseStrokeFile(ReadInputFile(path), path); }

StrokeDoc LoadStrokeInput(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadInputFile(path);
  const bool kst = path.size() >= 4 && path.compare(path.size() - 4, 4, ".kst") == 0;
  if (kst || StartsWithList(bytes)) return ParseStrokeFile(bytes, path);
  return ParseStrokeDoc(std::string(bytes.begin(), bytes.end()), path);
}

StrokeDoc RelocateDoc(const StrokeDoc& doc, const std::string& newPath) {
  namespace fs = std::filesystem;
  StrokeDoc out = doc;
  out.path = newPath;
  // The folder of a file name; the built-in document ("") lives in the current folder.
  auto folder = [](const std::string& file) {
    return fs::absolute(file.empty() ? fs::path(".") / "x" : fs::path(file))
        .parent_path()
        .lexically_normal();
  };
  const fs::path from = folder(doc.path), to = folder(newPath);
  if (from == to) return out;
  for (DocStroke& s : out.strokes) {
    const fs::path image(s.source.image);
    if (s.source.image.empty() || image.is_absolute()) continue;
    s.source.image = (from / image).lexically_normal().lexically_proximate(to).generic_string();
  }
  return out;
}
