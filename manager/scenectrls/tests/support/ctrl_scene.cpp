#include "ctrl_scene.h"

#include "classlib/strings.h"
#include "scene/sg_effects.h"
#include "scenectrls/sg_registration.h"

namespace kelm::test {

std::string FixtureStyle(const std::string& name, bool withText) {
  auto part = [](const std::string& partName, const std::string& trigger) {
    return "    object TsgRectangle\n      ResourceName = '" + partName +
           "'\n      HitTest = False\n      Opacity = 0\n"
           "      object TsgFloatAnimation\n        Duration = 0\n"
           "        Trigger = '" +
           trigger + "=true'\n        TriggerInverse = '" + trigger +
           "=false'\n        StopValue = 1\n        PropertyName = 'Opacity'\n      end\n"
           "      object TsgShadowEffect\n        Enabled = False\n        Trigger = '" +
           trigger + "=true'\n      end\n    end\n";
  };
  std::string text = "  object TsgVisualObject\n    ResourceName = '" + name +
                     "'\n    HitTest = False\n" + part("pressed", "IsPressed") +
                     part("checked", "IsChecked");
  if (withText)
    text +=
        "    object TsgText\n      ResourceName = 'text'\n      Align = vaClient\n"
        "      HitTest = False\n    end\n";
  return text + "  end\n";
}

std::string FixtureBook(const std::string& styles) {
  return "object TsgBackground\n" + styles + "end\n";
}

CtrlScene::CtrlScene(classlib::TComponent* owner)
    : Scene(classlib::New<FakeScene>(owner)),
      Canvas(classlib::New<TRecordingCanvas>(400, 300)),
      Book(classlib::New<scene::TsgResources>(nullptr)),
      Root(classlib::New<scene::TsgBackground>(nullptr)) {
  scenectrls::RegisterSceneControlClasses();
  Scene->Canvas = Canvas;
  Scene->Style = Book;
  // A refill restyles the scene's controls.
  Book->AddScene(Scene);
  Root->SetBounds(0, 0, 400, 300);
  Scene->AddObject(Root);
}

CtrlScene::~CtrlScene() {
  Book->RemoveScene(Scene);
  classlib::Free(Scene);
  classlib::Free(Book);
  classlib::Free(Canvas);
}

void CtrlScene::SetBook(const std::string& text) {
  classlib::TStringList lines;
  lines.SetText(text);
  Book->SetResource(&lines);
}

float PartOpacity(scene::TsgControl* control, const std::string& part) {
  auto* v = dynamic_cast<scene::TsgVisualObject*>(control->FindResource(part));
  return v ? v->Opacity() : -1;
}

bool PartEffectEnabled(scene::TsgControl* control, const std::string& part) {
  scene::TsgObject* p = control->FindResource(part);
  for (int i = 0; p && i < p->GetChildrenCount(); ++i)
    if (auto* e = dynamic_cast<scene::TsgEffect*>(p->GetChild(i))) return e->Enabled();
  return false;
}

}  // namespace kelm::test
