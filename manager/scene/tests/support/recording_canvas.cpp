// The recording canvas back end.
#include "recording_canvas.h"

#include "classlib/classdef.h"

namespace kelm::test {

using namespace scene;

CL_CLASS(TRecordingCanvas) {}

namespace {
std::string Op(float opacity) { return opacity == 1 ? "" : " @" + sgFloatToStr(opacity); }
}  // namespace

TRecordingCanvas::TRecordingCanvas(int width, int height) : TsgCanvas(width, height) {}
TRecordingCanvas::TRecordingCanvas(TsgBitmap* bitmap) : TsgCanvas(bitmap) {}

void TRecordingCanvas::FlushBuffer(int x, int y, TsgDeviceContext) {
  Calls.push_back("FlushBuffer " + std::to_string(x) + "," + std::to_string(y));
}
void TRecordingCanvas::FlushBufferRect(int x, int y, TsgDeviceContext, const TsgRect& r) {
  Calls.push_back("FlushBufferRect " + std::to_string(x) + "," + std::to_string(y) + " " +
                  sgRectToStr(r));
}
void TRecordingCanvas::FreeBuffer() { Calls.push_back("FreeBuffer"); }
void TRecordingCanvas::ResizeBuffer(int width, int height) {
  width_ = width;
  height_ = height;
  Calls.push_back("ResizeBuffer " + std::to_string(width) + "x" + std::to_string(height));
}
void TRecordingCanvas::Clear(TsgColor color) { Calls.push_back("Clear " + sgColorToStr(color)); }
void TRecordingCanvas::ClearRect(const TsgRect& r, TsgColor color) {
  Calls.push_back("ClearRect " + sgRectToStr(r) + " " + sgColorToStr(color));
}
void TRecordingCanvas::SetMatrix(const TsgMatrix& m) {
  TsgCanvas::SetMatrix(m);
  Calls.push_back("SetMatrix " + sgFloatToStr(m.m31) + "," + sgFloatToStr(m.m32));
}
void TRecordingCanvas::MultiplyMatrix(const TsgMatrix& m) {
  matrix_ = sgMatrixMultiply(m, matrix_);
  Calls.push_back("MultiplyMatrix");
}
int TRecordingCanvas::SaveState() {
  if (NoContext) return -1;
  const int index = StoreState(1);
  Calls.push_back("SaveState " + std::to_string(index));
  return index;
}
void TRecordingCanvas::RestoreState(int index) {
  if (LoadState(index)) Calls.push_back("RestoreState " + std::to_string(index));
}
void TRecordingCanvas::SetClipRects(const std::vector<TsgRect>& rects) {
  Clip.clear();
  for (const TsgRect& r : rects) Clip.push_back(sgRectToStr(r));
  Calls.push_back("SetClipRects " + std::to_string(rects.size()));
}
void TRecordingCanvas::IntersectClipRect(const TsgRect& r) {
  Clip.push_back("*" + sgRectToStr(r));
  Calls.push_back("IntersectClipRect " + sgRectToStr(r));
}
void TRecordingCanvas::ExcludeClipRect(const TsgRect& r) {
  Clip.push_back("-" + sgRectToStr(r));
  Calls.push_back("ExcludeClipRect " + sgRectToStr(r));
}
void TRecordingCanvas::ResetClipRect() {
  Clip.clear();
  Calls.push_back("ResetClipRect");
}
void TRecordingCanvas::DrawLine(const TsgPoint& p1, const TsgPoint& p2, float opacity) {
  Calls.push_back("DrawLine " + Stroke()->GetColor() + " " + sgPointToStr(p1) + " " +
                  sgPointToStr(p2) + Op(opacity));
}
void TRecordingCanvas::FillRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners,
                                float opacity, TsgCornerType) {
  Calls.push_back("FillRect " + Fill()->GetColor() + " " + sgRectToStr(r) + " " +
                  sgFloatToStr(xRadius) + "," + sgFloatToStr(yRadius) + Op(opacity));
}
void TRecordingCanvas::DrawRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners,
                                float opacity, TsgCornerType) {
  Calls.push_back("DrawRect " + Stroke()->GetColor() + " " + sgRectToStr(r) + " " +
                  sgFloatToStr(xRadius) + "," + sgFloatToStr(yRadius) + Op(opacity));
}
void TRecordingCanvas::FillEllipse(const TsgRect& r, float opacity) {
  Calls.push_back("FillEllipse " + Fill()->GetColor() + " " + sgRectToStr(r) + Op(opacity));
}
void TRecordingCanvas::DrawEllipse(const TsgRect& r, float opacity) {
  Calls.push_back("DrawEllipse " + Stroke()->GetColor() + " " + sgRectToStr(r) + Op(opacity));
}
bool TRecordingCanvas::PtInPath(const TsgPoint& p, const TsgRect& r, TsgPathData*) {
  Calls.push_back("PtInPath " + sgPointToStr(p));
  return sgPtInRect(p, r);
}

std::string TRecordingCanvas::MappedPath(TsgPathData* path, const TsgRect& r) {
  const TsgRect b = path->GetBounds();
  const float bw = sgRectWidth(b), bh = sgRectHeight(b);
  if (path->IsEmpty() || bw == 0 || bh == 0) return {};
  TsgPathData mapped;
  for (const TsgPathPoint& p : path->Points()) {
    const TsgPoint q{r.Left + (p.X - b.Left) * sgRectWidth(r) / bw,
                     r.Top + (p.Y - b.Top) * sgRectHeight(r) / bh};
    switch (p.Kind) {
      case sgPathPointMoveTo:
        mapped.MoveTo(q);
        break;
      case sgPathPointLineTo:
      case sgPathPointCurveTo:
        mapped.LineTo(q);  // written as L: the recording shows every point
        break;
      default:
        mapped.ClosePath();
        break;
    }
  }
  std::string s = mapped.GetData();
  // Curves keep their kind in the record.
  size_t k = 0;
  for (const TsgPathPoint& p : path->Points()) {
    k = s.find_first_of("MLZ", k);
    if (k == std::string::npos) break;
    if (p.Kind == sgPathPointCurveTo) s[k] = 'C';
    ++k;
  }
  if (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void TRecordingCanvas::FillPath(TsgPathData* path, const TsgRect& r, float opacity) {
  Calls.push_back("FillPath " + Fill()->GetColor() + " " + MappedPath(path, r) + Op(opacity));
}
void TRecordingCanvas::DrawPath(TsgPathData* path, const TsgRect& r, float opacity) {
  Calls.push_back("DrawPath " + Stroke()->GetColor() + " " + MappedPath(path, r) + Op(opacity));
}
void TRecordingCanvas::DrawBitmap(TsgBitmap*, const TsgRect& source, const TsgRect& dest,
                                  float opacity, bool highSpeed) {
  Calls.push_back("DrawBitmap " + sgRectToStr(source) + " " + sgRectToStr(dest) + Op(opacity) +
                  (highSpeed ? " fast" : ""));
}
void TRecordingCanvas::DrawThumbnail(TsgBitmap*, float width, float height) {
  Calls.push_back("DrawThumbnail " + sgFloatToStr(width) + "x" + sgFloatToStr(height));
}
void TRecordingCanvas::FillText(const TsgRect& r, const std::u16string& text, bool, float opacity,
                                TsgTextAlign, TsgTextAlign) {
  Calls.push_back("FillText " + sgRectToStr(r) + " " + std::to_string(text.size()) + " chars" +
                  Op(opacity));
}
void TRecordingCanvas::MeasureText(TsgRect& r, const std::u16string& text, bool, TsgTextAlign,
                                   TsgTextAlign) {
  r.Right = r.Left + 7.0f * static_cast<float>(text.size());
  r.Bottom = r.Top + 13;
  Calls.push_back("MeasureText");
}
bool TRecordingCanvas::TextToPath(TsgPathData*, const TsgRect&, const std::u16string&, bool,
                                  TsgTextAlign, TsgTextAlign) {
  Calls.push_back("TextToPath");
  return false;
}

}  // namespace kelm::test
