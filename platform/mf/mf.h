#pragma once
// The Media Foundation stand-in in one include.

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"
#include "mf/mferror.h"
#include "mf/mfguids.h"
#include "mf/mfidl.h"
#include "mf/mfobjects.h"
#include "mf/propvariant.h"
