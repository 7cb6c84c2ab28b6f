// The string ids of BrimSetCheck.dll: BrimSet's own, since the DLL says
// BrimSet's sentences for what stops a verb.
#pragma once

#include "../config/resource.h"
