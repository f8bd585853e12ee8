#include "kit/kt_tab_control.h"

#include "kit/kt_common_win.h"

namespace kelm::kit {

using namespace classlib;

const TTypeInfo TypeInfo_TKtTabStyle =
    EnumTypeInfo("TKtTabStyle", {"tsSingleSlant", "tsDoubleSlant", "tsCutCorner", "tsRoundCorners",
                                 "tsBackSlant", "tsSquareCorners"});
const TTypeInfo TypeInfo_TKtTabOrientation =
    EnumTypeInfo("TKtTabOrientation", {"toTop", "toLeft", "toBottom", "toRight"});
const TTypeInfo TypeInfo_TKtTabSequence =
    EnumTypeInfo("TKtTabSequence", {"tsStandard", "tsReverse"});
const TTypeInfo TypeInfo_TKtImagePosition = EnumTypeInfo(
    "TKtImagePosition", {"ipLeft", "ipTop", "ipRight", "ipBottom", "ipBack", "ipStretch"});
const TTypeInfo TypeInfo_TKtHorizontalAlignment =
    EnumTypeInfo("TKtHorizontalAlignment", {"haLeft", "haCenter", "haRight"});
const TTypeInfo TypeInfo_TKtVerticalAlignment =
    EnumTypeInfo("TKtVerticalAlignment", {"vaTop", "vaCenter", "vaBottom"});
const TTypeInfo TypeInfo_TKtTabHotTrackStyle =
    EnumTypeInfo("TKtTabHotTrackStyle", {"htsTab", "htsText", "htsTabBar"});
const TTypeInfo TypeInfo_TKtTabHotTrackColorSource =
    EnumTypeInfo("TKtTabHotTrackColorSource", {"htcsTabColor", "htcsHotTrackColorProp"});
const TTypeInfo TypeInfo_TKtHotTrackColorType =
    EnumTypeInfo("TKtHotTrackColorType", {"htctComplement", "htctActual"});
const TTypeInfo TypeInfo_TOrientation =
    EnumTypeInfo("TOrientation", {"orHorizontal", "orVertical"});

// The model's system colours are the class library's.
static_assert(clKtWindow == clWindow && clKtHighlight == clHighlight && clKtBtnFace == clBtnFace &&
                  clKtBtnShadow == clBtnShadow && clKtGrayText == clGrayText &&
                  clKtBtnText == clBtnText,
              "system colour values");

CL_CLASS(TKtCustomTabControl) {}

TKtCustomTabControl::TKtCustomTabControl(TComponent* AOwner)
    : TCustomControl(AOwner), measurer_(Font()), imageLink_(new TChangeLink) {
  InitializeKtCommon();
  SetMeasurer(&measurer_);
  SetRegionFactory(&MakeGdiRegion);
  TCustomControl::SetBounds(Left(), Top(), 300, 100);
  SetControlSize(300, 100);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csDoubleClicks});
  SetTabStop(true);
  imageLink_->OnChange = EventOf<&TKtCustomTabControl::ImageListChange>(this);
}

TKtCustomTabControl::~TKtCustomTabControl() {
  if (images_ != nullptr) images_->UnRegisterChanges(imageLink_);
  delete imageLink_;
}

void TKtCustomTabControl::SetImages(TCustomImageList* v) {
  if (v == images_) return;
  if (images_ != nullptr) {
    images_->UnRegisterChanges(imageLink_);
    images_->RemoveFreeNotification(this);
  }
  images_ = v;
  if (images_ != nullptr) {
    images_->RegisterChanges(imageLink_);
    images_->FreeNotification(this);
  }
  TabsChanged();
}

void TKtCustomTabControl::ImageListChange(TObject*) { Invalidate(); }

void TKtCustomTabControl::Notification(TComponent* component, TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == images_) SetImages(nullptr);
}

bool TKtCustomTabControl::Loading() const {
  return ComponentState().Contains(csLoading) || ComponentState().Contains(csReading);
}

void TKtCustomTabControl::Loaded() {
  TCustomControl::Loaded();
  TKtTabControlModel::Loaded();
}

void TKtCustomTabControl::Invalidate() { TCustomControl::Invalidate(); }

void TKtCustomTabControl::SetBounds(int left, int top, int width, int height) {
  TCustomControl::SetBounds(left, top, width, height);
  SetControlSize(Width(), Height());
}

void TKtCustomTabControl::DefineProperties(TFiler& filer) {
  TCustomControl::DefineProperties(filer);
  // The row thickness travels with the form as an integer of its own.
  filer.DefineProperty(
      "FixedDimension", [this](TReader& reader) { SetFixedDimension(reader.ReadInteger()); },
      [this](TWriter& writer) { writer.WriteInteger(FixedDimension()); }, true);
}

void TKtCustomTabControl::CreateParams(TCreateParams& params) {
  TCustomControl::CreateParams(params);
  params.WindowClass.style &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TKtCustomTabControl::AdjustClientRect(TRect& rect) {
  // The layout runs at paint time; until then the row thickness read with
  // the form places the children.
  const TKtRect r = DisplayRect();
  rect = Rect(r.left, r.top, r.right, r.bottom);
}

void TKtCustomTabControl::Paint() { UpdateLayout(); }

void TKtCustomTabControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_PARENTCOLORCHANGED:
      return CMParentColorChanged(m);
    default:
      return TCustomControl::WndProc(m);
  }
}

void TKtCustomTabControl::CMParentColorChanged(TMessage& m) {
  TCustomControl::WndProc(m);
  if (Parent() != nullptr) ParentColorChanged(Parent()->Color());
}

void TKtCustomTabControl::CMFontChanged(TMessage& m) {
  TCustomControl::CMFontChanged(m);
  // Tab text is measured in the control's font.
  TabsChanged();
}

bool TKtCustomTabControl::DoChanging(int newIndex) {
  bool allow = true;
  if (OnChanging) OnChanging(this, newIndex, allow);
  return allow;
}

void TKtCustomTabControl::DoChange() {
  if (OnChange) OnChange(this);
}

void TKtCustomTabControl::DoPageChange() {
  if (OnPageChange) OnPageChange(this);
}

bool TKtCustomTabControl::TabFontIsTrueType() { return FontIsTrueType(Font()); }

void TKtCustomTabControl::FontMayNeedTrueType() {
  if (!TabFontIsTrueType()) Font()->SetName("Verdana");
}

bool TKtCustomTabControl::ImageSizeOf(int32_t imageIndex, TKtSize& size) {
  if (images_ == nullptr || imageIndex < 0 || imageIndex >= images_->Count()) return false;
  size = TKtSize{images_->Width(), images_->Height()};
  return true;
}

}  // namespace kelm::kit
