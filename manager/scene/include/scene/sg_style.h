// Style books and the default style. TsgResources is a non-visual
// component holding a tree of styles (one per control kind, found by
// resource name) that it serves to every scene naming it as its style. The
// default style is the program's own book, read once from its resources.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/streams.h"
#include "classlib/strings.h"
#include "scene/sg_object.h"

namespace kelm::scene {

class TsgResources : public classlib::TComponent {
  CL_DECLARE_CLASS(TsgResources, TComponent)
 public:
  explicit TsgResources(classlib::TComponent* AOwner);
  ~TsgResources() override;
  void Loaded() override;
  void DefineProperties(classlib::TFiler& filer) override;

  // The style tree in text form; assigning refills Root. Published, never
  // written itself ("ResourcesBin" carries the tree).
  classlib::TStrings* Resource() const { return resource_; }
  void SetResource(classlib::TStrings* v) { resource_->Assign(v); }
  // The style tree's root (a TsgBackground), or none; owned.
  TsgObject* Root() const { return root_; }
  const std::vector<IsgScene*>& Scenes() const { return scenes_; }
  const std::u16string& FileName() const { return fileName_; }
  void SetFileName(const std::u16string& v);

  void AddScene(IsgScene* scene);
  void RemoveScene(IsgScene* scene);

 private:
  void ResourceChanged(classlib::TObject* sender);
  // Replaces Root and restyles every scene of the book.
  void TakeRoot(TsgObject* root);
  void LoadFile();
  void ReadBin(classlib::TStream& stream);
  void WriteBin(classlib::TStream& stream);

  classlib::TStringList* resource_;
  TsgObject* root_ = nullptr;
  std::vector<IsgScene*> scenes_;
  std::u16string fileName_;
};

// The program's folder with a trailing separator, asked by FileName before
// the name as given. Set by the Win32 start-up; none: only the name as
// given is tried.
using TsgProgramFolder = std::u16string (*)();
void SetProgramFolderSource(TsgProgramFolder source);

// Where the default style comes from: a stream over the program's resource
// "defaultsgstyle", or none when the program has none. Set by the Win32
// start-up; tests set their own.
using TsgDefaultStyleSource = std::unique_ptr<classlib::TStream> (*)();
void SetDefaultStyleSource(TsgDefaultStyleSource source);
// The default style's root once it was read, else none (no read happens).
TsgObject* LoadedDefaultStyle();
// Reads the default style on the first call (once, even when the read
// fails) and keeps its root for the life of the process.
TsgObject* DefaultStyle();
// Frees the default style so that the next DefaultStyle reads again.
void ResetDefaultStyle();

// Registers TsgResources.
void RegisterStyleClasses();

}  // namespace kelm::scene
