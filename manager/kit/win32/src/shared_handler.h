// A hidden window shared by every object of one class: the first user makes
// it, the last one frees it. Kept as a file-level object, so a window still
// held by leaked users is freed when the program ends.
#pragma once

#include "classlib/forms.h"
#include "classlib/object.h"

namespace kelm::kit {

// The hidden utility window of a shared handler; its messages go to the
// handler's WndProc, and what it leaves to the system's procedure.
class THandlerWindow : public classlib::TObject {
  CL_DECLARE_CLASS(THandlerWindow, TObject)
 public:
  THandlerWindow();
  ~THandlerWindow() override;
  HWND Window() const { return window_; }

 protected:
  virtual void WndProc(classlib::TMessage& m) { Default(m); }
  void Default(classlib::TMessage& m);

 private:
  HWND window_;
};

template <class Handler>
class SharedHandler {
 public:
  SharedHandler() = default;
  SharedHandler(const SharedHandler&) = delete;
  SharedHandler& operator=(const SharedHandler&) = delete;
  ~SharedHandler() { classlib::FreeAndNil(handler_); }

  Handler* Acquire() {
    if (!handler_) handler_ = classlib::New<Handler>();
    ++users_;
    return handler_;
  }
  // The caller must not touch the handler afterwards: it may be gone.
  void Release() {
    if (users_ > 0 && --users_ == 0) classlib::FreeAndNil(handler_);
  }
  Handler* Get() const { return handler_; }

 private:
  Handler* handler_ = nullptr;
  int users_ = 0;
};

}  // namespace kelm::kit
