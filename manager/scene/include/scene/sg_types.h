// The scene's plain value types and the free functions over them: points,
// rectangles, vectors, 3x3 matrices, ARGB colours, their text forms, the
// two token readers, the translation point, pixel-buffer helpers and the
// easing functions of the animation engine. All free functions, no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::scene {

struct TsgPoint {
  float X = 0, Y = 0;
};

// Not kept normalised: functions that need order normalise explicitly.
struct TsgRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// A point in homogeneous form (W is 1 for points produced here).
struct TsgVector {
  float X = 0, Y = 0, W = 0;
};

// Row order; points are row vectors multiplied on the left, so the
// translation lives in m31, m32.
struct TsgMatrix {
  float m11 = 0, m12 = 0, m13 = 0;
  float m21 = 0, m22 = 0, m23 = 0;
  float m31 = 0, m32 = 0, m33 = 0;
};

// Alpha in bits 24-31, red 16-23, green 8-15, blue 0-7; straight unless a
// function says otherwise.
using TsgColor = uint32_t;

static_assert(sizeof(TsgPoint) == 8 && sizeof(TsgRect) == 16 && sizeof(TsgVector) == 12);
static_assert(sizeof(TsgMatrix) == 36);

constexpr float sgPi = 3.1415927f;
constexpr float sgDegToRadFactor = 0.017453292f;
constexpr float sgRadToDegFactor = 57.29578f;
constexpr float sgInv360 = 0.0027777778f;
constexpr float sg180 = 180.0f;
constexpr float sg360 = 360.0f;
// The smallest determinant for which a matrix is inverted.
constexpr float Epsilon = 1e-40f;

extern const TsgMatrix IdentityMatrix;

// Polygons are plain point arrays; this point inside one closes the figure
// so far and starts the next.
using TsgPolygon = std::vector<TsgPoint>;
constexpr TsgPoint ClosePolygon{65535.0f, 65535.0f};
inline bool sgIsClosePolygon(const TsgPoint& p) {
  return p.X == ClosePolygon.X && p.Y == ClosePolygon.Y;
}

// ---- points, rectangles and floats
TsgPoint sgPoint(float x, float y);
TsgRect sgRect(float left, float top, float right, float bottom);
float sgRectWidth(const TsgRect& r);
float sgRectHeight(const TsgRect& r);
TsgRect sgOffsetRect(TsgRect& r, float dx, float dy);
TsgRect sgInflateRect(TsgRect& r, float dx, float dy);
void sgMultiplyRect(TsgRect& r, float sx, float sy);
TsgRect sgUnionRect(const TsgRect& a, const TsgRect& b);
// Strict: rectangles that only touch do not intersect (r all zero then).
bool sgIntersectRect(TsgRect& r, const TsgRect& a, const TsgRect& b);
// Touching edges count as overlapping.
bool sgRectsIntersect(const TsgRect& a, const TsgRect& b);
bool sgPtInRect(const TsgPoint& p, const TsgRect& r);
bool sgIsRectEmpty(const TsgRect& r);
TsgRect sgCenterRect(TsgRect& r, const TsgRect& bounds);
float sgFitRect(TsgRect& r, const TsgRect& bounds);
// Over points[0..n]; n = -1 gives the starting rectangle (61440, 61440, -61440, -61440).
TsgRect sgBoundsOfPoints(const TsgPoint* points, int n);
TsgRect sgNormalizeRect(const TsgRect& r);
float sgMinFloat(float a, float b);
float sgMaxFloat(float a, float b);
float sgInterpolateFloat(float start, float stop, float t);

// ---- vectors and matrices
TsgVector sgVector(float x, float y, float w);
TsgVector sgVectorFromPoint(const TsgPoint& p, float w);
TsgPoint sgPointFromVector(const TsgVector& v);
TsgVector sgVectorTransform(const TsgVector& v, const TsgMatrix& m);
TsgVector sgVectorSubtract(const TsgVector& a, const TsgVector& b);
float sgVectorNormSquare(const TsgVector& v);
float sgVectorLength(const TsgVector& v);
float sgVectorDot(const TsgVector& a, const TsgVector& b);
float sgVectorCross(const TsgVector& a, const TsgVector& b);
float sgVectorCosAngle(const TsgVector& a, const TsgVector& b);
float sgVectorAngle(const TsgVector& a, const TsgVector& b);
TsgMatrix sgMatrixMultiply(const TsgMatrix& a, const TsgMatrix& b);
float sgMatrixDeterminant(const TsgMatrix& m);
void sgMatrixAdjoint(TsgMatrix& m);
void sgMatrixScale(TsgMatrix& m, float factor);
void sgInvertMatrix(TsgMatrix& m);
TsgMatrix sgCreateRotationMatrix(float angle);
void sgSinCos(float angle, float& sine, float& cosine);
float sgDegToRad(float degrees);
float sgRadToDeg(float radians);
float sgNormalizeAngle(float degrees);

// ---- colours
TsgColor sgMakeColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
TsgColor sgColorToNative(TsgColor c);
TsgColor sgPremultiplyAlpha(TsgColor c);
TsgColor sgUnpremultiplyAlpha(TsgColor c);
TsgColor sgOpacityColor(TsgColor c, float opacity);
TsgColor sgInterpolateColor(TsgColor start, TsgColor stop, float t);
void sgRGBtoHSL(TsgColor c, float& h, float& s, float& l);
TsgColor sgHSLtoRGB(float h, float s, float l);
TsgColor sgChangeHSL(TsgColor c, float dH, float dS, float dL);
std::string sgColorToStr(TsgColor c);
TsgColor sgStrToColor(std::string_view text);

struct TsgColorName {
  const char* Name;
  const char* Value;
};
constexpr int sgColorNameCount = 147;
extern const TsgColorName sgColorNames[sgColorNameCount];

// ---- text forms of numbers and geometry ("." whatever the locale)
std::string sgFloatToStr(float v);
// Raises the class library's EConvertError on text that is not a number.
float sgStrToFloat(std::string_view text);
std::string sgPointToStr(const TsgPoint& p);
TsgPoint sgStrToPoint(std::string_view text);
std::string sgRectToStr(const TsgRect& r);
TsgRect sgStrToRect(std::string_view text);

// ---- token readers
std::string sgGetToken(std::string& s, std::string_view separators, std::string_view stop);
// pos is 1-based.
std::u16string sgReadToken(std::u16string_view s, int& pos, std::u16string_view separators,
                           std::u16string_view stop);

// The single translation point of the library's user-interface texts.
std::u16string sgTranslate(std::u16string_view text);

// ---- pixel-buffer helpers (32-bit pixels)
void sgMoveLongs(const uint32_t* source, uint32_t* destination, int count);
uint32_t* sgFillLongs(uint32_t* destination, int count, uint32_t value);
void sgFillAlpha(uint32_t* pixels, int count, uint8_t alpha);
void sgFillLongsRect(uint32_t* buffer, int width, int height, int left, int top, int right,
                     int bottom, uint32_t value);
// 0 when equal, 1 when a < b, -1 when a > b.
int sgCompareInt(int32_t a, int32_t b);

// ---- easing
enum class TsgAnimationType { sgAnimationIn, sgAnimationOut, sgAnimationInOut };
enum class TsgInterpolationType {
  sgInterpolationLinear,
  sgInterpolationQuadratic,
  sgInterpolationCubic,
  sgInterpolationQuartic,
  sgInterpolationQuintic,
  sgInterpolationSinusoidal,
  sgInterpolationExponential,
  sgInterpolationCircular,
  sgInterpolationElastic,
  sgInterpolationBack,
  sgInterpolationBounce
};

double sgInterpolateLinear(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateQuad(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateCubic(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateQuart(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateQuint(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateSine(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateExpo(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateCirc(double t, double b, double c, double d, TsgAnimationType type);
double sgInterpolateElastic(double t, double b, double c, double d, double a, double p,
                            TsgAnimationType type);
double sgInterpolateBack(double t, double b, double c, double d, double s, TsgAnimationType type);
double sgInterpolateBounce(double t, double b, double c, double d, TsgAnimationType type);
// The engine's call: b = 0, c = 1, d = duration, a = p = s = 0.
double sgInterpolate(TsgInterpolationType kind, TsgAnimationType type, double t, double duration);

}  // namespace kelm::scene
