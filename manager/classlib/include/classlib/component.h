// Persistent objects and components: ownership, names, state flags, free
// notifications and the streaming hooks the reader and writer call.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/object.h"

namespace classlib {

class TFiler;
class TReader;
class TWriter;
class TComponent;

class TPersistent : public TObject {
  CL_DECLARE_CLASS(TPersistent, TObject)
 public:
  // Copies from source: asks source->AssignTo(this); none raises the
  // conversion error as well.
  virtual void Assign(TPersistent* source);
  // Default: EConvertError "Cannot assign a <source class> to a <this class>".
  virtual void AssignTo(TPersistent* dest);
  // Custom stream properties (TFiler::DefineProperty and friends).
  virtual void DefineProperties(TFiler& filer);
  // The object that owns this one in a stream path (a collection's owner).
  virtual TPersistent* GetOwner() { return nullptr; }

 protected:
  [[noreturn]] void AssignError(TPersistent* source);
};

class TStream;

// Objects that load and save themselves as a whole (pictures, bitmaps).
class IStreamPersist {
 public:
  static constexpr TGUID IID = {
      0x6E1B3C2Au, 0x94D7, 0x4C05, {0xA8, 0x1F, 0x3B, 0x52, 0xC9, 0x60, 0x7D, 0x14}};
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;

 protected:
  ~IStreamPersist() = default;
};

// A persistent object that answers interface queries for the interfaces
// its class implements (IStreamPersist so far).
class TInterfacedPersistent : public TPersistent {
  CL_DECLARE_CLASS(TInterfacedPersistent, TPersistent)
 public:
  TInterfacedPersistent() = default;
  bool GetInterface(const TGUID& iid, void** obj) override;
};

enum class TOperation { opInsert, opRemove };

enum TComponentStateFlag {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
using TComponentState = TSet<TComponentStateFlag>;

enum TComponentStyleFlag { csInheritable, csCheckPropAvail, csSubComponent, csTransient };
using TComponentStyle = TSet<TComponentStyleFlag>;

using TGetChildProc = std::function<void(TComponent*)>;

// How a component's help is looked up: by keyword or by context number.
// Portable, since scene controls carry help fields too.
enum class THelpType { htKeyword, htContext };
extern const TTypeInfo TypeInfo_THelpType;

class TComponent : public TPersistent {
  CL_DECLARE_CLASS(TComponent, TPersistent)
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  void BeforeDestruction() override;

  // ---- ownership
  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // Raises EListError outside 0..ComponentCount-1.
  TComponent* Components(int index) const;
  int ComponentIndex() const;
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  // Frees every owned component, re-reading the list after each free.
  void DestroyComponents();
  // Flags this component and everything it owns as being destroyed.
  void Destroying();
  // Owned component by name, compared without case; none when absent.
  TComponent* FindComponent(std::string_view name) const;

  // ---- identity
  const std::string& Name() const { return name_; }
  // Empty, or a valid identifier unique (without case) within the owner;
  // otherwise EComponentError.
  virtual void SetName(const std::string& newName);
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

  // ---- state
  TComponentState ComponentState() const { return state_; }
  TComponentStyle ComponentStyle() const { return style_; }
  bool IsLoading() const { return state_.Contains(csLoading); }
  bool IsDesigning() const { return state_.Contains(csDesigning); }
  bool IsDestroying() const { return state_.Contains(csDestroying); }
  // Design state for this component and, when asked, what it owns.
  void SetDesigning(bool value, bool setChildren = true);
  // Streamed inline, as a sub-object of the component publishing it.
  void SetSubComponent(bool value);
  void Updating() { state_.Include(csUpdating); }
  void Updated() { state_.Exclude(csUpdating); }

  // ---- free notifications: Notification(this, opRemove) reaches every
  // registered component when this one is freed, and the other way round.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  // Default: drops the registration with a removed component and passes
  // the notice to every owned component.
  virtual void Notification(TComponent* component, TOperation operation);

  // ---- streaming hooks
  // Children a writer stores with this component: by default the owned
  // components that have no streaming parent, when this is the root.
  virtual void GetChildren(const TGetChildProc& proc, TComponent* root);
  virtual TComponent* GetChildOwner() { return nullptr; }
  virtual TComponent* GetChildParent() { return this; }
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* parent) { (void)parent; }
  virtual void SetChildOrder(TComponent* child, int order) { (void)child, (void)order; }
  // Reads this component's properties and children (TReader::ReadData).
  virtual void ReadState(TReader& reader);
  // Writes this component (TWriter::WriteData).
  virtual void WriteState(TWriter& writer);
  // After a whole stream is read and its references resolved.
  virtual void Loaded();
  virtual void ValidateRename(TComponent* component, const std::string& curName,
                              const std::string& newName);

  TPersistent* GetOwner() override { return owner_; }

 protected:
  void ReleaseLinks() final;

 private:
  friend class TReader;
  friend class TWriter;
  void Teardown();

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  std::string name_;
  int32_t tag_ = 0;
  TComponentState state_;
  TComponentStyle style_{csInheritable};
  bool tornDown_ = false;
};

// Global lookup of top-level components (forms) by name, for references
// such as "frmManager.sgResources1". The Win32 part registers its screen's
// form list; tests may register their own.
using TFindGlobalComponent = TComponent* (*)(std::string_view name);
void RegisterFindGlobalComponent(TFindGlobalComponent finder);
void UnRegisterFindGlobalComponent(TFindGlobalComponent finder);
TComponent* FindGlobalComponent(std::string_view name);

}  // namespace classlib
