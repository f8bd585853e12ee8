// The link between a scene control and an action of the class library, and
// the Win32 start-up that installs it with the default style's resource
// and the program's folder.
#pragma once

#include <string>

#include "classlib/actions.h"
// The scene object's FindResource, not the Win32 macro, in every control
// class declared after this.
#undef FindResource
#include "scene/sg_control.h"

namespace kelm::scene {

// A control property follows the action only while the library's link
// says so and the control still shows the action's value.
class TsgControlActionLink : public classlib::TActionLink {
  CL_DECLARE_CLASS(TsgControlActionLink, TActionLink)
 public:
  explicit TsgControlActionLink(TsgControl* client) : client_(client) {}
  TsgControl* Client() const { return client_; }

  bool IsCaptionLinked() override;
  bool IsEnabledLinked() override;
  bool IsHintLinked() override;
  bool IsVisibleLinked() override;
  bool IsOnExecuteLinked() override;
  bool IsHelpContextLinked() override { return IsHelpLinked(); }
  // HelpContext, HelpKeyword and HelpType all equal the action's.
  bool IsHelpLinked() override;
  void SetCaption(const std::u16string& v) override;
  void SetEnabled(bool v) override;
  void SetHint(const std::u16string& v) override;
  void SetVisible(bool v) override;
  void SetOnExecute(const classlib::TNotifyEvent& v) override;
  void SetHelpKeyword(const std::string& v) override;
  void SetHelpContext(int v) override;
  void SetHelpType(classlib::THelpType v) override;
  // The action may rewrite the hint; it always shows.
  bool DoShowHint(std::u16string& hint) override;

 private:
  TsgControl* client_;
};

}  // namespace kelm::scene
