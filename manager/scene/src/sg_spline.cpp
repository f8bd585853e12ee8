// Natural cubic spline: knot derivatives from the tridiagonal system,
// solved by Cholesky factorisation.
#include "scene/sg_spline.h"

#include <cmath>

namespace kelm::scene {

TsgSpline::TsgSpline(const std::vector<TsgPoint>& points)
    : count_(static_cast<int>(points.size())) {
  if (count_ < 2) return;
  std::vector<double> xs, ys;
  for (const TsgPoint& p : points) {
    xs.push_back(p.X);
    ys.push_back(p.Y);
  }
  x_ = Build(xs);
  y_ = Build(ys);
}

std::vector<TsgSpline::Segment> TsgSpline::Build(const std::vector<double>& y) {
  const size_t n = y.size() - 1;
  // Right-hand side.
  std::vector<double> r(n + 1), diag(n + 1), off(n + 1, 0), D(n + 1);
  r[0] = 3 * (y[1] - y[0]);
  for (size_t i = 1; i < n; ++i) r[i] = 3 * (y[i + 1] - y[i - 1]);
  r[n] = 3 * (y[n] - y[n - 1]);
  // Cholesky of the matrix with diagonal 2, 4, ..., 4, 2 and off-diagonal 1:
  // diag[i] the factor's diagonal, off[i] = 1 / diag[i-1] below it.
  diag[0] = std::sqrt(2.0);
  for (size_t i = 1; i <= n; ++i) {
    off[i] = 1 / diag[i - 1];
    diag[i] = std::sqrt((i == n ? 2.0 : 4.0) - off[i] * off[i]);
  }
  // Forward (L z = r), then back (L^T D = z).
  std::vector<double> z(n + 1);
  z[0] = r[0] / diag[0];
  for (size_t i = 1; i <= n; ++i) z[i] = (r[i] - off[i] * z[i - 1]) / diag[i];
  D[n] = z[n] / diag[n];
  for (size_t i = n; i-- > 0;) D[i] = (z[i] - off[i + 1] * D[i + 1]) / diag[i];
  std::vector<Segment> s(n);
  for (size_t i = 0; i < n; ++i) {
    s[i].a = y[i];
    s[i].b = D[i];
    s[i].c = 3 * (y[i + 1] - y[i]) - 2 * D[i] - D[i + 1];
    s[i].d = 2 * (y[i] - y[i + 1]) + D[i] + D[i + 1];
  }
  return s;
}

double TsgSpline::Eval(const std::vector<Segment>& s, double t) {
  if (s.empty()) return 0;
  double ti = std::trunc(t);
  int last = static_cast<int>(s.size()) - 1;
  int i = !(ti > 0) ? 0 : (ti > last ? last : static_cast<int>(ti));
  double u = t - i;
  const Segment& g = s[static_cast<size_t>(i)];
  return g.a + u * (g.b + u * (g.c + u * g.d));
}

void TsgSpline::SplineXY(float t, float& x, float& y) const {
  x = static_cast<float>(Eval(x_, t));
  y = static_cast<float>(Eval(y_, t));
}

}  // namespace kelm::scene
