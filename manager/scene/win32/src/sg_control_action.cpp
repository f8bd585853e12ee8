// Scene controls and the class library's actions; the default style from
// the program's resources; style files beside the program.
#include "scene/sg_control_action.h"

#include <memory>

#include "classlib/classdef.h"
#include "classlib/resources.h"
#include "scene/sg_style.h"

namespace kelm::scene {

using classlib::TCustomAction;

CL_CLASS(TsgControlActionLink) {}

bool TsgControlActionLink::IsCaptionLinked() {
  TCustomAction* a = CustomAction();
  return TActionLink::IsCaptionLinked() && a && client_->IsTextControl() &&
         client_->GetText() == a->Caption();
}

bool TsgControlActionLink::IsEnabledLinked() {
  TCustomAction* a = CustomAction();
  return TActionLink::IsEnabledLinked() && a && client_->Enabled() == a->Enabled();
}

bool TsgControlActionLink::IsHintLinked() {
  TCustomAction* a = CustomAction();
  return TActionLink::IsHintLinked() && a && client_->Hint() == a->Hint();
}

bool TsgControlActionLink::IsVisibleLinked() {
  TCustomAction* a = CustomAction();
  return TActionLink::IsVisibleLinked() && a && client_->Visible() == a->Visible();
}

bool TsgControlActionLink::IsOnExecuteLinked() {
  return TActionLink::IsOnExecuteLinked() && client_->OnClick == Action()->OnExecute;
}

bool TsgControlActionLink::IsHelpLinked() {
  TCustomAction* a = CustomAction();
  return TActionLink::IsHelpContextLinked() && a && client_->HelpContext() == a->HelpContext() &&
         client_->HelpKeyword() == a->HelpKeyword() && client_->HelpType() == a->HelpType();
}

void TsgControlActionLink::SetCaption(const std::u16string& v) {
  if (IsCaptionLinked()) client_->SetText(v);
}

void TsgControlActionLink::SetEnabled(bool v) {
  if (IsEnabledLinked()) client_->SetEnabled(v);
}

void TsgControlActionLink::SetHint(const std::u16string& v) {
  if (IsHintLinked()) client_->SetHint(v);
}

void TsgControlActionLink::SetVisible(bool v) {
  if (IsVisibleLinked()) client_->SetVisible(v);
}

void TsgControlActionLink::SetOnExecute(const classlib::TNotifyEvent& v) {
  if (IsOnExecuteLinked()) client_->OnClick = v;
}

// The control's own setters switch HelpType; a linked action sets the type
// itself, so the type is put back after each.
void TsgControlActionLink::SetHelpKeyword(const std::string& v) {
  if (!IsHelpLinked()) return;
  const classlib::THelpType type = client_->HelpType();
  client_->SetHelpKeyword(v);
  client_->SetHelpType(type);
}

void TsgControlActionLink::SetHelpContext(int v) {
  if (!IsHelpLinked()) return;
  const classlib::THelpType type = client_->HelpType();
  client_->SetHelpContext(v);
  client_->SetHelpType(type);
}

void TsgControlActionLink::SetHelpType(classlib::THelpType v) {
  if (IsHelpLinked()) client_->SetHelpType(v);
}

bool TsgControlActionLink::DoShowHint(std::u16string& hint) {
  if (TCustomAction* a = CustomAction()) a->DoHint(hint);
  return true;
}

namespace {

class ActionBridge final : public IsgActionBridge {
 public:
  classlib::TObject* CreateLink(TsgControl* control) override {
    return classlib::New<TsgControlActionLink>(control);
  }
  void SetLinkAction(classlib::TObject* link, classlib::TComponent* action) override {
    auto* l = static_cast<TsgControlActionLink*>(link);
    l->SetAction(dynamic_cast<classlib::TBasicAction*>(action));
    TsgControl* control = l->Client();
    l->OnChange = [control](classlib::TObject* changed) {
      control->ActionChange(dynamic_cast<classlib::TComponent*>(changed), false);
    };
  }
  classlib::TComponent* LinkAction(classlib::TObject* link) override {
    return static_cast<TsgControlActionLink*>(link)->Action();
  }
  void UpdateLink(classlib::TObject* link) override {
    static_cast<TsgControlActionLink*>(link)->Update();
  }
  bool ReadCustomAction(classlib::TComponent* action, TsgActionState& state) override {
    auto* a = dynamic_cast<TCustomAction*>(action);
    if (!a) return false;
    state.Caption = a->Caption();
    state.Hint = a->Hint();
    state.Enabled = a->Enabled();
    state.Visible = a->Visible();
    state.OnExecute = a->OnExecute;
    return true;
  }
  bool IsHelpLinked(classlib::TObject* link) override {
    return static_cast<TsgControlActionLink*>(link)->IsHelpLinked();
  }
};

ActionBridge g_bridge;

std::unique_ptr<classlib::TStream> DefaultStyleResource() {
  const std::u16string name = u"DEFAULTSGSTYLE";
  if (!classlib::HasRCData(classlib::HInstance(), name)) return nullptr;
  return classlib::OpenRCData(classlib::HInstance(), name);
}

std::u16string ProgramFolder() { return classlib::ExeFolder(); }

// Part of the object library's start-up, as the message pump hook is.
struct Startup {
  Startup() {
    SetActionBridge(&g_bridge);
    SetDefaultStyleSource(&DefaultStyleResource);
    SetProgramFolderSource(&ProgramFolder);
  }
} startup;

}  // namespace
}  // namespace kelm::scene
