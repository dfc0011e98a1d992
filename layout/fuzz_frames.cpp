#include "layout/fuzz_frames.h"

#include <string.h>

namespace {

// One byte or two of a kind's inner report that a field covers: keys and
// text count a unit a byte, so that each slot meets its boundaries.
struct field_unit {
    const layout_kind* kind;
    uint8_t offset;  // in the inner report
    uint8_t width;
};

// Calls each(unit) for every unit of every kind, in table order: the groups'
// fields group by group, then the plain fields.
template <typename F>
void each_unit(F each) {
    size_t count = 0;
    const layout_kind* kinds = layout_kinds(&count);
    for (size_t k = 0; k < count; ++k) {
        const layout_kind& kind = kinds[k];
        auto units_of = [&](const layout_field& field, int base) {
            const bool bytewise = field.style == field_style::keys || field.style == field_style::text;
            if (!bytewise) {
                each(field_unit{&kind, static_cast<uint8_t>(base + field.offset), field.width});
                return;
            }
            for (int i = 0; i < field.width; ++i) each(field_unit{&kind, static_cast<uint8_t>(base + field.offset + i), 1});
        };
        for (int g = 0; g < kind.groups; ++g)
            for (int f = 0; f < kind.group_field_count; ++f)
                units_of(kind.group_fields[f], kind.group_offset + g * kind.group_size);
        for (int f = 0; f < kind.field_count; ++f) units_of(kind.fields[f], 0);
    }
}

uint64_t unit_count() {
    uint64_t units = 0;
    each_unit([&](const field_unit&) { ++units; });
    return units;
}

void header(uint8_t* frame, const layout_kind& kind) {
    frame[0] = LAYOUT_FRAME_ID;
    frame[1] = kind.length;
    frame[2] = kind.id;
}

void put(uint8_t* inner, uint8_t offset, uint8_t width, uint32_t value) {
    inner[offset] = static_cast<uint8_t>(value & 0xFF);
    if (width == 2) inner[offset + 1] = static_cast<uint8_t>(value >> 8 & 0xFF);
}

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The random phase: a generator of its own for each frame, from the seed and
// the frame's number.
struct random_bytes {
    uint64_t state;
    uint8_t next() {
        state = mix(state);
        return static_cast<uint8_t>(state >> 56);
    }
};

void random_frame(uint32_t seed, uint64_t index, uint8_t* frame) {
    random_bytes random{mix(static_cast<uint64_t>(seed) << 32 ^ mix(index))};
    size_t count = 0;
    const layout_kind* kinds = layout_kinds(&count);
    const layout_kind& kind = kinds[random.next() % count];
    switch (random.next() % 3) {
        case 0:  // within the kind's layout
            header(frame, kind);
            for (int i = 1; i < kind.length; ++i) frame[2 + i] = random.next();
            return;
        case 1:  // within and beyond it
            header(frame, kind);
            for (int i = 3; i < LAYOUT_FRAME_SIZE; ++i) frame[i] = random.next();
            return;
        default:  // a random header too; now and then not even the control report's ID
            frame[0] = random.next() % 8 == 0 ? random.next() : LAYOUT_FRAME_ID;
            for (int i = 1; i < LAYOUT_FRAME_SIZE; ++i) frame[i] = random.next();
            return;
    }
}

}  // namespace

uint64_t fuzz_header_frames() {
    size_t count = 0;
    layout_kinds(&count);
    return 256 + 256 * count;
}

uint64_t fuzz_field_frames() {
    size_t count = 0;
    layout_kinds(&count);
    return 4 * unit_count() + count;
}

fuzz_phase fuzz_frame(uint32_t seed, uint64_t index, uint8_t frame[LAYOUT_FRAME_SIZE]) {
    memset(frame, 0, LAYOUT_FRAME_SIZE);
    size_t count = 0;
    const layout_kind* kinds = layout_kinds(&count);
    frame[0] = LAYOUT_FRAME_ID;

    if (index < 256) {
        // Every kind byte with its own length, 0 for one the device does not know.
        const layout_kind* kind = layout_kind_of(static_cast<uint8_t>(index));
        frame[1] = kind != nullptr ? kind->length : 0;
        frame[2] = static_cast<uint8_t>(index);
        return fuzz_phase::headers;
    }
    if (index < fuzz_header_frames()) {
        const uint64_t n = index - 256;
        header(frame, kinds[n / 256]);
        frame[1] = static_cast<uint8_t>(n % 256);
        return fuzz_phase::headers;
    }

    uint64_t n = index - fuzz_header_frames();
    const uint64_t boundaries = 4 * unit_count();
    if (n < boundaries) {
        uint64_t seen = 0;
        each_unit([&](const field_unit& unit) {
            if (seen++ != n / 4) return;
            header(frame, *unit.kind);
            const uint32_t max = unit.width == 2 ? 0xFFFF : 0xFF;
            const uint32_t values[4] = {0, 1, max, max - 1};
            put(frame + 2, unit.offset, unit.width, values[n % 4]);
        });
        return fuzz_phase::fields;
    }
    n -= boundaries;
    if (n < count) {
        header(frame, kinds[n]);
        for (int i = 2 + kinds[n].length; i < LAYOUT_FRAME_SIZE; ++i) frame[i] = 0xFF;
        return fuzz_phase::fields;
    }
    random_frame(seed, index, frame);
    return fuzz_phase::random;
}
