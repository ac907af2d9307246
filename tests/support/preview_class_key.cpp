// The preview DLL's tests set the preview class's RenderCommand.
#include "support/test_support.h"

#include "preview/preview_module.h"

namespace testing_support {

std::wstring RenderCommandClassKey()
{
    return PreviewClassKeyPath();
}

}  // namespace testing_support
