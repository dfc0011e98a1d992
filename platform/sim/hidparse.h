// The HID parser of the simulated hid library: what a collection's report
// descriptor declares, read from the descriptor itself, as the class driver
// reads it into preparsed data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sim/winapi.h"

// One input main item that carries data, where it lies in its report.
struct hid_field {
    UCHAR report_id;
    USAGE usage_page;
    std::vector<USAGE> usages;  // listed; empty: the range
    USAGE usage_min, usage_max;
    uint32_t bit_offset;  // after the report ID byte
    USHORT bit_size, count;
    bool variable;  // false: an array of usage indices
    LONG logical_min, logical_max;
};

struct hid_parsed {
    USAGE usage_page = 0;  // of the top-level collection
    USAGE usage = 0;
    // The longest report of each type, the report ID byte included, as Windows counts them.
    USHORT input_length = 0;
    USHORT output_length = 0;
    USHORT feature_length = 0;
    USHORT link_collections = 0;
    USHORT input_buttons = 0;  // button capabilities: 1-bit variables and arrays
    std::vector<HIDP_VALUE_CAPS> input_values;
    std::vector<uint8_t> input_ids;  // the input reports' IDs, in order of declaration
    std::vector<hid_field> input_fields;
};

// The usage of a field's element: a variable's own, or the usage an array element's value selects (0: none).
USAGE hid_usage_of(const hid_field& field, uint32_t element, LONG value);
// An element's value as the field declares it, sign-extended when its logical minimum is negative.
LONG hid_value(const hid_field& field, uint32_t element, const uint8_t* report, size_t length);

// False for a descriptor that is not well formed: a short item, an
// unbalanced collection, a main item outside any collection.
bool hid_parse(const uint8_t* descriptor, size_t size, hid_parsed* out);
