// TsgPathData: a vector outline of move, line, cubic curve and close
// points, with an SVG-like text form, a compact binary stream form
// ("Path"), arc builders and a flattener to polygons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/filer.h"
#include "scene/sg_object.h"
#include "scene/sg_types.h"

namespace kelm::scene {

enum TsgPathPointKind : int32_t {
  sgPathPointMoveTo = 0,
  sgPathPointLineTo = 1,
  // Always three in a row: control 1, control 2, end point.
  sgPathPointCurveTo = 2,
  // Holds the start point of the figure it closes.
  sgPathPointClose = 3
};

struct TsgPathPoint {
  int32_t Kind = sgPathPointMoveTo;
  float X = 0, Y = 0;
};
static_assert(sizeof(TsgPathPoint) == 12);

class TsgPathObject;

class TsgPathData : public classlib::TPersistent, public IsgFreeNotifyClient {
  CL_DECLARE_CLASS(TsgPathData, TPersistent)
 public:
  TsgPathData() = default;
  ~TsgPathData() override;

  // ---- building (no change event; relative forms start from the last point)
  void MoveTo(const TsgPoint& p);
  void MoveToRel(const TsgPoint& d);
  void LineTo(const TsgPoint& p);
  void LineToRel(const TsgPoint& d);
  void HLineTo(float x);
  void HLineToRel(float dx);
  void VLineTo(float y);
  void VLineToRel(float dy);
  void CurveTo(const TsgPoint& c1, const TsgPoint& c2, const TsgPoint& end);
  void CurveToRel(const TsgPoint& c1, const TsgPoint& c2, const TsgPoint& end);
  void SmoothCurveTo(const TsgPoint& c2, const TsgPoint& end);
  void SmoothCurveToRel(const TsgPoint& c2, const TsgPoint& end);
  void ClosePath();
  // Angles in degrees, positive clockwise on the screen; radius holds the
  // horizontal and vertical radii.
  void AddArc(const TsgPoint& center, const TsgPoint& radius, float startAngle, float sweepAngle);
  // The SVG elliptical arc from start to end (endpoint parameterisation).
  void AddArcSvg(const TsgPoint& start, const TsgPoint& radius, float angle, bool largeFlag,
                 bool sweepFlag, const TsgPoint& end);
  // Removes all points and fires the change event.
  void Clear();

  // ---- queries and transforms
  TsgPoint GetLastPoint() const;
  bool IsEmpty() const { return points_.empty(); }
  TsgRect GetBounds() const;
  void Scale(float sx, float sy);
  void FlattenToPolygon(TsgPolygon& polygon, TsgPoint& size, float flatness) const;
  const std::vector<TsgPathPoint>& Points() const { return points_; }
  int Count() const { return static_cast<int>(points_.size()); }

  // ---- text form
  std::string GetData() const;
  // Never raises: a bad number abandons its command only; text that makes
  // no progress ends the parse, keeping the points read so far.
  void SetData(const std::string& text);

  // ---- stream form
  // Reads the binary "Path" form from a block of its bytes. A count whose
  // records do not fit the data gives an empty path; incomplete curve runs
  // and records of unknown kind are dropped.
  void ReadPath(classlib::TStream& stream);
  void WritePath(classlib::TStream& stream) const;

  // ---- shared paths: a weak link to a TsgPathObject
  TsgPathObject* Resource() const { return resource_; }
  // Links (copying the object's name) or unlinks (clearing the name); fires.
  void SetResource(TsgPathObject* obj);
  const std::string& ResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& name);
  // The linked object's path; without a link, the latest object of the
  // name, which is then linked.
  TsgPathData* GetResourcePath();
  void ObjectFreed(TsgObject* obj) override;

  // From a path that resolves a shared one: the link and name only;
  // otherwise all points. Fires.
  void Assign(classlib::TPersistent* source) override;
  // "Path", when there is a point at least.
  void DefineProperties(classlib::TFiler& filer) override;

  classlib::TNotifyEvent OnChange;

 private:
  void Add(int32_t kind, const TsgPoint& p);
  void Link(TsgPathObject* obj);
  void Changed();

  TsgPathObject* resource_ = nullptr;
  std::string resourceName_;
  TsgPoint start_;
  std::vector<TsgPathPoint> points_;
};

}  // namespace kelm::scene
