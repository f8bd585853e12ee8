// Everything of the portable core in one include.
#pragma once

#include "classlib/classdef.h"
#include "classlib/codepage.h"
#include "classlib/collection.h"
#include "classlib/component.h"
#include "classlib/datetime.h"
#include "classlib/filer.h"
#include "classlib/input.h"
#include "classlib/lists.h"
#include "classlib/object.h"
#include "classlib/streams.h"
#include "classlib/strings.h"
#include "classlib/sysutils.h"
#include "classlib/textform.h"
#include "classlib/typinfo.h"
#include "classlib/variant.h"
