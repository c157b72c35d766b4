#pragma once
// The COM core in one include.

#include "com/bstr.h"
#include "com/cocreate.h"
#include "com/comobject.h"
#include "com/comptr.h"
#include "com/guid.h"
#include "com/unknown.h"
