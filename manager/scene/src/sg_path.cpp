// Path data: builders, text and stream forms, arcs and flattening.
#include "scene/sg_path.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "scene/sg_classes.h"
#include "scene/sg_resources.h"

namespace kelm::scene {

using classlib::TFiler;
using classlib::TPersistent;
using classlib::TStream;

CL_CLASS(TsgPathData) {
  c.Str("Data", &TsgPathData::GetData, &TsgPathData::SetData).Stored(false);
  c.Str("ResourceName", &TsgPathData::ResourceName, &TsgPathData::SetResourceName);
}

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi = 1.5707963267948966;
// A curve is never cut into more samples than this, whatever its size
// against the bounds (huge coordinates in a stored path).
constexpr int kMaxCurveSamples = 10000;

// The points of one arc piece set: the first point of the first piece,
// then control 1, control 2 and end of every piece.
std::vector<TsgPoint> ArcPoints(double cx, double cy, double rx, double ry, double start,
                                double sweep) {
  std::vector<TsgPoint> out;
  sweep = std::clamp(sweep, -kTwoPi, kTwoPi);
  if (std::fabs(sweep) < 1e-10) return out;
  start = start - kTwoPi * std::trunc(start / kTwoPi);
  double remaining = sweep;
  double s = start;
  bool first = true;
  for (;;) {
    double a = remaining;
    if (std::fabs(remaining) > kHalfPi + 0.01) a = remaining < 0 ? -kHalfPi : kHalfPi;
    const double x0 = std::cos(a / 2), y0 = std::sin(a / 2);
    const double tx = (1 - x0) * 4 / 3;
    const double ty = y0 - tx * x0 / y0;
    const double px[4] = {x0, x0 + tx, x0 + tx, x0};
    const double py[4] = {-y0, -ty, ty, y0};
    const double rot = s + a / 2;
    const double cs = std::cos(rot), sn = std::sin(rot);
    for (int i = first ? 0 : 1; i < 4; ++i) {
      out.push_back({static_cast<float>(cx + rx * (px[i] * cs - py[i] * sn)),
                     static_cast<float>(cy + ry * (px[i] * sn + py[i] * cs))});
    }
    first = false;
    s += a;
    remaining -= a;
    if (std::fabs(remaining) < 1e-12) break;
  }
  return out;
}

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float LoadFloat(const uint8_t* p) {
  const uint32_t bits = LoadLe32(p);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Reader of the text form.
class PathParser {
 public:
  PathParser(TsgPathData& path, std::string text) : path_(path), s_(std::move(text)) {}

  void Run() {
    while (pos_ < s_.size()) {
      while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
      const size_t run = pos_;
      while (pos_ < s_.size() && IsCommand(s_[pos_])) ++pos_;
      if (pos_ == run) break;  // no command where one is expected
      const std::string letters = s_.substr(run, pos_ - run);
      for (char c : letters) Execute(c);
    }
  }

 private:
  static bool IsCommand(char c) {
    return c != '\0' && std::strchr("zmlchvsqtaZMLCHVSQTA", c) != nullptr;
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool Number(float& v) {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == ',')) ++pos_;
    const size_t start = pos_;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (IsDigit(c) || c == '.' || c == 'e' ||
          (c == '-' && (pos_ == start || s_[pos_ - 1] == 'e')))
        ++pos_;
      else
        break;
    }
    if (pos_ == start) return false;
    try {
      v = sgStrToFloat(std::string_view(s_).substr(start, pos_ - start));
    } catch (...) {
      return false;
    }
    return true;
  }

  bool Pair(TsgPoint& p) { return Number(p.X) && Number(p.Y); }

  // A further set of numbers follows: after blanks and commas, a character
  // that starts a number.
  bool More() const {
    size_t p = pos_;
    while (p < s_.size() && (s_[p] == ' ' || s_[p] == ',')) ++p;
    return p < s_.size() && (IsDigit(s_[p]) || s_[p] == '-' || s_[p] == '.');
  }

  void Execute(char c) {
    const bool rel = c >= 'a' && c <= 'z';
    TsgPoint a, b, d;
    float f = 0;
    switch (c) {
      case 'M':
      case 'm':
        if (!Pair(a)) return;
        rel ? path_.MoveToRel(a) : path_.MoveTo(a);
        while (More()) {
          if (!Pair(a)) return;
          rel ? path_.LineToRel(a) : path_.LineTo(a);
        }
        break;
      case 'L':
      case 'l':
        do {
          if (!Pair(a)) return;
          rel ? path_.LineToRel(a) : path_.LineTo(a);
        } while (More());
        break;
      case 'H':
      case 'h':
        if (Number(f)) rel ? path_.HLineToRel(f) : path_.HLineTo(f);
        break;
      case 'V':
      case 'v':
        if (Number(f)) rel ? path_.VLineToRel(f) : path_.VLineTo(f);
        break;
      case 'C':
      case 'c':
        do {
          if (!Pair(a) || !Pair(b) || !Pair(d)) return;
          rel ? path_.CurveToRel(a, b, d) : path_.CurveTo(a, b, d);
        } while (More());
        break;
      case 'S':
      case 's':
        do {
          if (!Pair(a) || !Pair(b)) return;
          rel ? path_.SmoothCurveToRel(a, b) : path_.SmoothCurveTo(a, b);
        } while (More());
        break;
      case 'Z':
      case 'z':
        path_.ClosePath();
        break;
      case 'Q':
      case 'q':
        // Quadratic curves are read past and add nothing.
        if (Pair(a)) Pair(b);
        break;
      case 'T':
      case 't':
        Pair(a);
        break;
      case 'A':
      case 'a': {
        TsgPoint flags;
        if (!Pair(a) || !Number(f) || !Pair(flags) || !Pair(d)) return;
        const TsgPoint from = path_.GetLastPoint();
        if (rel) d = {from.X + d.X, from.Y + d.Y};
        path_.AddArcSvg(from, a, f, flags.X != 0, flags.Y != 0, d);
        break;
      }
      default:
        break;
    }
  }

  TsgPathData& path_;
  std::string s_;
  size_t pos_ = 0;
};

}  // namespace

void TsgPathData::Add(int32_t kind, const TsgPoint& p) { points_.push_back({kind, p.X, p.Y}); }

void TsgPathData::Changed() {
  if (OnChange) OnChange(this);
}

TsgPoint TsgPathData::GetLastPoint() const {
  if (points_.empty()) return {0, 0};
  return {points_.back().X, points_.back().Y};
}

void TsgPathData::MoveTo(const TsgPoint& p) {
  Add(sgPathPointMoveTo, p);
  start_ = p;
}

void TsgPathData::MoveToRel(const TsgPoint& d) {
  const TsgPoint l = GetLastPoint();
  MoveTo({l.X + d.X, l.Y + d.Y});
}

void TsgPathData::LineTo(const TsgPoint& p) { Add(sgPathPointLineTo, p); }

void TsgPathData::LineToRel(const TsgPoint& d) {
  const TsgPoint l = GetLastPoint();
  LineTo({l.X + d.X, l.Y + d.Y});
}

void TsgPathData::HLineTo(float x) { LineTo({x, GetLastPoint().Y}); }
void TsgPathData::HLineToRel(float dx) { LineToRel({dx, 0}); }
void TsgPathData::VLineTo(float y) { LineTo({GetLastPoint().X, y}); }
void TsgPathData::VLineToRel(float dy) { LineToRel({0, dy}); }

void TsgPathData::CurveTo(const TsgPoint& c1, const TsgPoint& c2, const TsgPoint& end) {
  Add(sgPathPointCurveTo, c1);
  Add(sgPathPointCurveTo, c2);
  Add(sgPathPointCurveTo, end);
}

void TsgPathData::CurveToRel(const TsgPoint& c1, const TsgPoint& c2, const TsgPoint& end) {
  const TsgPoint l = GetLastPoint();
  CurveTo({l.X + c1.X, l.Y + c1.Y}, {l.X + c2.X, l.Y + c2.Y}, {l.X + end.X, l.Y + end.Y});
}

void TsgPathData::SmoothCurveTo(const TsgPoint& c2, const TsgPoint& end) {
  TsgPoint c1 = c2;
  if (points_.size() >= 3) {
    const TsgPathPoint& last = points_.back();
    const TsgPathPoint& prev = points_[points_.size() - 2];
    c1 = {last.X + (last.X - prev.X), last.Y + (last.Y - prev.Y)};
  }
  CurveTo(c1, c2, end);
}

void TsgPathData::SmoothCurveToRel(const TsgPoint& c2, const TsgPoint& end) {
  const TsgPoint l = GetLastPoint();
  SmoothCurveTo({l.X + c2.X, l.Y + c2.Y}, {l.X + end.X, l.Y + end.Y});
}

void TsgPathData::ClosePath() { Add(sgPathPointClose, start_); }

void TsgPathData::AddArc(const TsgPoint& center, const TsgPoint& radius, float startAngle,
                         float sweepAngle) {
  const std::vector<TsgPoint> pts =
      ArcPoints(center.X, center.Y, radius.X, radius.Y, double(startAngle) * kTwoPi / 360,
                double(sweepAngle) * kTwoPi / 360);
  if (pts.empty()) return;
  if (points_.empty())
    MoveTo(pts[0]);
  else
    LineTo(pts[0]);
  for (size_t i = 1; i + 2 < pts.size(); i += 3) CurveTo(pts[i], pts[i + 1], pts[i + 2]);
}

void TsgPathData::AddArcSvg(const TsgPoint& start, const TsgPoint& radius, float angle,
                            bool largeFlag, bool sweepFlag, const TsgPoint& end) {
  double rx = std::fabs(double(radius.X)), ry = std::fabs(double(radius.Y));
  const double x1 = start.X, y1 = start.Y, x2 = end.X, y2 = end.Y;
  // Coinciding end points draw nothing and a zero radius draws a straight
  // line, as in SVG; the centre formulas would divide by zero.
  if (x1 == x2 && y1 == y2) return;
  if (rx == 0 || ry == 0) {
    LineTo(end);
    return;
  }
  const double phi = double(angle) * kTwoPi / 360;
  const double cp = std::cos(phi), sp = std::sin(phi);
  const double dx2 = (x1 - x2) / 2, dy2 = (y1 - y2) / 2;
  const double x1p = cp * dx2 + sp * dy2;
  const double y1p = -sp * dx2 + cp * dy2;
  const double lambda = x1p * x1p / (rx * rx) + y1p * y1p / (ry * ry);
  if (lambda > 1) {
    rx *= std::sqrt(lambda);
    ry *= std::sqrt(lambda);
  }
  const double sign = largeFlag == sweepFlag ? -1 : 1;
  const double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
  const double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
  const double sq = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
  const double cxp = sign * sq * rx * y1p / ry;
  const double cyp = sign * sq * -ry * x1p / rx;
  const double cx = cp * cxp - sp * cyp + (x1 + x2) / 2;
  const double cy = sp * cxp + cp * cyp + (y1 + y2) / 2;
  const double ux = (x1p - cxp) / rx, uy = (y1p - cyp) / ry;
  const double vx = (-x1p - cxp) / rx, vy = (-y1p - cyp) / ry;
  const double theta1 = std::atan2(uy, ux);
  double dtheta = std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
  if (!sweepFlag && dtheta > 0) dtheta -= kTwoPi;
  if (sweepFlag && dtheta < 0) dtheta += kTwoPi;
  const std::vector<TsgPoint> pts = ArcPoints(0, 0, rx, ry, theta1, dtheta);
  for (size_t i = 1; i + 2 < pts.size(); i += 3) {
    TsgPoint q[3];
    for (int k = 0; k < 3; ++k) {
      const double px = pts[i + k].X, py = pts[i + k].Y;
      q[k] = {static_cast<float>(cx + px * cp - py * sp),
              static_cast<float>(cy + px * sp + py * cp)};
    }
    CurveTo(q[0], q[1], q[2]);
  }
}

void TsgPathData::Clear() {
  points_.clear();
  Changed();
}

TsgRect TsgPathData::GetBounds() const {
  if (points_.empty()) return {0, 0, 0, 0};
  TsgRect r{65535, 65535, -65535, -65535};
  for (const TsgPathPoint& p : points_) {
    if (p.Kind == sgPathPointClose) continue;
    r.Left = std::min(r.Left, p.X);
    r.Top = std::min(r.Top, p.Y);
    r.Right = std::max(r.Right, p.X);
    r.Bottom = std::max(r.Bottom, p.Y);
  }
  if (r.Right - r.Left == 0) r.Right = r.Left + 0.001f;
  if (r.Bottom - r.Top == 0) r.Bottom = r.Top + 0.001f;
  return r;
}

void TsgPathData::Scale(float sx, float sy) {
  for (TsgPathPoint& p : points_) {
    if (p.Kind == sgPathPointClose) continue;
    p.X *= sx;
    p.Y *= sy;
  }
}

void TsgPathData::FlattenToPolygon(TsgPolygon& polygon, TsgPoint& size, float flatness) const {
  polygon.clear();
  size = {0, 0};
  if (points_.empty()) return;
  const TsgRect b = GetBounds();
  const float scale = std::min(sgRectWidth(b) / 100, sgRectHeight(b) / 100);
  const float step = std::max(flatness * scale, 0.05f);
  TsgPoint start{0, 0}, cur{0, 0};
  for (size_t i = 0; i < points_.size(); ++i) {
    const TsgPathPoint& p = points_[i];
    switch (p.Kind) {
      case sgPathPointMoveTo:
        start = cur = {p.X, p.Y};
        polygon.push_back(cur);
        break;
      case sgPathPointLineTo:
        cur = {p.X, p.Y};
        polygon.push_back(cur);
        break;
      case sgPathPointCurveTo: {
        if (i + 2 >= points_.size()) {
          i = points_.size();
          break;
        }
        const TsgPathPoint& c1 = points_[i];
        const TsgPathPoint& c2 = points_[i + 1];
        const TsgPathPoint& e = points_[i + 2];
        const double dist = std::hypot(double(e.X) - c1.X, double(e.Y) - c1.Y);
        const double nf = std::round(dist / step);
        int n = nf < kMaxCurveSamples ? static_cast<int>(nf) : kMaxCurveSamples;
        if (n < 2) n = 2;
        const double cx = 3.0 * (c1.X - cur.X), bx = 3.0 * (c2.X - c1.X) - cx,
                     ax = double(e.X) - cur.X - cx - bx;
        const double cy = 3.0 * (c1.Y - cur.Y), by = 3.0 * (c2.Y - c1.Y) - cy,
                     ay = double(e.Y) - cur.Y - cy - by;
        for (int k = 0; k < n; ++k) {
          const double t = double(k) / (n - 1);
          polygon.push_back({static_cast<float>(((ax * t + bx) * t + cx) * t + cur.X),
                             static_cast<float>(((ay * t + by) * t + cy) * t + cur.Y)});
        }
        cur = {e.X, e.Y};
        i += 2;
        break;
      }
      case sgPathPointClose:
        polygon.push_back(start);
        polygon.push_back(ClosePolygon);
        break;
      default:
        break;
    }
  }
  size = {std::fabs(sgRectWidth(b)), std::fabs(sgRectHeight(b))};
}

std::string TsgPathData::GetData() const {
  std::string s;
  auto xy = [&](const TsgPathPoint& p) { s += sgFloatToStr(p.X) + "," + sgFloatToStr(p.Y) + " "; };
  for (size_t i = 0; i < points_.size(); ++i) {
    const TsgPathPoint& p = points_[i];
    switch (p.Kind) {
      case sgPathPointMoveTo:
        s += "M ";
        xy(p);
        break;
      case sgPathPointLineTo:
        s += "L ";
        xy(p);
        break;
      case sgPathPointCurveTo:
        if (i + 2 >= points_.size()) return s;
        s += "C ";
        xy(points_[i]);
        xy(points_[i + 1]);
        xy(points_[i + 2]);
        i += 2;
        break;
      case sgPathPointClose:
        s += "Z ";
        break;
      default:
        break;
    }
  }
  return s;
}

void TsgPathData::SetData(const std::string& text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (c != '\t' && c != '\n' && c != '\r') s += c;
  points_.clear();
  PathParser(*this, std::move(s)).Run();
  Changed();
}

void TsgPathData::ReadPath(TStream& stream) {
  points_.clear();
  const int64_t len = stream.Remaining();
  if (len < 4) return;
  std::vector<uint8_t> data(static_cast<size_t>(len));
  stream.ReadBuffer(data.data(), len);
  const int32_t n = static_cast<int32_t>(LoadLe32(data.data()));
  if (n < 1) return;
  const int64_t body = len - 4;
  const int64_t recordSize = body / n == 9 ? 9 : 12;
  // A count that claims more records than the data holds is refused whole.
  if (int64_t(n) * recordSize > body) return;
  std::vector<TsgPathPoint> raw(static_cast<size_t>(n));
  const uint8_t* p = data.data() + 4;
  for (TsgPathPoint& r : raw) {
    if (recordSize == 9) {
      r.Kind = p[0];
      r.X = LoadFloat(p + 1);
      r.Y = LoadFloat(p + 5);
    } else {
      r.Kind = static_cast<int32_t>(LoadLe32(p));
      r.X = LoadFloat(p + 4);
      r.Y = LoadFloat(p + 8);
    }
    p += recordSize;
  }
  // Curve points only ever come in threes and kinds are known: anything
  // else would send painting and the text form past the array.
  for (size_t i = 0; i < raw.size();) {
    const int32_t k = raw[i].Kind;
    if (k == sgPathPointCurveTo) {
      if (i + 2 < raw.size() && raw[i + 1].Kind == k && raw[i + 2].Kind == k) {
        points_.insert(points_.end(), raw.begin() + long(i), raw.begin() + long(i) + 3);
        i += 3;
      } else {
        while (i < raw.size() && raw[i].Kind == k) ++i;
      }
      continue;
    }
    if (k >= sgPathPointMoveTo && k <= sgPathPointClose) {
      points_.push_back(raw[i]);
      if (k == sgPathPointMoveTo) start_ = {raw[i].X, raw[i].Y};
    }
    ++i;
  }
}

void TsgPathData::WritePath(TStream& stream) const {
  std::vector<uint8_t> out(4 + points_.size() * 12);
  StoreLe32(out.data(), static_cast<uint32_t>(points_.size()));
  uint8_t* p = out.data() + 4;
  for (const TsgPathPoint& r : points_) {
    uint32_t x, y;
    std::memcpy(&x, &r.X, 4);
    std::memcpy(&y, &r.Y, 4);
    StoreLe32(p, static_cast<uint32_t>(r.Kind));
    StoreLe32(p + 4, x);
    StoreLe32(p + 8, y);
    p += 12;
  }
  stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

TsgPathData::~TsgPathData() {
  if (resource_) resource_->RemoveNotifyClient(this);
}

void TsgPathData::SetResource(TsgPathObject* obj) {
  if (obj == resource_) return;
  Link(obj);
  Changed();
}

void TsgPathData::Link(TsgPathObject* obj) {
  if (obj == resource_) return;
  if (resource_) resource_->RemoveNotifyClient(this);
  resource_ = obj;
  if (obj) {
    resourceName_ = obj->ResourceName();
    obj->AddNotifyClient(this);
  } else {
    resourceName_.clear();
  }
}

void TsgPathData::SetResourceName(const std::string& name) {
  if (name == resourceName_) return;
  resourceName_ = name;
  Changed();
}

TsgPathData* TsgPathData::GetResourcePath() {
  if (!resource_ && !resourceName_.empty()) {
    if (auto* obj = dynamic_cast<TsgPathObject*>(FindGlobalResource(resourceName_)))
      SetResource(obj);
  }
  return resource_ ? resource_->Path() : nullptr;
}

void TsgPathData::ObjectFreed(TsgObject* obj) {
  if (obj == resource_) resource_ = nullptr;
}

void TsgPathData::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TsgPathData*>(source)) {
    if (src == this) return;
    if (src->GetResourcePath()) {
      Link(src->resource_);
      resourceName_ = src->resourceName_;
      Changed();
      return;
    }
    points_ = src->points_;
    start_ = src->start_;
    resourceName_ = src->resourceName_;
    Changed();
    return;
  }
  TPersistent::Assign(source);
}

void TsgPathData::DefineProperties(TFiler& filer) {
  TPersistent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Path",
      [this](TStream& s) {
        ReadPath(s);
        Changed();
      },
      [this](TStream& s) { WritePath(s); }, !points_.empty());
}

}  // namespace kelm::scene
