#include "shared_handler.h"

#include "classlib/classdef.h"

namespace kelm::kit {

CL_CLASS(THandlerWindow) {}

THandlerWindow::THandlerWindow()
    : window_(classlib::AllocateHWnd([this](classlib::TMessage& m) { WndProc(m); })) {}

THandlerWindow::~THandlerWindow() { classlib::DeallocateHWnd(window_); }

void THandlerWindow::Default(classlib::TMessage& m) {
  m.Result = DefWindowProcW(window_, m.Msg, m.WParam, m.LParam);
}

}  // namespace kelm::kit
