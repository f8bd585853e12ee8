// Style books (TsgResources) and the program's default style.
#include "scene/sg_style.h"

#include <algorithm>

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "scene/sg_classes.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TStream;

namespace {
TsgProgramFolder g_programFolder = nullptr;
TsgDefaultStyleSource g_defaultSource = nullptr;
TsgObject* g_defaultStyle = nullptr;
bool g_defaultRead = false;

// A loaded tree that is not a scene object is no style: it goes.
TsgObject* AsStyleRoot(TComponent* loaded) {
  auto* root = dynamic_cast<TsgObject*>(loaded);
  if (loaded && !root) classlib::Free(loaded);
  return root;
}

void ShowAtDesignTime(TsgObject* root) {
  if (!root || !root->IsVisual()) return;
  std::vector<TsgObject*> tree;
  root->CollectTree(tree);
  for (TsgObject* obj : tree)
    if (TsgVisualObject* v = obj->Visual()) v->SetDesignHide(false);
}
}  // namespace

void SetProgramFolderSource(TsgProgramFolder source) { g_programFolder = source; }

void SetDefaultStyleSource(TsgDefaultStyleSource source) { g_defaultSource = source; }

TsgObject* LoadedDefaultStyle() { return g_defaultStyle; }

TsgObject* DefaultStyle() {
  if (g_defaultRead) return g_defaultStyle;
  g_defaultRead = true;
  if (!g_defaultSource) return nullptr;
  std::unique_ptr<TStream> stream;
  try {
    stream = g_defaultSource();
  } catch (const std::exception&) {
    // An unreadable resource is as good as none.
    return nullptr;
  }
  if (stream) g_defaultStyle = AsStyleRoot(LoadObjectFromStream(nullptr, *stream));
  return g_defaultStyle;
}

void ResetDefaultStyle() {
  TsgObject* old = g_defaultStyle;
  g_defaultStyle = nullptr;
  g_defaultRead = false;
  classlib::Free(old);
}

// ---- TsgResources
CL_CLASS(TsgResources) {
  c.Object("Resource", &TsgResources::Resource, &TsgResources::SetResource).Stored(false);
  c.WStr("FileName", &TsgResources::FileName, &TsgResources::SetFileName);
}

TsgResources::TsgResources(TComponent* AOwner)
    : TComponent(AOwner), resource_(classlib::New<classlib::TStringList>()) {
  resource_->OnChange = classlib::EventOf<&TsgResources::ResourceChanged>(this);
}

TsgResources::~TsgResources() {
  classlib::Free(root_);
  resource_->OnChange = nullptr;
  classlib::Free(resource_);
}

void TsgResources::DefineProperties(classlib::TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "ResourcesBin", [this](TStream& s) { ReadBin(s); }, [this](TStream& s) { WriteBin(s); },
      root_ != nullptr);
}

void TsgResources::TakeRoot(TsgObject* root) {
  TsgObject* old = root_;
  root_ = nullptr;
  classlib::Free(old);
  root_ = root;
  ShowAtDesignTime(root_);
  // A copy: a scene may leave the book while restyling.
  const std::vector<IsgScene*> scenes = scenes_;
  for (IsgScene* scene : scenes) scene->UpdateStyle();
}

void TsgResources::ResourceChanged(classlib::TObject* sender) {
  (void)sender;
  // The old tree goes first, so a text that fails to load leaves no style
  // rather than the previous one.
  TsgObject* old = root_;
  root_ = nullptr;
  classlib::Free(old);
  classlib::TMemoryStream text;
  resource_->SaveToStream(text);
  TsgObject* root = nullptr;
  if (text.Size() > 0) {
    text.SetPosition(0);
    root = AsStyleRoot(LoadObjectFromTextStream(nullptr, text));
  }
  TakeRoot(root);
}

void TsgResources::ReadBin(TStream& stream) {
  TsgObject* old = root_;
  root_ = nullptr;
  classlib::Free(old);
  TakeRoot(AsStyleRoot(LoadObjectFromStream(nullptr, stream)));
}

void TsgResources::WriteBin(TStream& stream) {
  if (root_) SaveObjectToStream(root_, stream);
}

void TsgResources::SetFileName(const std::u16string& v) {
  if (v == fileName_) return;
  fileName_ = v;
  if (!IsLoading()) LoadFile();
}

void TsgResources::Loaded() {
  inherited::Loaded();
  if (!fileName_.empty()) LoadFile();
}

void TsgResources::LoadFile() {
  if (fileName_.empty()) return;
  std::u16string path;
  if (g_programFolder) {
    std::u16string beside = g_programFolder() + fileName_;
    if (classlib::FileExists(beside)) path = beside;
  }
  if (path.empty() && classlib::FileExists(fileName_)) path = fileName_;
  // A missing file leaves the book as it is.
  if (!path.empty()) resource_->LoadFromFile(path);
}

void TsgResources::AddScene(IsgScene* scene) {
  if (scene && std::find(scenes_.begin(), scenes_.end(), scene) == scenes_.end())
    scenes_.push_back(scene);
}

void TsgResources::RemoveScene(IsgScene* scene) {
  scenes_.erase(std::remove(scenes_.begin(), scenes_.end(), scene), scenes_.end());
}

void RegisterStyleClasses() { classlib::RegisterClasses({TsgResources::StaticClass()}); }

}  // namespace kelm::scene
