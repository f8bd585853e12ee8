// The in-place blur that every effect builds on. The triangular kernel of
// width 2r + 1 is the convolution of two boxes of width r + 1, so each line
// is summed with two running sums: the same integer sums as weighting every
// neighbour, in time independent of the radius.
#include <cstdint>
#include <vector>

#include "scene/sg_bitmap.h"
#include "scene/sg_effects.h"

namespace kelm::scene {

namespace {

// Exact v / d for 0 <= v < 2^24 and 1 <= d < 2^16: the reciprocal is
// rounded up with enough bits that the error stays below 1 / d.
struct Divider {
  explicit Divider(uint32_t d) : mul((uint64_t{1} << 40) / d + 1) {}
  uint32_t operator()(uint32_t v) const { return static_cast<uint32_t>((v * mul) >> 40); }
  uint64_t mul;
};

// Plain division, for radii whose sums outgrow the fast divider.
struct WideDivider {
  explicit WideDivider(uint64_t divisor) : d(divisor) {}
  uint32_t operator()(uint64_t v) const { return static_cast<uint32_t>(v / d); }
  uint64_t d;
};

template <typename Sum, typename Div>
class LineBlur {
 public:
  LineBlur(int radius, bool blurAlpha)
      : r_(radius), div_(Sum(radius + 1) * Sum(radius + 1)), alpha_(blurAlpha) {}

  // Blurs n pixels that lie stride apart.
  void Run(uint32_t* px, int n, std::ptrdiff_t stride) {
    const int r = r_;
    auto at = [&](int x) -> uint32_t {
      x = x < 0 ? 0 : (x >= n ? n - 1 : x);
      return px[x * stride];
    };
    // box[t] = the sum of pixels x .. x + r for x = t - r (clamped indexes).
    box_.assign(size_t(n + r) * 4, 0);
    Sum s[4] = {0, 0, 0, 0};
    for (int k = 0; k <= r; ++k) Add(s, at(-r + k));
    for (int t = 0; t < n + r; ++t) {
      for (int c = 0; c < 4; ++c) box_[size_t(t) * 4 + size_t(c)] = s[c];
      const int x = t - r;
      Sub(s, at(x));
      Add(s, at(x + r + 1));
    }
    // tri(x) = box(x - r) + ... + box(x): the triangular weights.
    Sum tri[4] = {0, 0, 0, 0};
    for (int t = 0; t <= r; ++t)
      for (int c = 0; c < 4; ++c) tri[c] += box_[size_t(t) * 4 + size_t(c)];
    for (int x = 0; x < n; ++x) {
      uint32_t& p = px[x * stride];
      uint32_t out = 0;
      for (int c = 0; c < 4; ++c) out |= div_(tri[c]) << (8 * c);
      p = alpha_ ? out : (out & 0x00FFFFFFu) | (p & 0xFF000000u);
      if (x + 1 < n)
        for (int c = 0; c < 4; ++c)
          tri[c] += box_[size_t(x + 1 + r) * 4 + size_t(c)] - box_[size_t(x) * 4 + size_t(c)];
    }
  }

 private:
  static void Add(Sum* s, uint32_t p) {
    for (int c = 0; c < 4; ++c) s[c] += (p >> (8 * c)) & 0xFF;
  }
  static void Sub(Sum* s, uint32_t p) {
    for (int c = 0; c < 4; ++c) s[c] -= (p >> (8 * c)) & 0xFF;
  }
  int r_;
  Div div_;
  bool alpha_;
  std::vector<Sum> box_;
};

template <typename Sum, typename Div>
void BlurPlanes(uint32_t* bits, int w, int h, int radius, bool blurAlpha) {
  LineBlur<Sum, Div> blur(radius, blurAlpha);
  for (int y = 0; y < h; ++y) blur.Run(bits + std::ptrdiff_t(y) * w, w, 1);
  for (int x = 0; x < w; ++x) blur.Run(bits + x, h, w);
}

}  // namespace

void sgStackBlur(TsgBitmap& bitmap, int radius, bool blurAlpha) {
  const int w = bitmap.Width(), h = bitmap.Height();
  uint32_t* bits = bitmap.Bits();
  if (radius <= 0 || !bits || w <= 0 || h <= 0) return;
  // Work buffers grow with the radius; past this one they would not fit.
  if (radius > 65535) radius = 65535;
  // The fast divider needs 255 x (r + 1)^2 < 2^24, true up to radius 254.
  if (radius <= 254)
    BlurPlanes<uint32_t, Divider>(bits, w, h, radius, blurAlpha);
  else
    BlurPlanes<uint64_t, WideDivider>(bits, w, h, radius, blurAlpha);
  bitmap.NeedUpdate = true;
  bitmap.BitmapChanged();
}

}  // namespace kelm::scene
