// Easing functions of the animation engine: t time, b begin, c change,
// d duration (the engine passes b = 0, c = 1).
#include <cmath>

#include "scene/sg_types.h"

namespace kelm::scene {

namespace {
using AT = TsgAnimationType;
constexpr double kPi = 3.14159265358979323846;
}  // namespace

double sgInterpolateLinear(double t, double b, double c, double d, AT type) {
  switch (type) {
    case AT::sgAnimationIn:
    case AT::sgAnimationOut:
    case AT::sgAnimationInOut:
      return c * t / d + b;
  }
  return 0;
}

double sgInterpolateQuad(double t, double b, double c, double d, AT type) {
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return c * u * u + b;
    case AT::sgAnimationOut:
      return -c * u * (u - 2) + b;
    case AT::sgAnimationInOut: {
      if (v < 1) return c / 2 * v * v + b;
      double w = v - 1;
      return -c / 2 * (w * (w - 2) - 1) + b;
    }
  }
  return 0;
}

double sgInterpolateCubic(double t, double b, double c, double d, AT type) {
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return c * u * u * u + b;
    case AT::sgAnimationOut: {
      double w = u - 1;
      return c * (w * w * w + 1) + b;
    }
    case AT::sgAnimationInOut: {
      if (v < 1) return c / 2 * v * v * v + b;
      double w = v - 2;
      return c / 2 * (w * w * w + 2) + b;
    }
  }
  return 0;
}

double sgInterpolateQuart(double t, double b, double c, double d, AT type) {
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return c * u * u * u * u + b;
    case AT::sgAnimationOut: {
      double w = u - 1;
      return -c * (w * w * w * w - 1) + b;
    }
    case AT::sgAnimationInOut: {
      if (v < 1) return c / 2 * v * v * v * v + b;
      double w = v - 2;
      return -c / 2 * (w * w * w * w - 2) + b;
    }
  }
  return 0;
}

double sgInterpolateQuint(double t, double b, double c, double d, AT type) {
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return c * u * u * u * u * u + b;
    case AT::sgAnimationOut: {
      double w = u - 1;
      return c * (w * w * w * w * w + 1) + b;
    }
    case AT::sgAnimationInOut: {
      if (v < 1) return c / 2 * v * v * v * v * v + b;
      double w = v - 2;
      return c / 2 * (w * w * w * w * w + 2) + b;
    }
  }
  return 0;
}

double sgInterpolateSine(double t, double b, double c, double d, AT type) {
  double u = t / d;
  switch (type) {
    case AT::sgAnimationIn:
      return -c * std::cos(u * (kPi / 2)) + c + b;
    case AT::sgAnimationOut:
      return c * std::sin(u * (kPi / 2)) + b;
    case AT::sgAnimationInOut:
      return -c / 2 * (std::cos(kPi * u) - 1) + b;
  }
  return 0;
}

double sgInterpolateExpo(double t, double b, double c, double d, AT type) {
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return t == 0 ? b : c * std::pow(2, 10 * (u - 1)) + b;
    case AT::sgAnimationOut:
      return t == d ? b + c : c * (1 - std::pow(2, -10 * u)) + b;
    case AT::sgAnimationInOut:
      if (t == 0) return b;
      if (t == d) return b + c;
      if (v < 1) return c / 2 * std::pow(2, 10 * (v - 1)) + b;
      return c / 2 * (2 - std::pow(2, -10 * (v - 1))) + b;
  }
  return 0;
}

double sgInterpolateCirc(double t, double b, double c, double d, AT type) {
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return -c * (std::sqrt(1 - u * u) - 1) + b;
    case AT::sgAnimationOut: {
      double w = u - 1;
      return c * std::sqrt(1 - w * w) + b;
    }
    case AT::sgAnimationInOut: {
      if (v < 1) return -c / 2 * (std::sqrt(1 - v * v) - 1) + b;
      double w = v - 2;
      return c / 2 * (std::sqrt(1 - w * w) + 1) + b;
    }
  }
  return 0;
}

double sgInterpolateElastic(double t, double b, double c, double d, double a, double p, AT type) {
  if (type != AT::sgAnimationIn && type != AT::sgAnimationOut && type != AT::sgAnimationInOut)
    return 0;
  if (t == 0) return b;
  double u = t / d, v = t / (d / 2);
  if (type != AT::sgAnimationInOut && u == 1) return b + c;
  if (type == AT::sgAnimationInOut && v == 2) return b + c;
  if (p == 0) p = d * (type == AT::sgAnimationInOut ? 0.45 : 0.3);
  double s;
  if (a == 0 || a < std::fabs(c)) {
    a = c;
    s = p / 4;
  } else {
    s = p / (2 * kPi) * std::asin(c / a);
  }
  switch (type) {
    case AT::sgAnimationIn:
      return b - a * std::pow(2, 10 * (u - 1)) * std::sin((d * (u - 1) - s) * 2 * kPi / p);
    case AT::sgAnimationOut:
      return b + c + a * std::pow(2, -10 * u) * std::sin((d * u - s) * 2 * kPi / p);
    case AT::sgAnimationInOut: {
      double w = v - 1;
      if (v < 1) return b - 0.5 * a * std::pow(2, 10 * w) * std::sin((d * w - s) * 2 * kPi / p);
      return b + c + 0.5 * a * std::pow(2, -10 * w) * std::sin((d * w - s) * 2 * kPi / p);
    }
  }
  return 0;
}

double sgInterpolateBack(double t, double b, double c, double d, double s, AT type) {
  if (s == 0) s = 1.70158;
  double u = t / d, v = t / (d / 2);
  switch (type) {
    case AT::sgAnimationIn:
      return c * u * u * ((s + 1) * u - s) + b;
    case AT::sgAnimationOut: {
      double w = u - 1;
      return c * (w * w * ((s + 1) * w + s) + 1) + b;
    }
    case AT::sgAnimationInOut: {
      double s2 = s * 1.525;
      if (v < 1) return c / 2 * (v * v * ((s2 + 1) * v - s2)) + b;
      double w = v - 2;
      return c / 2 * (w * w * ((s2 + 1) * w + s2) + 2) + b;
    }
  }
  return 0;
}

namespace {
double BounceOut(double t, double b, double c, double d) {
  double u = t / d;
  if (u < 1 / 2.75) return c * (7.5625 * u * u) + b;
  // The second breakpoint is 1/1.36, not 2/2.75, as the curve was tuned.
  if (u < 0.7352941) {
    double w = u - 1.5 / 2.75;
    return c * (7.5625 * w * w + 0.75) + b;
  }
  if (u < 2.5 / 2.75) {
    double w = u - 2.25 / 2.75;
    return c * (7.5625 * w * w + 0.9375) + b;
  }
  double w = u - 2.625 / 2.75;
  return c * (7.5625 * w * w + 0.984375) + b;
}
double BounceIn(double t, double b, double c, double d) {
  return c - BounceOut(d - t, 0, c, d) + b;
}
}  // namespace

double sgInterpolateBounce(double t, double b, double c, double d, AT type) {
  switch (type) {
    case AT::sgAnimationIn:
      return BounceIn(t, b, c, d);
    case AT::sgAnimationOut:
      return BounceOut(t, b, c, d);
    case AT::sgAnimationInOut:
      if (t < d / 2) return BounceIn(t * 2, 0, c, d) * 0.5 + b;
      return BounceOut(t * 2 - d, 0, c, d) * 0.5 + c * 0.5 + b;
  }
  return 0;
}

double sgInterpolate(TsgInterpolationType kind, AT type, double t, double d) {
  using IT = TsgInterpolationType;
  switch (kind) {
    case IT::sgInterpolationLinear:
      return sgInterpolateLinear(t, 0, 1, d, type);
    case IT::sgInterpolationQuadratic:
      return sgInterpolateQuad(t, 0, 1, d, type);
    case IT::sgInterpolationCubic:
      return sgInterpolateCubic(t, 0, 1, d, type);
    case IT::sgInterpolationQuartic:
      return sgInterpolateQuart(t, 0, 1, d, type);
    case IT::sgInterpolationQuintic:
      return sgInterpolateQuint(t, 0, 1, d, type);
    case IT::sgInterpolationSinusoidal:
      return sgInterpolateSine(t, 0, 1, d, type);
    case IT::sgInterpolationExponential:
      return sgInterpolateExpo(t, 0, 1, d, type);
    case IT::sgInterpolationCircular:
      return sgInterpolateCirc(t, 0, 1, d, type);
    case IT::sgInterpolationElastic:
      return sgInterpolateElastic(t, 0, 1, d, 0, 0, type);
    case IT::sgInterpolationBack:
      return sgInterpolateBack(t, 0, 1, d, 0, type);
    case IT::sgInterpolationBounce:
      return sgInterpolateBounce(t, 0, 1, d, type);
  }
  return 0;
}

}  // namespace kelm::scene
