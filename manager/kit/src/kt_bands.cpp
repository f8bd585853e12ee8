#include "kit/kt_bands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kelm::kit {

namespace {

int MinimumSteps(uint8_t steps, int numerator) {
  int k = steps;
  if (k > 8) k = numerator / k + 1;
  return std::max(k - 1, 0) + 1;
}

int32_t Channel(uint32_t rgb, int i) { return static_cast<int32_t>((rgb >> (8 * i)) & 0xFF); }

}  // namespace

int MinimumBandSteps(uint8_t steps) { return MinimumSteps(steps, 255); }
int MinimumBoxBandSteps(uint8_t steps) { return MinimumSteps(steps, 256); }

TKtColorStepper::TKtColorStepper(uint32_t fromRgb, uint32_t toRgb, int32_t span) {
  for (int i = 0; i < 3; ++i) {
    acc_[i] = Channel(fromRgb, i) << 16;
    inc_[i] = span > 0 ? ((Channel(toRgb, i) << 16) - acc_[i]) / span : 0;
  }
}

void TKtColorStepper::Step() {
  for (int i = 0; i < 3; ++i) acc_[i] += inc_[i];
}

TColor TKtColorStepper::Current() const {
  // A band may take a step or two past its span; the colour stays a colour.
  auto byte = [](int32_t acc) { return static_cast<uint8_t>(std::clamp(acc >> 16, 0, 255)); };
  return MakeRgb(byte(acc_[0]), byte(acc_[1]), byte(acc_[2]));
}

std::vector<TKtRectBand> LinearBands(int splitX, int splitY, int size, uint32_t startRgb,
                                     uint32_t stopRgb, uint8_t steps) {
  const bool horizontal = splitX != 0;
  const int split = horizontal ? splitX : splitY;
  const int minSteps = MinimumBandSteps(steps);
  std::vector<TKtRectBand> bands;
  // Positions count from 1; position p is pixel p - 1. A pass walks down
  // from p to lower, stepping from one colour toward the other.
  auto pass = [&](int p, int lower, uint32_t from, uint32_t to) {
    const int span = p - lower + 1;
    if (span <= 0) return;
    TKtColorStepper stepper(from, to, span);
    while (p >= lower) {
      const TColor color = stepper.Current();
      const int high = p;
      int n = 0;
      do {
        stepper.Step();
        --p;
        ++n;
      } while (p >= lower && (n < minSteps || stepper.Current() == color));
      // The band holds positions high .. p + 1, that is pixels p .. high - 1.
      const TKtRect r = horizontal ? TKtRect{p, 0, high, 8} : TKtRect{0, p, 8, high};
      bands.push_back({r, color, n});
    }
  };
  if (split < 0) {
    pass(size, 1, stopRgb, startRgb);
  } else {
    pass(split + 1, 1, stopRgb, startRgb);
    pass(size, split + 2, startRgb, stopRgb);
  }
  return bands;
}

std::vector<TKtRectBand> BoxBands(int width, int height, int xInset, int yInset, uint32_t startRgb,
                                  uint32_t stopRgb, uint8_t steps) {
  std::vector<TKtRectBand> bands;
  if (startRgb == stopRgb || width < 5 || height <= 4) {
    bands.push_back({TKtRect{0, 0, width + 1, height + 1}, static_cast<TColor>(startRgb), 0});
    return bands;
  }
  const int minSteps = MinimumBoxBandSteps(steps);
  const int hw = (width - 1) >> 1;
  const int hh = (height - 1) >> 1;
  const int x0 = hw - xInset;
  const int y0 = hh - yInset;
  const int n = std::max(x0, y0) + 1;
  int32_t x = x0 * 65536;
  int32_t y = y0 * 65536;
  const int32_t dx = x / n;
  const int32_t dy = y / n;
  // An axis that does not move (its start at 0) counts as done, or the loop
  // would never end.
  auto done = [&] { return (x < 0 || dx <= 0) && (y < 0 || dy <= 0); };
  TKtColorStepper stepper(stopRgb, startRgb, n);
  int prevX = hw + 1;
  int prevY = hh + 1;
  bool finished = false;
  while (!finished) {
    const TColor color = stepper.Current();
    int count = 0;
    do {
      x -= dx;
      y -= dy;
      stepper.Step();
      ++count;
      finished = done();
    } while (!finished && (count < minSteps || stepper.Current() == color));
    const int px = std::max(x >> 16, 0);
    const int py = std::max(y >> 16, 0);
    const TKtRect across{px, py, hw + 1, prevY};
    const TKtRect down{px, prevY, prevX, hh + 1};
    if (!across.Empty()) bands.push_back({across, color, count});
    if (!down.Empty()) bands.push_back({down, color, count});
    prevX = px;
    prevY = py;
  }
  return bands;
}

std::vector<TKtPolygonBand> DiagonalBands(int width, int height, uint32_t startRgb,
                                          uint32_t stopRgb, uint8_t steps) {
  // The sweeps end when y falls below 0: without a positive height y would
  // never fall, and there is nothing to paint.
  if (height <= 0) return {};
  const int minSteps = MinimumBandSteps(steps);
  const int aw = std::abs(width);
  const int n = static_cast<int>(std::sqrt(static_cast<double>(aw) * aw +
                                           static_cast<double>(height) * height)) +
                1;
  const int half = std::max(n / 2, 1);
  const int startEdge = width > 0 ? 0 : aw;
  const int farEdge = width > 0 ? aw : 0;
  TKtColorStepper stepper(width > 0 ? startRgb : stopRgb, width > 0 ? stopRgb : startRgb, n);
  const int32_t dx = static_cast<int32_t>(static_cast<int64_t>(width) * 65536 / half);
  const int32_t dy = static_cast<int32_t>(static_cast<int64_t>(height) * 65536 / half);
  std::vector<TKtPolygonBand> bands;

  // Each sweep moves a line across the box: the first from the bottom
  // corner on the start edge up to the diagonal, the second from there to
  // the opposite corner. make(x, y, prevX, prevY) gives a band's points.
  auto sweep = [&](auto make) {
    int32_t x = startEdge * 65536;
    int32_t y = height * 65536;
    int prevX = startEdge;
    int prevY = height;
    for (;;) {
      const TColor color = stepper.Current();
      int count = 0;
      do {
        x += dx;
        y -= dy;
        stepper.Step();
        ++count;
      } while (y >= 0 && (count < minSteps || stepper.Current() == color));
      if (y < 0) {
        bands.push_back(make(farEdge, -1, prevX, prevY, color, count));
        return;
      }
      const int px = x >> 16;
      const int py = y >> 16;
      if (py != prevY || px != prevX) {
        bands.push_back(make(px, py, prevX, prevY, color, count));
        prevX = px;
        prevY = py;
      }
    }
  };
  // y < 0 marks the closing band, which reaches the sweep's far corner.
  sweep([&](int px, int py, int prevX, int prevY, TColor color, int count) {
    TKtPolygonBand b;
    if (py < 0) {
      b.points[0] = {startEdge, 0};
      b.points[3] = {farEdge, height};
    } else {
      b.points[0] = {startEdge, py};
      b.points[3] = {px, height};
    }
    b.points[1] = {startEdge, prevY};
    b.points[2] = {prevX, height};
    b.color = color;
    b.steps = count;
    return b;
  });
  sweep([&](int px, int py, int prevX, int prevY, TColor color, int count) {
    TKtPolygonBand b;
    b.points[0] = {px, 0};
    b.points[1] = {prevX, 0};
    b.points[2] = {farEdge, prevY};
    b.points[3] = {farEdge, py < 0 ? 0 : py};
    b.color = color;
    b.steps = count;
    return b;
  });
  return bands;
}

}  // namespace kelm::kit
