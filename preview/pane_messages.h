// What a preview pane tells its host beyond the preview handler's interfaces.
#pragma once

// Registered window message that the pane's view posts to its parent after each paint that left
// nothing in view waiting to be drawn: wParam the first page in view (1-based), lParam the last;
// both 0 when the pane shows a message instead of pages. Hosts may wait for it (the project's
// preview host and tests do); others ignore it. The view's window text is the message it shows, or
// empty.
constexpr wchar_t kPanePaintedMessageName[] = L"TorvViewPreviewPainted";
