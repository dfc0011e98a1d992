#include "layout/report_layout.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/printf_format.h"

namespace {

constexpr layout_field kMouse[] = {
    {"buttons", 1, 1, field_style::hex_byte},
    {"x", 2, 2, field_style::number},
    {"y", 4, 2, field_style::number},
    {"wheel", 6, 1, field_style::number},
};
constexpr layout_field kDigitizer[] = {
    {"status", 1, 1, field_style::number},
    {"x", 2, 2, field_style::number},
    {"y", 4, 2, field_style::number},
};
constexpr layout_field kJoystick[] = {
    {"v1", 1, 1, field_style::number}, {"v2", 2, 1, field_style::number}, {"v3", 3, 1, field_style::number},
    {"v4", 4, 1, field_style::number}, {"v5", 5, 1, field_style::number}, {"v6", 6, 1, field_style::number},
    {"v7", 7, 2, field_style::number},
};
// Byte 2 is reserved: no field covers it, so a frame with it set is a raw frame.
constexpr layout_field kKeyboard[] = {
    {"modifiers", 1, 1, field_style::modifiers},
    {"keys", 3, 6, field_style::keys},
};
// A contact's fields, from the start of its group.
constexpr layout_field kContact[] = {
    {"status", 0, 1, field_style::number}, {"id", 1, 1, field_style::number}, {"x", 2, 2, field_style::number},
    {"y", 4, 2, field_style::number},      {"w", 6, 2, field_style::number},  {"h", 8, 2, field_style::number},
};
constexpr layout_field kMultitouch[] = {{"count", 21, 1, field_style::number}};
constexpr layout_field kMessage[] = {{"data", 1, 32, field_style::text}};

template <size_t N>
constexpr uint8_t count_of(const layout_field (&)[N]) {
    return static_cast<uint8_t>(N);
}

constexpr layout_kind kKinds[] = {
    {"multitouch", 0x01, 22, true, 2, 1, 10, kContact, count_of(kContact), kMultitouch, count_of(kMultitouch)},
    {"mouse", 0x03, 7, false, 0, 0, 0, nullptr, 0, kMouse, count_of(kMouse)},
    {"digitizer", 0x05, 6, false, 0, 0, 0, nullptr, 0, kDigitizer, count_of(kDigitizer)},
    {"joystick", 0x06, 9, false, 0, 0, 0, nullptr, 0, kJoystick, count_of(kJoystick)},
    {"keyboard", 0x07, 9, false, 0, 0, 0, nullptr, 0, kKeyboard, count_of(kKeyboard)},
    {"message", 0x10, 33, false, 0, 0, 0, nullptr, 0, kMessage, count_of(kMessage)},
};

const char* const kModifiers[8] = {"Left Ctrl",  "Left Shift",  "Left Alt",  "Left GUI",
                                   "Right Ctrl", "Right Shift", "Right Alt", "Right GUI"};

struct named_key {
    uint8_t usage;
    const char* name;
};
constexpr named_key kNamedKeys[] = {{0x27, "0"},     {0x28, "Enter"}, {0x29, "Escape"},   {0x2A, "Backspace"},
                                    {0x2B, "Tab"},   {0x2C, "Space"}, {0x39, "Caps Lock"}};
// Usages 0x04 to 0x26: the letters, then the digits 1 to 9.
const char* const kLetterKeys[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q",
                                   "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "1", "2", "3", "4", "5", "6", "7", "8",
                                   "9"};
constexpr int kLetterCount = sizeof(kLetterKeys) / sizeof(kLetterKeys[0]);

bool same_name(const char* name, const char* text, size_t length) {
    if (strlen(name) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char a = name[i], b = text[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

// Appends to a bounded buffer; what does not fit is cut, and the text stays terminated.
struct writer {
    char* out;
    size_t cap;
    size_t length;
    void add(QUORVEX_FORMAT_STRING const char* format, ...) QUORVEX_PRINTF_LIKE(2, 3) {
        if (length + 1 >= cap) return;
        va_list arguments;
        va_start(arguments, format);
        const int wrote = vsnprintf(out + length, cap - length, format, arguments);
        va_end(arguments);
        if (wrote > 0) length += static_cast<size_t>(wrote) < cap - length ? static_cast<size_t>(wrote) : cap - length - 1;
    }
};

void add_data(writer& w, const uint8_t* data) {
    size_t end = 0;  // the text: up to the first zero
    while (end < LAYOUT_DATA_SIZE && data[end] != 0) ++end;
    bool zeros_after = true;
    for (size_t i = end; i < LAYOUT_DATA_SIZE; ++i) zeros_after = zeros_after && data[i] == 0;
    if (zeros_after) {
        w.add("\"");
        for (size_t i = 0; i < end; ++i) {
            const uint8_t c = data[i];
            if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') w.add("%c", c);
            else w.add("\\x%02x", c);
        }
        w.add("\"");
        return;
    }
    size_t last = LAYOUT_DATA_SIZE;
    while (last > 0 && data[last - 1] == 0) --last;
    w.add("hex=");
    for (size_t i = 0; i < last; ++i) w.add("%02x", data[i]);
}

void add_field(writer& w, const uint8_t* base, const layout_field& field) {
    const uint32_t value = layout_get(base, field);
    switch (field.style) {
        case field_style::number: w.add("%s=%u", field.name, static_cast<unsigned>(value)); return;
        case field_style::hex_byte: w.add("%s=0x%02x", field.name, static_cast<unsigned>(value)); return;
        case field_style::modifiers: {
            w.add("%s=[", field.name);
            const char* separator = "";
            for (int bit = 0; bit < 8; ++bit) {
                if ((value & (1u << bit)) == 0) continue;
                w.add("%s%s", separator, kModifiers[bit]);
                separator = ", ";
            }
            w.add("]");
            return;
        }
        case field_style::keys: {
            // Up to the last key down, with the empty slots before it, so
            // that every key keeps its slot.
            int last = field.width;
            while (last > 0 && base[field.offset + last - 1] == 0) --last;
            w.add("%s=[", field.name);
            for (int i = 0; i < last; ++i) {
                const uint8_t usage = base[field.offset + i];
                const char* name = usage == 0 ? nullptr : layout_key_name(usage);
                if (name != nullptr) w.add("%s%s", i == 0 ? "" : ", ", name);
                else w.add("%s0x%02x", i == 0 ? "" : ", ", usage);
            }
            w.add("]");
            return;
        }
        case field_style::text: add_data(w, base + field.offset); return;
    }
}

// Whether the kind's fields cover every byte of the frame that is not zero.
bool fields_cover(const layout_kind& kind, const uint8_t* frame) {
    bool covered[LAYOUT_FRAME_SIZE] = {};
    covered[0] = covered[1] = covered[2] = true;
    for (int g = 0; g < kind.groups; ++g)
        for (int f = 0; f < kind.group_field_count; ++f) {
            const layout_field& field = kind.group_fields[f];
            for (int i = 0; i < field.width; ++i) covered[2 + kind.group_offset + g * kind.group_size + field.offset + i] = true;
        }
    for (int f = 0; f < kind.field_count; ++f)
        for (int i = 0; i < kind.fields[f].width; ++i) covered[2 + kind.fields[f].offset + i] = true;
    for (int i = 0; i < LAYOUT_FRAME_SIZE; ++i)
        if (!covered[i] && frame[i] != 0) return false;
    return true;
}

}  // namespace

const layout_kind* layout_kinds(size_t* count) {
    *count = sizeof(kKinds) / sizeof(kKinds[0]);
    return kKinds;
}

const layout_kind* layout_kind_of(uint8_t id) {
    for (const layout_kind& kind : kKinds)
        if (kind.id == id) return &kind;
    return nullptr;
}

const layout_kind* layout_kind_named(const char* name, size_t length) {
    for (const layout_kind& kind : kKinds)
        if (strlen(kind.name) == length && strncmp(kind.name, name, length) == 0) return &kind;
    return nullptr;
}

uint32_t layout_get(const uint8_t* inner, const layout_field& field) {
    if (field.width == 2) return inner[field.offset] | static_cast<uint32_t>(inner[field.offset + 1]) << 8;
    return inner[field.offset];
}

void layout_put(uint8_t* inner, const layout_field& field, uint32_t value) {
    inner[field.offset] = static_cast<uint8_t>(value & 0xFF);
    if (field.width == 2) inner[field.offset + 1] = static_cast<uint8_t>(value >> 8 & 0xFF);
}

const char* layout_key_name(uint8_t usage) {
    if (usage >= 0x04 && usage < 0x04 + kLetterCount) return kLetterKeys[usage - 0x04];
    for (const named_key& key : kNamedKeys)
        if (key.usage == usage) return key.name;
    return nullptr;
}

int layout_key_named(const char* name, size_t length) {
    for (int i = 0; i < kLetterCount; ++i)
        if (same_name(kLetterKeys[i], name, length)) return 0x04 + i;
    for (const named_key& key : kNamedKeys)
        if (same_name(key.name, name, length)) return key.usage;
    return -1;
}

const char* layout_modifier_name(int bit) { return bit >= 0 && bit < 8 ? kModifiers[bit] : nullptr; }

int layout_modifier_named(const char* name, size_t length) {
    for (int bit = 0; bit < 8; ++bit)
        if (same_name(kModifiers[bit], name, length)) return bit;
    return -1;
}

size_t layout_describe_data(const uint8_t data[LAYOUT_DATA_SIZE], char* out, size_t cap) {
    writer w{out, cap, 0};
    if (cap > 0) out[0] = 0;
    add_data(w, data);
    return w.length;
}

size_t layout_describe_answer(const uint8_t* data, size_t length, char* out, size_t cap) {
    uint8_t padded[LAYOUT_DATA_SIZE] = {};
    memcpy(padded, data, length < LAYOUT_DATA_SIZE ? length : LAYOUT_DATA_SIZE);
    writer w{out, cap, 0};
    if (cap > 0) out[0] = 0;
    w.add("expect ");
    add_data(w, padded);
    return w.length;
}

size_t layout_describe_inner(const uint8_t* inner, size_t length, bool via_set, char* out, size_t cap) {
    uint8_t frame[LAYOUT_FRAME_SIZE] = {};
    frame[0] = LAYOUT_FRAME_ID;
    if (length > LAYOUT_FRAME_SIZE - 2) length = LAYOUT_FRAME_SIZE - 2;
    const layout_kind* kind = layout_kind_of(inner[0]);
    frame[1] = kind != nullptr ? kind->length : static_cast<uint8_t>(length);
    memcpy(frame + 2, inner, length);
    return layout_describe_frame(frame, via_set, out, cap);
}

size_t layout_describe_frame(const uint8_t frame[LAYOUT_FRAME_SIZE], bool via_set, char* out, size_t cap) {
    writer w{out, cap, 0};
    if (cap > 0) out[0] = 0;
    const layout_kind* kind = layout_kind_of(frame[2]);
    // A kind's own form gives back every byte only with its own header, its
    // own way of sending, and nothing outside its fields.
    if (kind != nullptr && frame[0] == LAYOUT_FRAME_ID && frame[1] == kind->length && via_set == kind->set_output &&
        fields_cover(*kind, frame)) {
        const uint8_t* inner = frame + 2;
        w.add("%s", kind->name);
        for (int g = 0; g < kind->groups; ++g) {
            const uint8_t* group = inner + kind->group_offset + g * kind->group_size;
            w.add(" [");
            for (int f = 0; f < kind->group_field_count; ++f) {
                if (f != 0) w.add(" ");
                add_field(w, group, kind->group_fields[f]);
            }
            w.add("]");
        }
        for (int f = 0; f < kind->field_count; ++f) {
            w.add(" ");
            add_field(w, inner, kind->fields[f]);
        }
        return w.length;
    }
    return layout_describe_raw_frame(frame, via_set, out, cap);
}

size_t layout_describe_raw_frame(const uint8_t frame[LAYOUT_FRAME_SIZE], bool via_set, char* out, size_t cap) {
    // The fuzz journal writes 64 of these a batch: digits by hand, not a
    // formatting call a byte, which a C runtime makes slow.
    static const char kDigits[] = "0123456789abcdef";
    char line[LAYOUT_STEP_MAX];
    size_t length = 0;
    int last = LAYOUT_FRAME_SIZE;
    while (last > 1 && frame[last - 1] == 0) --last;
    memcpy(line, "frame", 5);
    length = 5;
    for (int i = 0; i < last; ++i) {
        line[length++] = ' ';
        line[length++] = kDigits[frame[i] >> 4];
        line[length++] = kDigits[frame[i] & 0xF];
    }
    if (via_set) {
        memcpy(line + length, " via=set", 8);
        length += 8;
    }
    if (cap == 0) return 0;
    if (length >= cap) length = cap - 1;
    memcpy(out, line, length);
    out[length] = 0;
    return length;
}
