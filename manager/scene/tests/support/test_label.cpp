#include "test_label.h"

#include "classlib/classdef.h"

namespace kelm::scene {

CL_CLASS(TsgTestLabel) {}

}  // namespace kelm::scene
