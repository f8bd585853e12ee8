// A canvas back end that draws nothing and records every call as a line,
// with the state that call would use: the brush colour, the matrix, the
// clip, and path points already mapped onto the target rectangle.
#pragma once

#include <string>
#include <vector>

#include "scene/sg_canvas.h"

namespace kelm::test {

class TRecordingCanvas : public scene::TsgCanvas {
  CL_DECLARE_CLASS(TRecordingCanvas, TsgCanvas)
 public:
  TRecordingCanvas(int width, int height);
  // Over a bitmap, as the default class's CreateFromBitmap makes it.
  explicit TRecordingCanvas(scene::TsgBitmap* bitmap);

  // "FillPath #FFFFFFFF M 0,0 L 10,0 Z" and the like.
  std::vector<std::string> Calls;
  // The clip as the union of rectangles set, intersected and excluded,
  // recorded as text ("(0,0,10,10)" pieces).
  std::vector<std::string> Clip;
  // Whether SaveState answers -1 (no drawing context).
  bool NoContext = false;

  void FlushBuffer(int x, int y, scene::TsgDeviceContext dc) override;
  void FlushBufferRect(int x, int y, scene::TsgDeviceContext dc, const scene::TsgRect& r) override;
  void FreeBuffer() override;
  void ResizeBuffer(int width, int height) override;
  void Clear(scene::TsgColor color) override;
  void ClearRect(const scene::TsgRect& r, scene::TsgColor color) override;
  void SetMatrix(const scene::TsgMatrix& m) override;
  void MultiplyMatrix(const scene::TsgMatrix& m) override;
  int SaveState() override;
  void RestoreState(int index) override;
  void SetClipRects(const std::vector<scene::TsgRect>& rects) override;
  void IntersectClipRect(const scene::TsgRect& r) override;
  void ExcludeClipRect(const scene::TsgRect& r) override;
  void ResetClipRect() override;
  void DrawLine(const scene::TsgPoint& p1, const scene::TsgPoint& p2, float opacity) override;
  void FillRect(const scene::TsgRect& r, float xRadius, float yRadius, scene::TsgCorners corners,
                float opacity, scene::TsgCornerType cornerType) override;
  void DrawRect(const scene::TsgRect& r, float xRadius, float yRadius, scene::TsgCorners corners,
                float opacity, scene::TsgCornerType cornerType) override;
  void FillEllipse(const scene::TsgRect& r, float opacity) override;
  void DrawEllipse(const scene::TsgRect& r, float opacity) override;
  bool PtInPath(const scene::TsgPoint& p, const scene::TsgRect& r,
                scene::TsgPathData* path) override;
  void FillPath(scene::TsgPathData* path, const scene::TsgRect& r, float opacity) override;
  void DrawPath(scene::TsgPathData* path, const scene::TsgRect& r, float opacity) override;
  void DrawBitmap(scene::TsgBitmap* bitmap, const scene::TsgRect& source,
                  const scene::TsgRect& dest, float opacity, bool highSpeed) override;
  void DrawThumbnail(scene::TsgBitmap* bitmap, float width, float height) override;
  void FillText(const scene::TsgRect& r, const std::u16string& text, bool wordWrap, float opacity,
                scene::TsgTextAlign align, scene::TsgTextAlign vAlign) override;
  // Answers 7 units per character wide, 13 high.
  void MeasureText(scene::TsgRect& r, const std::u16string& text, bool wordWrap,
                   scene::TsgTextAlign align, scene::TsgTextAlign vAlign) override;
  bool TextToPath(scene::TsgPathData* path, const scene::TsgRect& r, const std::u16string& text,
                  bool wordWrap, scene::TsgTextAlign align, scene::TsgTextAlign vAlign) override;

  // The path's points mapped onto r as the back ends map them, in the text
  // form ("M x,y L x,y Z "); empty for a path that draws nothing.
  static std::string MappedPath(scene::TsgPathData* path, const scene::TsgRect& r);
};

}  // namespace kelm::test
