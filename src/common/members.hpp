// PyMemberDef across interpreter versions (structmember.h before 3.12).
#pragma once

#include "common/pyref.hpp"

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#define ZQ_T_OBJECT_EX T_OBJECT_EX
#define ZQ_T_PYSSIZET T_PYSSIZET
#define ZQ_T_BOOL T_BOOL
#define ZQ_READONLY READONLY
#else
#define ZQ_T_OBJECT_EX Py_T_OBJECT_EX
#define ZQ_T_PYSSIZET Py_T_PYSSIZET
#define ZQ_T_BOOL Py_T_BOOL
#define ZQ_READONLY Py_READONLY
#endif
