// Windows' own words for an error code, after the number, in the tool's own
// failure lines: "80 (The file exists.)".
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Writes the code and, when Windows has one, its text in brackets, the line
// end stripped; gives out.
const char* quorvex_error_text(DWORD code, char* out, size_t size);

// Room for any code with its text.
constexpr size_t QUORVEX_ERROR_TEXT_MAX = 320;
