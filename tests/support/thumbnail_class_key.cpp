// The thumbnail DLL's tests set the thumbnail class's RenderCommand.
#include "support/test_support.h"

#include "module/torvthumb.h"

namespace testing_support {

std::wstring RenderCommandClassKey()
{
    return ClassKeyPath();
}

}  // namespace testing_support
