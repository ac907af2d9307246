// Where the preview handler may write its temporary files: at Low integrity (the Shell's preview
// surrogate runs there) the user's ordinary temporary folder is closed to it.
#pragma once

#include <windows.h>

#include <string>

// The integrity level of this process's token as its relative identifier (SECURITY_MANDATORY_LOW_RID
// and so on); SECURITY_MANDATORY_MEDIUM_RID when the token cannot be read.
DWORD ProcessIntegrityLevel() noexcept;

// Makes PreviewTempDirectory choose as for a token at the given level (0: the token's own again).
// Wine's tokens always read High, so tests set the level here.
void OverrideIntegrityLevel(DWORD level) noexcept;

// At Low integrity or below, the user's LocalLow temporary folder (FOLDERID_LocalAppDataLow\Temp,
// created if missing), where a Low process may write; otherwise the user's temporary folder. With a
// trailing separator; empty when the folder cannot be named. Throws std::bad_alloc.
std::wstring PreviewTempDirectory();
