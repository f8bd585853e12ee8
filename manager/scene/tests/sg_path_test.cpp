// Path data: text form, stream form, arcs, bounds and flattening.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "scene/sg_path.h"

namespace kelm::scene {
namespace {

struct P {
  int32_t Kind;
  float X, Y;
};

std::vector<P> PointsOf(const TsgPathData& path) {
  std::vector<P> out;
  for (const TsgPathPoint& p : path.Points()) out.push_back({p.Kind, p.X, p.Y});
  return out;
}

void ExpectPoints(const TsgPathData& path, const std::vector<P>& want, const std::string& what) {
  const std::vector<P> got = PointsOf(path);
  ASSERT_EQ(got.size(), want.size()) << what << " -> " << path.GetData();
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].Kind, want[i].Kind) << what << " point " << i;
    EXPECT_NEAR(got[i].X, want[i].X, 1e-3) << what << " point " << i;
    EXPECT_NEAR(got[i].Y, want[i].Y, 1e-3) << what << " point " << i;
  }
}

// Counts change events of one path.
class ChangeCounter : public classlib::TObject {
 public:
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
  classlib::TNotifyEvent Event() { return classlib::EventOf<&ChangeCounter::Changed>(this); }
};

constexpr int32_t M = sgPathPointMoveTo, L = sgPathPointLineTo, C = sgPathPointCurveTo,
                  Z = sgPathPointClose;

TEST(PathText, TextsGiveTheirPoints) {
  const std::vector<P> square = {{M, 0, 0}, {L, 10, 0}, {L, 10, 10}, {Z, 0, 0}};
  struct Case {
    const char* text;
    std::vector<P> points;
  } cases[] = {
      {"M 0 0 L 10 0 L 10 10 Z", square},
      {"M0,0L10,0L10,10z", square},
      {"\tM 0 0\r\n L 10 0 L 10 10 Z", square},
      // A command repeats while a number follows, blanks or not.
      {"M 0 0 L 10 0 10 10 Z", square},
      {"M 0 0 10 0 10 10 Z", square},
      {"M 0,0, 10,0, 10,10 Z", square},
      // 10-20 is two numbers; exponents may be negative.
      {"M 10-20", {{M, 10, -20}}},
      {"M 1e2,-2e-1", {{M, 100, -0.2f}}},
      // Relative forms start from the last point.
      {"m 1 1 l 2 0 h 3 v 4 z", {{M, 1, 1}, {L, 3, 1}, {L, 6, 1}, {L, 6, 5}, {Z, 1, 1}}},
      {"M 1 1 H 5 V 7", {{M, 1, 1}, {L, 5, 1}, {L, 5, 7}}},
      {"m 2 3 4 5", {{M, 2, 3}, {L, 6, 8}}},
      // Quadratic curves are read past and add nothing.
      {"M 0,0 Q 5,5 10,0", {{M, 0, 0}}},
      {"M 0,0 T 5,5 L 1 1", {{M, 0, 0}, {L, 1, 1}}},
      // The smooth curve reflects the previous second control point.
      {"M 0 0 C 1 1 2 2 3 3 S 5 5 6 6",
       {{M, 0, 0}, {C, 1, 1}, {C, 2, 2}, {C, 3, 3}, {C, 4, 4}, {C, 5, 5}, {C, 6, 6}}},
      {"M 0 0 s 5 5 6 6", {{M, 0, 0}, {C, 5, 5}, {C, 5, 5}, {C, 6, 6}}},
      {"M 0 0 c 1 1 2 2 3 3 4 4 5 5 6 6",
       {{M, 0, 0}, {C, 1, 1}, {C, 2, 2}, {C, 3, 3}, {C, 7, 7}, {C, 8, 8}, {C, 9, 9}}},
      // A bad number abandons its command only.
      {"M 0 0 L,Z L 3 3", {{M, 0, 0}, {Z, 0, 0}, {L, 3, 3}}},
      // No progress ends the parse, keeping what was read.
      {"M 1 2 X 3 4", {{M, 1, 2}}},
      {"M +1 2", {}},
      {"", {}},
      {"   ", {}},
      {"Z", {{Z, 0, 0}}},
  };
  for (const Case& c : cases) {
    TsgPathData path;
    path.SetData(c.text);
    ExpectPoints(path, c.points, c.text);
  }
}

TEST(PathText, WrittenFormAndRoundTrip) {
  TsgPathData path;
  path.SetData("M0,0L10,0L10,10z");
  EXPECT_EQ(path.GetData(), "M 0,0 L 10,0 L 10,10 Z ");
  path.SetData("M 0.5 2 C 1 2 3 4 5 6");
  EXPECT_EQ(path.GetData(), "M 0.500,2 C 1,2 3,4 5,6 ");
  TsgPathData again;
  again.SetData(path.GetData());
  ExpectPoints(again, PointsOf(path), "round trip");
}

TEST(PathText, SetDataFiresOnceAndClearFires) {
  TsgPathData path;
  ChangeCounter fired;
  path.OnChange = fired.Event();
  path.SetData("M 0 0 L 1 1 L 2 2 Z");
  EXPECT_EQ(fired.Count, 1);
  path.MoveTo({5, 5});
  path.LineTo({6, 6});
  EXPECT_EQ(fired.Count, 1);
  path.Clear();
  EXPECT_EQ(fired.Count, 2);
  EXPECT_TRUE(path.IsEmpty());
}

TEST(PathText, SvgArcEndsAtItsEndPoint) {
  TsgPathData path;
  path.SetData("M 0 0 A 5 5 0 0 1 10 0");
  ASSERT_GE(path.Count(), 4);
  EXPECT_NEAR(path.GetLastPoint().X, 10, 1e-3);
  EXPECT_NEAR(path.GetLastPoint().Y, 0, 1e-3);
  // A half circle of radius 5 about (5, 0); with the sweep flag set it runs
  // through y < 0 (positive angles turn clockwise with y downwards).
  const TsgRect b = path.GetBounds();
  EXPECT_NEAR(b.Top, -5, 1e-3);
  EXPECT_NEAR(b.Bottom, 0, 1e-3);
  EXPECT_NEAR(b.Left, 0, 1e-3);
  EXPECT_NEAR(b.Right, 10, 1e-3);
  // A relative arc whose radius is too small is scaled up to reach its end.
  path.SetData("M 0 0 a 1 1 0 0 0 10 0");
  EXPECT_NEAR(path.GetLastPoint().X, 10, 1e-3);
  EXPECT_NEAR(path.GetLastPoint().Y, 0, 1e-3);
}

TEST(PathArcs, PiecesAndZeroRadii) {
  struct Case {
    float start, sweep;
    size_t points;  // move + 3 per curve
  } cases[] = {{0, 360, 13}, {0, 100, 7}, {0, 90, 4}, {45, -200, 10}, {0, 0, 0}, {0, 720, 13}};
  for (const Case& c : cases) {
    TsgPathData path;
    path.AddArc({10, 20}, {5, 3}, c.start, c.sweep);
    EXPECT_EQ(path.Points().size(), c.points) << c.start << " " << c.sweep;
  }
  TsgPathData path;
  path.AddArc({10, 20}, {5, 3}, 0, 90);
  // Angle 0 is the right-hand point; positive angles run clockwise on screen.
  ExpectPoints(path,
               {{M, 15, 20}, {C, 15, 20 + 3 * 0.5523f}, {C, 10 + 5 * 0.5523f, 23}, {C, 10, 23}},
               "quarter");
  // On a path with points, the arc starts with a line.
  path.AddArc({0, 0}, {1, 1}, 0, 90);
  EXPECT_EQ(path.Points()[4].Kind, L);

  // Coinciding ends draw nothing; a zero radius draws a line.
  TsgPathData svg;
  svg.MoveTo({1, 1});
  svg.AddArcSvg({1, 1}, {5, 5}, 0, false, true, {1, 1});
  svg.AddArcSvg({1, 1}, {0, 5}, 0, false, true, {4, 1});
  ExpectPoints(svg, {{M, 1, 1}, {L, 4, 1}}, "degenerate arcs");
  for (const TsgPathPoint& p : svg.Points()) EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y));
}

TEST(PathBounds, BoundsAndScale) {
  TsgPathData path;
  TsgRect b = path.GetBounds();
  EXPECT_EQ(b.Left, 0);
  EXPECT_EQ(b.Right, 0);
  path.MoveTo({3, 4});
  b = path.GetBounds();
  EXPECT_FLOAT_EQ(b.Left, 3);
  EXPECT_FLOAT_EQ(b.Top, 4);
  EXPECT_FLOAT_EQ(b.Right, 3.001f);
  EXPECT_FLOAT_EQ(b.Bottom, 4.001f);
  path.CurveTo({-5, 8}, {9, 9}, {6, 5});
  path.ClosePath();
  b = path.GetBounds();
  EXPECT_FLOAT_EQ(b.Left, -5);
  EXPECT_FLOAT_EQ(b.Bottom, 9);
  path.Scale(2, 3);
  ExpectPoints(path, {{M, 6, 12}, {C, -10, 24}, {C, 18, 27}, {C, 12, 15}, {Z, 3, 4}}, "scaled");
}

TEST(PathFlatten, FiguresCurvesAndCloseMarkers) {
  TsgPathData path;
  TsgPolygon poly;
  TsgPoint size{1, 1};
  path.FlattenToPolygon(poly, size, 1);
  EXPECT_TRUE(poly.empty());
  EXPECT_EQ(size.X, 0);

  path.SetData("M 0 0 L 10 0 L 10 10 Z M 20 20 L 30 20 Z");
  path.FlattenToPolygon(poly, size, 1);
  ASSERT_EQ(poly.size(), 9u);
  EXPECT_EQ(poly[3].X, 0);
  EXPECT_EQ(poly[3].Y, 0);
  EXPECT_TRUE(sgIsClosePolygon(poly[4]));
  EXPECT_EQ(poly[7].X, 20);
  EXPECT_TRUE(sgIsClosePolygon(poly[8]));
  EXPECT_FLOAT_EQ(size.X, 30);
  EXPECT_FLOAT_EQ(size.Y, 20);

  // A curve: samples from the current point to the end, first repeating it.
  path.SetData("M 0 0 C 0 10 10 10 10 0");
  path.FlattenToPolygon(poly, size, 1);
  ASSERT_GE(poly.size(), 4u);
  EXPECT_EQ(poly[0].X, 0);
  EXPECT_EQ(poly[1].X, 0);
  EXPECT_EQ(poly[1].Y, 0);
  EXPECT_NEAR(poly.back().X, 10, 1e-4);
  EXPECT_NEAR(poly.back().Y, 0, 1e-4);
  const TsgPoint mid = poly[poly.size() / 2];
  EXPECT_GT(mid.Y, 5);  // the curve bulges to y = 7.5 at its middle
}

TEST(PathFlatten, HugeCurvesAreSampledBounded) {
  TsgPathData path;
  path.MoveTo({0, 0});
  path.CurveTo({0, 0}, {1e30f, 0}, {3e30f, 0});
  TsgPolygon poly;
  TsgPoint size;
  path.FlattenToPolygon(poly, size, 1);
  EXPECT_LE(poly.size(), 10001u);
  EXPECT_GE(poly.size(), 3u);
}

std::vector<uint8_t> Bytes(classlib::TMemoryStream& m) {
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

void PutLe(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void PutFloat(std::vector<uint8_t>& v, float f) {
  uint32_t x;
  std::memcpy(&x, &f, 4);
  PutLe(v, x);
}

std::unique_ptr<TsgPathData> Read(const std::vector<uint8_t>& bytes) {
  classlib::TMemoryStream m;
  if (!bytes.empty()) m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  auto path = std::make_unique<TsgPathData>();
  path->ReadPath(m);
  return path;
}

TEST(PathStream, WrittenBytesAndBothRecordSizes) {
  TsgPathData path;
  path.SetData("M 1 2 L 3 4 Z");
  classlib::TMemoryStream m;
  path.WritePath(m);
  std::vector<uint8_t> want;
  PutLe(want, 3);
  for (const TsgPathPoint& p : path.Points()) {
    PutLe(want, uint32_t(p.Kind));
    PutFloat(want, p.X);
    PutFloat(want, p.Y);
  }
  EXPECT_EQ(Bytes(m), want);
  ExpectPoints(*Read(want), PointsOf(path), "12-byte records");

  std::vector<uint8_t> nine;
  PutLe(nine, 3);
  for (const TsgPathPoint& p : path.Points()) {
    nine.push_back(uint8_t(p.Kind));
    PutFloat(nine, p.X);
    PutFloat(nine, p.Y);
  }
  ExpectPoints(*Read(nine), PointsOf(path), "9-byte records");
}

TEST(PathStream, BadCountsAndBrokenCurvesAreRefused) {
  auto records = [](uint32_t count, const std::vector<int32_t>& kinds) {
    std::vector<uint8_t> v;
    PutLe(v, count);
    float x = 0;
    for (int32_t k : kinds) {
      PutLe(v, uint32_t(k));
      PutFloat(v, x);
      PutFloat(v, x + 1);
      x += 2;
    }
    return v;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::vector<int32_t> kinds;
  } cases[] = {
      {"no data", {}, {}},
      {"short count", {1, 0}, {}},
      {"zero count", records(0, {M}), {}},
      {"negative count", records(0xFFFFFFFFu, {M}), {}},
      {"count past the data", records(3, {M, L}), {}},
      {"huge count", records(0x7FFFFFFFu, {M, L}), {}},
      {"trailing curve run of two", records(4, {M, L, C, C}), {M, L}},
      {"curve run of four", records(6, {M, C, C, C, C, L}), {M, C, C, C, L}},
      {"curve run broken by a line", records(5, {M, C, C, L, Z}), {M, L, Z}},
      {"unknown kind", records(3, {M, 7, L}), {M, L}},
      {"whole curve", records(4, {M, C, C, C}), {M, C, C, C}},
  };
  for (const Case& c : cases) {
    const std::unique_ptr<TsgPathData> loaded = Read(c.bytes);
    const TsgPathData& path = *loaded;
    std::vector<int32_t> kinds;
    for (const TsgPathPoint& p : path.Points()) kinds.push_back(p.Kind);
    EXPECT_EQ(kinds, c.kinds) << c.what;
    // Whatever loads writes a text that reads back to the same points.
    TsgPathData again;
    again.SetData(path.GetData());
    EXPECT_EQ(again.Count(), path.Count()) << c.what;
  }
}

// Records the binary properties a persistent defines.
class RecordingFiler : public classlib::TFiler {
 public:
  explicit RecordingFiler(classlib::TStream& s) : TFiler(s) {}
  void DefineProperty(const std::string&, const classlib::TReaderProc&,
                      const classlib::TWriterProc&, bool) override {}
  void DefineBinaryProperty(const std::string& name, const classlib::TStreamProc& read,
                            const classlib::TStreamProc& write, bool hasData) override {
    Name = name;
    Read = read;
    Write = write;
    HasData = hasData;
  }
  std::string Name;
  classlib::TStreamProc Read, Write;
  bool HasData = false;
};

TEST(PathStream, PathPropertyOnlyWithPoints) {
  classlib::TMemoryStream dummy;
  TsgPathData empty;
  RecordingFiler f1(dummy);
  empty.DefineProperties(f1);
  EXPECT_EQ(f1.Name, "Path");
  EXPECT_FALSE(f1.HasData);

  TsgPathData path;
  path.SetData("M 0 0 L 5 5");
  RecordingFiler f2(dummy);
  path.DefineProperties(f2);
  EXPECT_TRUE(f2.HasData);
  classlib::TMemoryStream m;
  f2.Write(m);
  m.SetPosition(0);
  TsgPathData loaded;
  ChangeCounter fired;
  loaded.OnChange = fired.Event();
  RecordingFiler f3(dummy);
  loaded.DefineProperties(f3);
  f3.Read(m);
  ExpectPoints(loaded, PointsOf(path), "property");
  EXPECT_EQ(fired.Count, 1);
}

TEST(PathAssign, CopiesPointsAndFires) {
  TsgPathData a, b;
  a.SetData("M 0 0 L 1 1 Z");
  ChangeCounter fired;
  b.OnChange = fired.Event();
  b.Assign(&a);
  ExpectPoints(b, PointsOf(a), "assigned");
  EXPECT_EQ(fired.Count, 1);
  // The figure start travels with the points.
  b.LineTo({4, 4});
  b.ClosePath();
  EXPECT_EQ(b.Points().back().X, 0);
}

}  // namespace
}  // namespace kelm::scene
