#include "client/error_text.h"

#include <cstdio>
#include <cstring>

const char* quorvex_error_text(DWORD code, char* out, size_t size) {
    char text[QUORVEX_ERROR_TEXT_MAX - 16] = {};
    // Language 0: the neutral text first, then the thread's, the user's, the
    // system's and US English, so some text is found wherever one exists.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
    text[length] = '\0';
    if (length == 0) snprintf(out, size, "%d", static_cast<int>(code));
    else snprintf(out, size, "%d (%s)", static_cast<int>(code), text);
    return out;
}
