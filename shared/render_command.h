// The parts of a render command that both DLLs build alike: the per-user template and its placeholders.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

// The RenderCommand text of HKEY_CURRENT_USER\<classKeyPath>, taken literally (REG_EXPAND_SZ is
// not expanded) and read afresh on every call; empty when the key or value is missing, has another
// type or holds no text. Throws std::bad_alloc.
std::wstring ReadRenderCommandTemplate(const std::wstring& classKeyPath);

// (needle, replacement)
using Replacement = std::pair<std::wstring_view, std::wstring_view>;

// Replaces every occurrence of each needle in one pass from left to right; where needles match
// at the same place the first listed wins, and inserted text is never searched again. Empty
// needles match nothing. Leaves text unchanged if it throws std::bad_alloc.
void ReplaceAll(std::wstring& text, std::initializer_list<Replacement> replacements);

// value in decimal. Throws std::bad_alloc.
std::wstring DecimalText(UINT value);
