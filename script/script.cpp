#include "script/script.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/printf_format.h"

namespace {

constexpr uint32_t kSleepMax = 600000;

bool blank(char c) { return c == ' ' || c == '\t'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool word_char(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// One line being read: where it starts, where the reader is, and the first
// thing it found wrong.
struct cursor {
    const char* start;
    const char* at;
    const char* end;
    bool failed = false;
    const char* failed_at = nullptr;
    char expected[sizeof(script_error::expected)] = {};

    // "found 'WORD', expected WHAT": the word at where, as far as a blank,
    // a comma, a bracket or a comment, then what would have been right.
    bool fail(const char* where, QUORVEX_FORMAT_STRING const char* format, ...) QUORVEX_PRINTF_LIKE(3, 4) {
        if (failed) return false;
        failed = true;
        failed_at = where;
        size_t used = found(where);
        va_list arguments;
        va_start(arguments, format);
        vsnprintf(expected + used, sizeof(expected) - used, format, arguments);
        va_end(arguments);
        return false;
    }
    // A line that names what it found in words of its own.
    bool fail_as_is(const char* where, QUORVEX_FORMAT_STRING const char* format, ...) QUORVEX_PRINTF_LIKE(3, 4) {
        if (failed) return false;
        failed = true;
        failed_at = where;
        va_list arguments;
        va_start(arguments, format);
        vsnprintf(expected, sizeof(expected), format, arguments);
        va_end(arguments);
        return false;
    }
    // Writes "found ..., expected " and gives its length.
    size_t found(const char* where) {
        if (where == end || *where == '#') return static_cast<size_t>(snprintf(expected, sizeof(expected), "found the end of the line, expected "));
        char word[3 * 4 * 8 + 4] = {};
        size_t length = 0;
        const char* from = where;
        // The byte that was wrong, at least, however it reads.
        do {
            const auto byte = static_cast<unsigned char>(*from);
            if (byte >= 0x20 && byte < 0x7F) word[length++] = static_cast<char>(byte);
            else length += static_cast<size_t>(snprintf(word + length, sizeof(word) - length, "\\x%02X", byte));
            ++from;
        } while (from < end && length < 24 && !blank(*from) && *from != ',' && *from != ']' && *from != '#');
        const bool cut = from < end && !blank(*from) && *from != ',' && *from != ']' && *from != '#';
        return static_cast<size_t>(snprintf(expected, sizeof(expected), "found '%s%s', expected ", word, cut ? "..." : ""));
    }
    void skip_blanks() {
        while (at < end && blank(*at)) ++at;
    }
    // Where a step's words end: the line's end or a comment.
    bool at_end() const { return at == end || *at == '#'; }
    // A value ends at a blank, a bracket or comma that closes it, or the end.
    bool value_ended() const { return at_end() || blank(*at) || *at == ']' || *at == ','; }
    size_t word(const char** text) {
        *text = at;
        while (at < end && word_char(*at)) ++at;
        return static_cast<size_t>(at - *text);
    }
    bool take(char c) {
        if (at < end && *at == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool take(const char* text) {
        const size_t length = std::strlen(text);
        if (static_cast<size_t>(end - at) < length || std::strncmp(at, text, length) != 0) return false;
        at += length;
        return true;
    }
};

// Decimal, or hexadecimal after 0x; ten digits at most; never more than max.
bool number(cursor& c, uint32_t max, uint32_t* value) {
    const char* from = c.at;
    const bool hex = c.take("0x") || c.take("0X");
    uint64_t n = 0;
    int digits = 0;
    while (c.at < c.end && (hex ? hex_value(*c.at) >= 0 : (*c.at >= '0' && *c.at <= '9'))) {
        n = n * (hex ? 16 : 10) + static_cast<uint64_t>(hex ? hex_value(*c.at) : *c.at - '0');
        ++c.at;
        if (++digits > 10) break;
    }
    if (digits == 0 || digits > 10 || !c.value_ended())
        return c.fail(from, "a number from 0 to %u (decimal, or hexadecimal after 0x)", static_cast<unsigned>(max));
    if (n > max) return c.fail(from, "a number from 0 to %u", static_cast<unsigned>(max));
    *value = static_cast<uint32_t>(n);
    return true;
}

// "TEXT" with \xNN, \" and \\, or hex=HEX: data bytes, zeros after them.
bool data(cursor& c, uint8_t out[LAYOUT_DATA_SIZE]) {
    std::memset(out, 0, LAYOUT_DATA_SIZE);
    size_t length = 0;
    const char* from = c.at;
    if (c.take('"')) {
        for (;;) {
            if (c.at == c.end) return c.fail(c.at, "a closing quote");
            const char* byte_at = c.at;
            char ch = *c.at++;
            if (ch == '"') break;
            if (ch == '\\') {
                if (c.take('"') || c.take('\\')) {
                    ch = c.at[-1];
                } else if (c.take('x') && c.end - c.at >= 2 && hex_value(c.at[0]) >= 0 && hex_value(c.at[1]) >= 0) {
                    ch = static_cast<char>(hex_value(c.at[0]) * 16 + hex_value(c.at[1]));
                    c.at += 2;
                } else {
                    return c.fail(byte_at, "\\xNN (two hex digits), \\\" or \\\\ after a backslash");
                }
            }
            if (length == LAYOUT_DATA_SIZE) return c.fail(byte_at, "at most %d bytes of text", LAYOUT_DATA_SIZE);
            out[length++] = static_cast<uint8_t>(ch);
        }
        if (!c.value_ended()) return c.fail(c.at, "a blank or the end of the line after the closing quote");
        return true;
    }
    if (!c.take("hex=")) return c.fail(from, "a quoted \"TEXT\" or hex=HEX");
    const char* digits = c.at;
    while (!c.value_ended()) {
        if (c.end - c.at < 2 || hex_value(c.at[0]) < 0 || hex_value(c.at[1]) < 0)
            return c.fail(c.at, "two hex digits a byte");
        if (length == LAYOUT_DATA_SIZE) return c.fail(c.at, "at most %d bytes of data", LAYOUT_DATA_SIZE);
        out[length++] = static_cast<uint8_t>(hex_value(c.at[0]) * 16 + hex_value(c.at[1]));
        c.at += 2;
    }
    if (c.at == digits) return c.fail(digits, "two hex digits a byte");
    return true;
}

// One item of a bracketed list, blanks around it left out.
bool list_item(cursor& c, const char** item, size_t* length) {
    c.skip_blanks();
    *item = c.at;
    while (c.at < c.end && *c.at != ',' && *c.at != ']') ++c.at;
    if (c.at == c.end) return c.fail(c.at, "a ',' or a ']' to close the list");
    const char* last = c.at;
    while (last > *item && blank(last[-1])) --last;
    *length = static_cast<size_t>(last - *item);
    return true;
}

bool hex_usage(const char* item, size_t length, uint32_t* usage) {
    if (length < 3 || length > 4 || item[0] != '0' || (item[1] != 'x' && item[1] != 'X')) return false;
    uint32_t n = 0;
    for (size_t i = 2; i < length; ++i) {
        if (hex_value(item[i]) < 0) return false;
        n = n * 16 + static_cast<uint32_t>(hex_value(item[i]));
    }
    *usage = n;
    return true;
}

// [name, name, ...]: modifier names or usages 0xe0 to 0xe7 into bits, or key
// names or usages into slots.
bool name_list(cursor& c, const layout_field& field, uint8_t* inner) {
    if (!c.take('[')) return c.fail(c.at, "a '[' to open the list of %s", field.name);
    const bool keys = field.style == field_style::keys;
    int slot = 0;
    c.skip_blanks();
    if (c.take(']')) return c.value_ended() || c.fail(c.at, "a blank or the end of the line");
    for (;;) {
        const char* item = nullptr;
        size_t length = 0;
        if (!list_item(c, &item, &length)) return false;
        uint32_t usage = 0;
        if (keys) {
            const int shown = static_cast<int>(length < 24 ? length : 24);
            if (slot == field.width) return c.fail_as_is(item, "found '%.*s', expected at most %d keys", shown, item, field.width);
            const int named = layout_key_named(item, length);
            if (named < 0 && !hex_usage(item, length, &usage))
                return c.fail_as_is(item,
                                    "found '%.*s', expected a key: a name the device view prints (A, 1, Enter, Caps "
                                    "Lock, ...) or a usage in hexadecimal (0x04)",
                                    shown, item);
            inner[field.offset + slot++] = static_cast<uint8_t>(named >= 0 ? static_cast<uint32_t>(named) : usage);
        } else {
            const int bit = layout_modifier_named(item, length);
            if (bit >= 0) usage = 0xE0 + static_cast<uint32_t>(bit);
            else if (!hex_usage(item, length, &usage) || usage < 0xE0 || usage > 0xE7)
                return c.fail_as_is(item,
                                    "found '%.*s', expected a modifier: Left Ctrl, Left Shift, Left Alt, Left GUI, "
                                    "Right Ctrl, Right Shift, Right Alt, Right GUI, or its usage 0xe0 to 0xe7",
                                    static_cast<int>(length < 24 ? length : 24), item);
            inner[field.offset] = static_cast<uint8_t>(inner[field.offset] | 1u << (usage - 0xE0));
        }
        if (c.take(']')) break;
        c.take(',');
    }
    return c.value_ended() || c.fail(c.at, "a blank or the end of the line");
}

void list_names(char* out, size_t cap, const layout_field* fields, int count) {
    size_t used = std::strlen(out);
    for (int i = 0; i < count && used < cap; ++i) {
        snprintf(out + used, cap - used, "%s%s", i == 0 ? "" : i + 1 == count ? " or " : ", ", fields[i].name);
        used = std::strlen(out);
    }
}

// NAME=VALUE for one of these fields, each at most once.
bool field_value(cursor& c, const char* what, const layout_field* fields, int count, unsigned* given, uint8_t* base) {
    const char* name = nullptr;
    const size_t length = c.word(&name);
    int index = -1;
    for (int i = 0; i < count; ++i)
        if (std::strlen(fields[i].name) == length && std::strncmp(fields[i].name, name, length) == 0) index = i;
    if (index < 0 || !c.take('=')) {
        if (index >= 0) return c.fail(c.at, "'=' and a value after %s", fields[index].name);
        char names[sizeof(c.expected)] = {};
        list_names(names, sizeof(names), fields, count);
        const char* contact = std::strcmp(what, "multitouch") == 0 ? ", or a contact [...]" : "";
        if (length == 0) return c.fail(name, "a field of %s: %s%s", what, names, contact);
        return c.fail_as_is(name, "unknown field '%.*s' of %s (%s%s)", static_cast<int>(length < 24 ? length : 24), name,
                            what, names, contact);
    }
    if (*given & 1u << index)
        return c.fail_as_is(name, "%s given twice: each field once", fields[index].name);
    *given |= 1u << index;
    const layout_field& field = fields[index];
    if (field.style == field_style::modifiers || field.style == field_style::keys) return name_list(c, field, base);
    uint32_t value = 0;
    if (!number(c, layout_field_max(field), &value)) return false;
    layout_put(base, field, value);
    return true;
}

// A report kind with its fields: mouse x=1 y=2, multitouch [x=1 ...] count=1.
bool kind_step(cursor& c, const layout_kind& kind, uint8_t* frame) {
    frame[0] = LAYOUT_FRAME_ID;
    frame[1] = kind.length;
    uint8_t* inner = frame + 2;
    inner[0] = kind.id;
    unsigned given = 0;
    int groups = 0;
    for (;;) {
        c.skip_blanks();
        if (c.at_end()) return true;
        if (kind.groups > 0 && *c.at == '[') {
            if (groups == kind.groups) return c.fail(c.at, "at most %d contacts", kind.groups);
            ++c.at;
            uint8_t* group = inner + kind.group_offset + groups++ * kind.group_size;
            unsigned group_given = 0;
            for (;;) {
                c.skip_blanks();
                if (c.take(']')) break;
                if (c.at_end()) return c.fail(c.at, "a ']' to close the contact");
                if (!field_value(c, "a contact", kind.group_fields, kind.group_field_count, &group_given, group))
                    return false;
            }
            if (!c.value_ended()) return c.fail(c.at, "a blank or the end of the line");
            continue;
        }
        if (!field_value(c, kind.name, kind.fields, kind.field_count, &given, inner)) return false;
    }
}

bool frame_step(cursor& c, script_step& step) {
    int length = 0;
    for (;;) {
        c.skip_blanks();
        if (c.at_end()) break;
        if (c.take("via=")) {
            if (c.take("set")) step.kind = step_kind::set;
            else if (!c.take("write")) return c.fail(c.at, "set or write after via=");
            c.skip_blanks();
            if (!c.at_end()) return c.fail(c.at, "the end of the line after via=");
            break;
        }
        const char* byte = c.at;
        const bool two_digits = c.end - byte >= 2 && hex_value(byte[0]) >= 0 && hex_value(byte[1]) >= 0;
        if (two_digits) c.at += 2;
        if (!two_digits || !c.value_ended()) return c.fail(byte, "a byte as two hex digits, or via=set");
        if (length == LAYOUT_FRAME_SIZE) return c.fail(byte, "at most %d bytes", LAYOUT_FRAME_SIZE);
        step.bytes[length++] = static_cast<uint8_t>(hex_value(byte[0]) * 16 + hex_value(byte[1]));
    }
    return length > 0 || c.fail(c.at, "the frame's bytes as two hex digits each");
}

// The words that begin a step besides the report kinds' names; the error for
// an unknown step lists both from here.
enum class step_word { expect, flush, frame, sleep };
constexpr struct {
    const char* word;
    step_word kind;
} kStepWords[] = {
    {"expect", step_word::expect},
    {"flush", step_word::flush},
    {"frame", step_word::frame},
    {"sleep", step_word::sleep},
};

const step_word* step_word_named(const char* name, size_t length) {
    for (const auto& entry : kStepWords)
        if (std::strlen(entry.word) == length && std::strncmp(entry.word, name, length) == 0) return &entry.kind;
    return nullptr;
}

// "unknown step 'WORD' (multitouch, mouse, ..., frame or sleep)"
void fail_unknown_step(cursor& c, const char* where, const char* word, size_t length) {
    char words[sizeof(script_error::expected)] = "";
    size_t kinds = 0;
    const layout_kind* kind = layout_kinds(&kinds);
    const size_t all = kinds + sizeof(kStepWords) / sizeof(kStepWords[0]);
    for (size_t i = 0; i < all; ++i) {
        const char* name = i < kinds ? kind[i].name : kStepWords[i - kinds].word;
        const size_t used = std::strlen(words);
        snprintf(words + used, sizeof(words) - used, "%s%s", i == 0 ? "" : i + 1 == all ? " or " : ", ", name);
    }
    if (length == 0) {
        c.fail(where, "a step: %s", words);
        return;
    }
    c.fail_as_is(where, "unknown step '%.*s' (%s)", static_cast<int>(length < 24 ? length : 24), word, words);
}

// The step on one line, if any: true when it holds one, which *step gets.
bool read_step(cursor& c, script_step* step) {
    c.skip_blanks();
    if (c.at_end()) return false;
    std::memset(step, 0, sizeof(*step));
    const char* first = c.at;
    const char* name = nullptr;
    const size_t length = c.word(&name);
    const bool ended = length > 0 && (c.at_end() || blank(*c.at));
    c.skip_blanks();
    const layout_kind* kind = ended ? layout_kind_named(name, length) : nullptr;
    const step_word* word = ended && kind == nullptr ? step_word_named(name, length) : nullptr;

    step->kind = step_kind::write;
    if (kind != nullptr && kind->field_count > 0 && kind->fields[0].style == field_style::text) {
        step->bytes[0] = LAYOUT_FRAME_ID;
        step->bytes[1] = kind->length;
        step->bytes[2] = kind->id;
        data(c, step->bytes + 3);
    } else if (kind != nullptr) {
        if (kind->set_output) step->kind = step_kind::set;
        kind_step(c, *kind, step->bytes);
    } else if (word != nullptr && *word == step_word::expect) {
        step->kind = step_kind::expect;
        const bool any = c.end - c.at >= 3 && std::strncmp(c.at, "any", 3) == 0 &&
                         (c.at + 3 == c.end || blank(c.at[3]) || c.at[3] == '#');
        if (any) {
            step->kind = step_kind::expect_any;
            c.at += 3;
        } else {
            data(c, step->bytes);
        }
    } else if (word != nullptr && *word == step_word::flush) {
        step->kind = step_kind::flush;
    } else if (word != nullptr && *word == step_word::frame) {
        frame_step(c, *step);
    } else if (word != nullptr && *word == step_word::sleep) {
        step->kind = step_kind::sleep;
        number(c, kSleepMax, &step->sleep_ms);
    } else {
        size_t typed = 0;
        while (first + typed < c.end && !blank(first[typed]) && first[typed] != '#') ++typed;
        fail_unknown_step(c, first, first, typed);
    }
    const char* last = c.at;
    c.skip_blanks();
    if (!c.failed && !c.at_end()) c.fail(c.at, "the end of the line");
    while (last > first && blank(last[-1])) --last;
    step->text = static_cast<uint32_t>(first - c.start);
    step->text_length = static_cast<uint32_t>(last - first);
    return true;
}

}  // namespace

namespace {

// A byte-order mark of either order, or a NUL every other byte in what
// begins the text: what Windows PowerShell 5.1's > and Notepad's "Unicode" write.
bool looks_utf16(const char* text, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) return true;
    const size_t looked = size < 64 ? size & ~static_cast<size_t>(1) : 64;
    if (looked < 4) return false;
    bool even = true, odd = true;
    for (size_t i = 0; i < looked; i += 2) {
        even = even && bytes[i] == 0;
        odd = odd && bytes[i + 1] == 0;
    }
    return even || odd;
}

}  // namespace

bool script_compile(const char* text, size_t size, script_step* steps, size_t room, script_check* check) {
    std::memset(check, 0, sizeof(*check));
    if (looks_utf16(text, size)) {
        check->utf16 = true;
        check->errors = 1;
        return false;
    }
    size_t at = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    for (uint32_t line = 1; at < size; ++line) {
        const char* begin = text + at;
        const char* newline = static_cast<const char*>(std::memchr(begin, '\n', size - at));
        const char* end = newline != nullptr ? newline : text + size;
        at = static_cast<size_t>(end - text) + (newline != nullptr ? 1 : 0);
        if (end > begin && end[-1] == '\r') --end;

        cursor c{begin, begin, end};
        script_step step;
        if (!read_step(c, &step)) continue;
        if (c.failed) {
            if (check->errors < SCRIPT_ERRORS_KEPT) {
                script_error& error = check->kept[check->errors];
                error.line = line;
                error.column = static_cast<uint32_t>(c.failed_at - begin) + 1;
                std::memcpy(error.expected, c.expected, sizeof(error.expected));
            }
            ++check->errors;
            continue;
        }
        step.line = line;
        step.text += static_cast<uint32_t>(begin - text);
        if (steps != nullptr && check->steps < room) steps[check->steps] = step;
        ++check->steps;
    }
    return check->errors == 0;
}
