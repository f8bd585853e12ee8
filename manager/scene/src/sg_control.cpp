// The control base: style lookup and application, bindings, actions, help
// and tab order; the background and content classes beside it.
#include "scene/sg_control.h"

#include <algorithm>

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scene/sg_classes.h"
#include "scene/sg_style.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::THelpType;
using classlib::TOperation;

namespace {
IsgActionBridge* g_actionBridge = nullptr;

// Holds the scene's updates back for as long as it lives.
class HoldSceneUpdates {
 public:
  explicit HoldSceneUpdates(IsgScene* scene) : scene_(scene) {
    if (!scene_) return;
    saved_ = scene_->GetDisableUpdate();
    scene_->SetDisableUpdate(true);
  }
  ~HoldSceneUpdates() {
    if (scene_) scene_->SetDisableUpdate(saved_);
  }
  HoldSceneUpdates(const HoldSceneUpdates&) = delete;
  HoldSceneUpdates& operator=(const HoldSceneUpdates&) = delete;

 private:
  IsgScene* scene_;
  bool saved_ = false;
};

const std::vector<TsgControl*> kNoTargets;
}  // namespace

void SetActionBridge(IsgActionBridge* bridge) { g_actionBridge = bridge; }
IsgActionBridge* ActionBridge() { return g_actionBridge; }

CL_CLASS(TsgControl) {
  c.Enum("HelpType", &TsgControl::HelpType, &TsgControl::SetHelpType, &classlib::TypeInfo_THelpType)
      .Default(THelpType::htContext);
  c.Str("HelpKeyword", &TsgControl::HelpKeyword, &TsgControl::SetHelpKeyword)
      .Stored(&TsgControl::HelpStored);
  c.Int("HelpContext", &TsgControl::HelpContext, &TsgControl::SetHelpContext)
      .Default(0)
      .Stored(&TsgControl::HelpStored);
  c.Str("Resource", &TsgControl::Resource, &TsgControl::SetResource);
  c.Int("TabOrder", &TsgControl::GetTabOrder, &TsgControl::SetTabOrder).Default(-1);
}

TsgControl::TsgControl(TComponent* AOwner) : TsgVisualObject(AOwner) {}

TsgControl::~TsgControl() = default;

void TsgControl::BeforeDestruction() {
  if (actionLink_) classlib::Free(actionLink_);
  actionLink_ = nullptr;
  ReleaseBindingTargets();
  if (bindingSource_) bindingSource_->RemoveBindingTarget(this);
  inherited::BeforeDestruction();
}

void TsgControl::ReleaseBindingTargets() {
  if (!bindingTargets_) return;
  while (!bindingTargets_->empty()) {
    TsgControl* target = bindingTargets_->back();
    bindingTargets_->pop_back();
    target->RemoveNotifyClient(this);
    // The target must not keep following a source that is gone.
    if (target->bindingSource_ == this) target->bindingSource_ = nullptr;
  }
  bindingTargets_.reset();
}

void TsgControl::Loaded() {
  inherited::Loaded();
  if (IsgScene* sc = Scene(); sc && sc->GetActiveControl() == this) SetFocus();
}

void TsgControl::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == bindingSource_) bindingSource_ = nullptr;
  if (bindingTargets_) {
    auto& list = *bindingTargets_;
    list.erase(std::remove(list.begin(), list.end(), component), list.end());
  }
  if (component == styleObject_) styleObject_ = nullptr;
  if (component && component == action_) SetAction(nullptr);
}

// ---- style lookup
std::string TsgControl::StyleNameOf(classlib::TClass cls) {
  const std::string& name = cls->ClassName();
  return (name.size() > 3 ? name.substr(3) : std::string()) + "style";
}

TsgObject* TsgControl::FindInStyleRoot(TsgObject* root, bool parentClass) const {
  if (!root) return nullptr;
  if (!resource_.empty()) {
    TsgObject* found = root->FindResource(resource_);
    if (!found) return nullptr;
    if (found->IsVisual()) return found;
    // A resource that is no style (a brush, a path) leaves the lookup to
    // the class-derived name.
  }
  TsgObject* found = root->FindResource(StyleNameOf(ClassType()));
  if (found && found->IsVisual()) return found;
  if (!parentClass) return nullptr;
  classlib::TClass parent = ClassType()->ClassParent();
  if (!parent) return nullptr;
  found = root->FindResource(StyleNameOf(parent));
  return found && found->IsVisual() ? found : nullptr;
}

TsgVisualObject* TsgControl::CloneStyle(TsgObject* found) {
  auto* clone = dynamic_cast<TsgVisualObject*>(CloneSceneObject(found, this));
  if (clone) clone->SetResourceName("");
  return clone;
}

TsgVisualObject* TsgControl::FindStyleResource() {
  // A style never applies itself.
  if (!resource_.empty() && classlib::SameText(resource_, ResourceName())) return nullptr;
  TsgObject* bookRoot = nullptr;
  if (IsgScene* sc = Scene())
    if (TsgResources* book = sc->GetStyle()) bookRoot = book->Root();
  if (!resource_.empty()) {
    TsgObject* found = bookRoot ? bookRoot->FindResource(resource_) : nullptr;
    if (!found)
      if (TsgObject* def = LoadedDefaultStyle()) found = def->FindResource(resource_);
    if (!found) found = FindGlobalResource(resource_);
    if (found && found->IsVisual()) return CloneStyle(found);
  }
  TsgObject* def = DefaultStyle();
  if (TsgObject* found = FindInStyleRoot(bookRoot, false)) return CloneStyle(found);
  if (TsgObject* found = FindInStyleRoot(def, true)) return CloneStyle(found);
  return nullptr;
}

// ---- style application
void TsgControl::ApplyResource() {
  if (!needStyle_) return;
  needStyle_ = false;
  TsgVisualObject* clone = FindStyleResource();
  if (!clone) return;
  if (clone->IsLoading()) {
    std::vector<TsgObject*> tree;
    clone->CollectTree(tree);
    for (TsgObject* obj : tree)
      if (obj->IsLoading()) obj->Loaded();
  }
  HoldSceneUpdates hold(IsLoading() ? Scene() : nullptr);
  if (styleObject_) {
    FreeStyle();
    TsgVisualObject* old = styleObject_;
    styleObject_ = nullptr;
    classlib::Free(old);
  }
  // Not parented yet, so this only stores the alignment.
  clone->SetAlign(vaContents);
  clone->SetDesignHide(false);
  styleObject_ = clone;
  AddObject(clone);
  if (clone->GetIndex() != 0) clone->SetIndex(0);
  clone->SetStored(false);
  std::vector<TsgObject*> tree;
  clone->CollectTree(tree);
  for (TsgObject* obj : tree)
    if (TsgVisualObject* v = obj->Visual()) v->SetLocked(true);
  ApplyStyle();
  MarkEffectsDirty();
  if (OnApplyResource) OnApplyResource(this);
}

void TsgControl::ApplyStyle() {
  if (IsFocused() && CanFocused && !DisableFocusEffect) {
    MarkUpdateRectDirty();
    Repaint();
    // The fresh style has not seen the focus yet.
    StartTriggerAnimation(this, "IsFocused");
    ApplyTriggerEffect(this, "IsFocused");
  }
  if (AutoTranslate && ShowHint && !Hint().empty() && !IsDesignTime()) SetHint(sgTranslate(Hint()));
}

void TsgControl::UpdateStyle() {
  if (IsLoading() || IsDestroying()) return;
  for (int i = 0; i < GetChildrenCount(); ++i) GetChild(i)->UpdateStyle();
  needStyle_ = true;
  ApplyResource();
}

void TsgControl::SetResource(const std::string& v) {
  resource_ = v;
  needStyle_ = true;
  if (!IsLoading() && UpdateCount() == 0) ApplyResource();
}

TsgObject* TsgControl::FindResource(const std::string& name) {
  if (styleObject_)
    if (TsgObject* found = styleObject_->FindResource(name)) return found;
  return inherited::FindResource(name);
}

void TsgControl::EnterFocus() {
  ApplyResource();
  inherited::EnterFocus();
}

void TsgControl::BeforePaint() {
  ApplyResource();
  inherited::BeforePaint();
}

// ---- bindings
const std::vector<TsgControl*>& TsgControl::BindingTargets() const {
  return bindingTargets_ ? *bindingTargets_ : kNoTargets;
}

void TsgControl::SetBindingSource(TsgControl* source) {
  if (source == bindingSource_) return;
  if (bindingSource_) bindingSource_->RemoveBindingTarget(this);
  bindingSource_ = source;
  if (source) source->AddBindingTarget(this);
}

void TsgControl::AddBindingTarget(TsgControl* target) {
  if (!target) return;
  if (!bindingTargets_) bindingTargets_ = std::make_unique<std::vector<TsgControl*>>();
  auto& list = *bindingTargets_;
  if (std::find(list.begin(), list.end(), target) != list.end()) return;
  list.push_back(target);
  target->AddNotifyClient(this);
  NotifyBindingTargets();
}

void TsgControl::RemoveBindingTarget(TsgControl* target) {
  if (!bindingTargets_) return;
  auto& list = *bindingTargets_;
  auto it = std::find(list.begin(), list.end(), target);
  if (it == list.end()) return;
  target->RemoveNotifyClient(this);
  list.erase(it);
}

void TsgControl::NotifyBindingTargets() {
  if (!bindingTargets_) return;
  // By index: a target's SetData may change the list.
  for (size_t i = 0; i < bindingTargets_->size(); ++i) (*bindingTargets_)[i]->SetData(GetData());
}

// ---- actions
TComponent* TsgControl::GetAction() {
  return actionLink_ && g_actionBridge ? g_actionBridge->LinkAction(actionLink_) : nullptr;
}

void TsgControl::SetAction(TComponent* action) {
  if (!action) {
    if (action_) action_->RemoveFreeNotification(this);
    action_ = nullptr;
    if (actionLink_) classlib::Free(actionLink_);
    actionLink_ = nullptr;
    return;
  }
  if (!g_actionBridge) return;
  if (!actionLink_) actionLink_ = g_actionBridge->CreateLink(this);
  if (action_ && action_ != action) action_->RemoveFreeNotification(this);
  action_ = action;
  g_actionBridge->SetLinkAction(actionLink_, action);
  ActionChange(action, action->IsLoading());
  action->FreeNotification(this);
}

void TsgControl::ActionChange(TComponent* action, bool checkDefaults) {
  TsgActionState state;
  if (!action || !g_actionBridge || !g_actionBridge->ReadCustomAction(action, state)) return;
  if (IsTextControl()) {
    const std::u16string text = GetText();
    if (!checkDefaults || text.empty() || text == classlib::Utf8ToWide(Name()))
      SetText(state.Caption);
  }
  if (!checkDefaults || Enabled()) SetEnabled(state.Enabled);
  if (!checkDefaults || Hint().empty()) SetHint(state.Hint);
  if (!checkDefaults || Visible()) SetVisible(state.Visible);
  if (!checkDefaults || !OnClick) OnClick = state.OnExecute;
}

void TsgControl::UpdateAction() {
  if (actionLink_ && g_actionBridge) g_actionBridge->UpdateLink(actionLink_);
}

// ---- help
bool TsgControl::HelpStored() const {
  return !(actionLink_ && g_actionBridge && g_actionBridge->IsHelpLinked(actionLink_));
}

void TsgControl::SetHelpKeyword(const std::string& v) {
  helpKeyword_ = v;
  if (!IsLoading()) helpType_ = THelpType::htKeyword;
}

void TsgControl::SetHelpContext(int32_t v) {
  helpContext_ = v;
  if (!IsLoading()) helpType_ = THelpType::htContext;
}

// ---- tab order
int TsgControl::GetTabOrder() const {
  TsgVisualObject* parent = VisualParent();
  return parent ? parent->TabIndexOf(this) : -1;
}

void TsgControl::SetTabOrder(int value) {
  if (IsLoading()) {
    PendingTabOrder = static_cast<int16_t>(std::clamp(value, -1, 32767));
    return;
  }
  TsgVisualObject* parent = VisualParent();
  if (!parent) return;
  const int current = parent->TabIndexOf(this);
  if (current < 0) return;
  const int count = static_cast<int>(parent->TabList().size());
  const int to = std::clamp(value, 0, count - 1);
  if (to != current) parent->MoveTabEntry(this, to);
}

namespace {
void AppendTabList(const TsgVisualObject* from, std::vector<TsgVisualObject*>& list,
                   bool recursive) {
  for (TsgVisualObject* entry : from->TabList()) {
    list.push_back(entry);
    if (recursive) AppendTabList(entry, list, true);
  }
}
}  // namespace

void TsgControl::GetTabList(std::vector<TsgVisualObject*>& list, bool recursive) const {
  AppendTabList(this, list, recursive);
}

// ---- TsgBackground
CL_CLASS(TsgBackground) { c.Object("Fill", &TsgBackground::Fill, &TsgBackground::SetFill); }

TsgBackground::TsgBackground(TComponent* AOwner)
    : TsgControl(AOwner), fill_(classlib::New<TsgBrush>(sgBrushNone, 0xFFE0E0E0u)) {
  fill_->OnChange = classlib::EventOf<&TsgBackground::FillChangedEvent>(this);
}

TsgBackground::~TsgBackground() { classlib::Free(fill_); }

void TsgBackground::FillChanged(classlib::TObject* sender) {
  (void)sender;
  Repaint();
}

void TsgBackground::Paint() {
  if (fill_->Style() == sgBrushNone) return;
  TsgCanvas* canvas = Canvas();
  if (!canvas) return;
  canvas->Fill()->Assign(fill_);
  canvas->FillRect(GetLocalRect(), 0, 0, sgAllCorners, GetAbsoluteOpacity(), sgCornerRound);
}

void TsgBackground::PaintChildren() {
  IsgScene* sc = Scene();
  const bool ownFill = fill_->Style() != sgBrushNone;
  const bool transparentRoot = !Parent() && sc && sc->GetTransparency();
  TsgVisualObject* style = StyleObject();
  if (!style || (!ownFill && !transparentRoot)) {
    inherited::PaintChildren();
    return;
  }
  // The background paints itself: its style stays out of the picture.
  const bool shown = style->Visible();
  style->SetVisibleField(false);
  try {
    inherited::PaintChildren();
  } catch (...) {
    style->SetVisibleField(shown);
    throw;
  }
  style->SetVisibleField(shown);
}

// ---- TsgContent
CL_CLASS(TsgContent) {}

void TsgContent::Realign() {
  TsgObject* parent = Parent();
  if (parent && parent->IsLoading()) return;
  inherited::Realign();
  if (inParentRealign_ || IsLoading()) return;
  TsgVisualObject* visualParent = VisualParent();
  if (!visualParent || visualParent->IsLoading()) return;
  inParentRealign_ = true;
  try {
    visualParent->Realign();
  } catch (...) {
    inParentRealign_ = false;
    throw;
  }
  inParentRealign_ = false;
}

void RegisterControlClasses() {
  classlib::RegisterClasses({TsgVisualObject::StaticClass(), TsgControl::StaticClass(),
                             TsgBackground::StaticClass(), TsgContent::StaticClass()});
}

}  // namespace kelm::scene
