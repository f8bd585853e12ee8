// A natural cubic spline through points at parameters 0, 1, 2, ...
#pragma once

#include <vector>

#include "scene/sg_types.h"

namespace kelm::scene {

class TsgSpline {
 public:
  // Fewer than two points: no segments; evaluation gives 0.
  explicit TsgSpline(const std::vector<TsgPoint>& points);
  int PointCount() const { return count_; }
  // Outside 0..N-1 the first or last segment is extrapolated.
  void SplineXY(float t, float& x, float& y) const;

 private:
  struct Segment {
    double a, b, c, d;
  };
  static std::vector<Segment> Build(const std::vector<double>& y);
  static double Eval(const std::vector<Segment>& s, double t);
  int count_ = 0;
  std::vector<Segment> x_, y_;
};

}  // namespace kelm::scene
