// The stroke and fill properties the shape classes publish, shared by the
// shape units.
#pragma once

#include "classlib/classdef.h"
#include "scene/sg_objects.h"

namespace kelm::scene {

extern const classlib::TTypeInfo TypeInfo_TsgStrokeCap;
extern const classlib::TTypeInfo TypeInfo_TsgStrokeJoin;
extern const classlib::TTypeInfo TypeInfo_TsgStrokeDash;

// The stroke properties every shape publishes that draws an outline.
template <class T>
void PublishStroke(classlib::ClassDef<T>& c) {
  c.Object("Stroke", &TsgShape::Stroke, &TsgShape::SetStroke);
  c.Enum("StrokeCap", &TsgShape::StrokeCap, &TsgShape::SetStrokeCap, &TypeInfo_TsgStrokeCap)
      .Default(sgCapFlat);
  c.Enum("StrokeDash", &TsgShape::StrokeDash, &TsgShape::SetStrokeDash, &TypeInfo_TsgStrokeDash)
      .Default(sgDashSolid);
  c.Enum("StrokeJoin", &TsgShape::StrokeJoin, &TsgShape::SetStrokeJoin, &TypeInfo_TsgStrokeJoin)
      .Default(sgJoinMiter);
  c.Float("StrokeThickness", &TsgShape::StrokeThickness, &TsgShape::SetStrokeThickness,
          &classlib::TypeInfo_Single)
      .Stored(&TsgShape::StrokeThicknessStored);
}

template <class T>
void PublishFillAndStroke(classlib::ClassDef<T>& c) {
  c.Object("Fill", &TsgShape::Fill, &TsgShape::SetFill);
  PublishStroke(c);
}

}  // namespace kelm::scene
