// Keyboard usages as the system's keyboard class driver reports them: the
// scan code (set 1) each HID keyboard usage makes, with its E0 prefix. The
// program's own table, apart from the simulated system's.
#pragma once

#include <cstdint>

struct scan_code {
    uint8_t code;  // 0: the usage makes no key event
    bool e0;       // sent after an E0 prefix
};

// The scan code of a keyboard usage (0x04 to 0x65, and the modifiers 0xE0 to 0xE7).
scan_code layout_scan_code(uint8_t usage);
// The usage a scan code stands for; -1 for none.
int layout_usage_of_scan(uint8_t code, bool e0);
