// Points, rectangles, vectors and matrices.
#include <cmath>
#include <cstring>

#include "scene/sg_types.h"

namespace kelm::scene {

namespace {
// Halves to the even neighbour (the default rounding mode); no exception
// for values beyond the integers.
float RoundEven(float v) { return static_cast<float>(std::nearbyint(static_cast<double>(v))); }
}  // namespace

const TsgMatrix IdentityMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1};

TsgPoint sgPoint(float x, float y) { return {x, y}; }
TsgRect sgRect(float left, float top, float right, float bottom) {
  return {left, top, right, bottom};
}
float sgRectWidth(const TsgRect& r) { return r.Right - r.Left; }
float sgRectHeight(const TsgRect& r) { return r.Bottom - r.Top; }

TsgRect sgOffsetRect(TsgRect& r, float dx, float dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
  return r;
}

TsgRect sgInflateRect(TsgRect& r, float dx, float dy) {
  r.Left -= dx;
  r.Top -= dy;
  r.Right += dx;
  r.Bottom += dy;
  return r;
}

void sgMultiplyRect(TsgRect& r, float sx, float sy) {
  r.Left *= sx;
  r.Right *= sx;
  r.Top *= sy;
  r.Bottom *= sy;
}

TsgRect sgUnionRect(const TsgRect& a, const TsgRect& b) {
  return {sgMinFloat(a.Left, b.Left), sgMinFloat(a.Top, b.Top), sgMaxFloat(a.Right, b.Right),
          sgMaxFloat(a.Bottom, b.Bottom)};
}

bool sgIntersectRect(TsgRect& r, const TsgRect& a, const TsgRect& b) {
  if (b.Left < a.Right && b.Right > a.Left && b.Top < a.Bottom && b.Bottom > a.Top) {
    r = {sgMaxFloat(a.Left, b.Left), sgMaxFloat(a.Top, b.Top), sgMinFloat(a.Right, b.Right),
         sgMinFloat(a.Bottom, b.Bottom)};
    return true;
  }
  r = {};
  return false;
}

bool sgRectsIntersect(const TsgRect& a, const TsgRect& b) {
  return !(a.Left > b.Right || a.Right < b.Left || a.Top > b.Bottom || a.Bottom < b.Top);
}

bool sgPtInRect(const TsgPoint& p, const TsgRect& r) {
  return r.Left <= p.X && p.X <= r.Right && r.Top <= p.Y && p.Y <= r.Bottom;
}

bool sgIsRectEmpty(const TsgRect& r) { return !(sgRectWidth(r) > 0 && sgRectHeight(r) > 0); }

TsgRect sgCenterRect(TsgRect& r, const TsgRect& bounds) {
  sgOffsetRect(r, -r.Left, -r.Top);
  sgOffsetRect(r, RoundEven((sgRectWidth(bounds) - sgRectWidth(r)) / 2),
               RoundEven((sgRectHeight(bounds) - sgRectHeight(r)) / 2));
  sgOffsetRect(r, bounds.Left, bounds.Top);
  return r;
}

float sgFitRect(TsgRect& r, const TsgRect& bounds) {
  float bw = sgRectWidth(bounds), bh = sgRectHeight(bounds);
  if (bw * bh == 0) return 1;
  float ratio = sgMaxFloat(sgRectWidth(r) / bw, sgRectHeight(r) / bh);
  if (ratio >= 1)
    r = {0, 0, RoundEven(sgRectWidth(r) / ratio), RoundEven(sgRectHeight(r) / ratio)};
  else
    r = {0, 0, sgRectWidth(r), sgRectHeight(r)};
  sgCenterRect(r, bounds);
  return ratio;
}

TsgRect sgBoundsOfPoints(const TsgPoint* points, int n) {
  TsgRect r{61440, 61440, -61440, -61440};
  for (int i = 0; i <= n; ++i) {
    const TsgPoint& p = points[i];
    if (p.X < r.Left) r.Left = p.X;
    if (p.Y < r.Top) r.Top = p.Y;
    if (p.X > r.Right) r.Right = p.X;
    if (p.Y > r.Bottom) r.Bottom = p.Y;
  }
  return r;
}

TsgRect sgNormalizeRect(const TsgRect& r) {
  const TsgPoint corners[4] = {
      {r.Left, r.Top}, {r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}};
  return sgBoundsOfPoints(corners, 3);
}

float sgMinFloat(float a, float b) { return b < a ? b : a; }
float sgMaxFloat(float a, float b) { return b > a ? b : a; }
float sgInterpolateFloat(float start, float stop, float t) { return start + (stop - start) * t; }

// ---- vectors
TsgVector sgVector(float x, float y, float w) { return {x, y, w}; }
TsgVector sgVectorFromPoint(const TsgPoint& p, float w) { return {p.X, p.Y, w}; }
TsgPoint sgPointFromVector(const TsgVector& v) { return {v.X, v.Y}; }

TsgVector sgVectorTransform(const TsgVector& v, const TsgMatrix& m) {
  return {v.X * m.m11 + v.Y * m.m21 + v.W * m.m31, v.X * m.m12 + v.Y * m.m22 + v.W * m.m32, 1};
}

TsgVector sgVectorSubtract(const TsgVector& a, const TsgVector& b) {
  return {a.X - b.X, a.Y - b.Y, 1};
}
float sgVectorNormSquare(const TsgVector& v) { return v.X * v.X + v.Y * v.Y; }
float sgVectorLength(const TsgVector& v) { return std::sqrt(sgVectorNormSquare(v)); }
float sgVectorDot(const TsgVector& a, const TsgVector& b) { return a.X * b.X + a.Y * b.Y; }
float sgVectorCross(const TsgVector& a, const TsgVector& b) { return a.X * b.Y - a.Y * b.X; }

float sgVectorCosAngle(const TsgVector& a, const TsgVector& b) {
  float la = sgVectorLength(a), lb = sgVectorLength(b);
  if (la == 0 || lb == 0) return 0;
  float c = sgVectorDot(a, b) / (la * lb);
  return c > 1 ? 1 : c;
}

float sgVectorAngle(const TsgVector& a, const TsgVector& b) {
  // The cap keeps acos defined; below -1 rounding cannot reach in practice,
  // but a NaN-free result matters more than the last bit.
  float c = sgVectorCosAngle(a, b);
  if (c < -1) c = -1;
  float angle = sgRadToDeg(std::acos(c));
  if (sgVectorCross(a, b) >= 0) angle = -angle;
  return angle;
}

// ---- matrices
TsgMatrix sgMatrixMultiply(const TsgMatrix& a, const TsgMatrix& b) {
  TsgMatrix r;
  r.m11 = a.m11 * b.m11 + a.m12 * b.m21 + a.m13 * b.m31;
  r.m12 = a.m11 * b.m12 + a.m12 * b.m22 + a.m13 * b.m32;
  r.m13 = a.m11 * b.m13 + a.m12 * b.m23 + a.m13 * b.m33;
  r.m21 = a.m21 * b.m11 + a.m22 * b.m21 + a.m23 * b.m31;
  r.m22 = a.m21 * b.m12 + a.m22 * b.m22 + a.m23 * b.m32;
  r.m23 = a.m21 * b.m13 + a.m22 * b.m23 + a.m23 * b.m33;
  r.m31 = a.m31 * b.m11 + a.m32 * b.m21 + a.m33 * b.m31;
  r.m32 = a.m31 * b.m12 + a.m32 * b.m22 + a.m33 * b.m32;
  r.m33 = a.m31 * b.m13 + a.m32 * b.m23 + a.m33 * b.m33;
  return r;
}

float sgMatrixDeterminant(const TsgMatrix& m) {
  return m.m11 * (m.m22 * m.m33 - m.m23 * m.m32) - m.m12 * (m.m21 * m.m33 - m.m23 * m.m31) +
         m.m13 * (m.m21 * m.m32 - m.m22 * m.m31);
}

void sgMatrixAdjoint(TsgMatrix& m) {
  const TsgMatrix a = m;
  m.m11 = a.m22 * a.m33 - a.m23 * a.m32;
  m.m12 = -(a.m12 * a.m33 - a.m13 * a.m32);
  m.m13 = a.m12 * a.m23 - a.m13 * a.m22;
  m.m21 = -(a.m21 * a.m33 - a.m23 * a.m31);
  m.m22 = a.m11 * a.m33 - a.m13 * a.m31;
  m.m23 = -(a.m11 * a.m23 - a.m13 * a.m21);
  m.m31 = a.m21 * a.m32 - a.m22 * a.m31;
  m.m32 = -(a.m11 * a.m32 - a.m12 * a.m31);
  m.m33 = a.m11 * a.m22 - a.m12 * a.m21;
}

void sgMatrixScale(TsgMatrix& m, float f) {
  for (float* p : {&m.m11, &m.m12, &m.m13, &m.m21, &m.m22, &m.m23, &m.m31, &m.m32, &m.m33}) *p *= f;
}

void sgInvertMatrix(TsgMatrix& m) {
  float d = sgMatrixDeterminant(m);
  if (std::fabs(d) >= Epsilon) {
    sgMatrixAdjoint(m);
    sgMatrixScale(m, 1 / d);
  } else {
    m = IdentityMatrix;
  }
}

TsgMatrix sgCreateRotationMatrix(float angle) {
  float s, c;
  sgSinCos(angle, s, c);
  return {c, s, 0, -s, c, 0, 0, 0, 1};
}

void sgSinCos(float angle, float& sine, float& cosine) {
  sine = std::sin(angle);
  cosine = std::cos(angle);
}

float sgDegToRad(float degrees) { return degrees * sgDegToRadFactor; }
float sgRadToDeg(float radians) { return radians * sgRadToDegFactor; }

float sgNormalizeAngle(float a) {
  float r = a - std::trunc(a * sgInv360) * sg360;
  if (r < -sg180) r += sg360;
  return r;
}

// ---- pixel buffers
void sgMoveLongs(const uint32_t* source, uint32_t* destination, int count) {
  if (count > 0) std::memmove(destination, source, static_cast<size_t>(count) * 4);
}

uint32_t* sgFillLongs(uint32_t* destination, int count, uint32_t value) {
  for (int i = 0; i < count; ++i) destination[i] = value;
  return destination;
}

void sgFillAlpha(uint32_t* pixels, int count, uint8_t alpha) {
  for (int i = 0; i < count; ++i)
    pixels[i] = (pixels[i] & 0x00FFFFFFu) | (static_cast<uint32_t>(alpha) << 24);
}

void sgFillLongsRect(uint32_t* buffer, int width, int height, int left, int top, int right,
                     int bottom, uint32_t value) {
  if (bottom > height) bottom = height;
  if (right > width) right = width;
  if (top > bottom) top = bottom;
  if (bottom <= top) return;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) buffer[static_cast<size_t>(y) * width + x] = value;
}

int sgCompareInt(int32_t a, int32_t b) {
  if (a == b) return 0;
  return a < b ? 1 : -1;
}

}  // namespace kelm::scene
