// The renderer's way to the owners of Win32 handles, which both DLLs and the renderer share.
#pragma once

#include "shared/unique_resource.h"
