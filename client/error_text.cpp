#include "client/error_text.h"

#include <cstdio>
#include <cstring>

const char* quorvex_error_text(DWORD code, char* out, size_t size) {
    char text[QUORVEX_ERROR_TEXT_MAX - 16] = {};
    // The neutral language: what the system shows, whatever the thread's locale.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
    text[length] = '\0';
    if (length == 0) snprintf(out, size, "%d", static_cast<int>(code));
    else snprintf(out, size, "%d (%s)", static_cast<int>(code), text);
    return out;
}
