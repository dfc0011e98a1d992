// A HID report descriptor parser, small: the short items, global state with
// report IDs, usages listed or as a range, collections nested. Enough for the
// device model's descriptors and what HidP_GetCaps and HidP_GetValueCaps tell.

#include "platform/sim/hidparse.h"

#include <algorithm>
#include <map>

namespace {

struct globals {
    USAGE usage_page = 0;
    LONG logical_min = 0, logical_max = 0;
    LONG physical_min = 0, physical_max = 0;
    ULONG unit_exp = 0, unit = 0;
    USHORT report_size = 0, report_count = 0;
    UCHAR report_id = 0;
};

struct locals {
    std::vector<uint32_t> usages;  // extended: page << 16 | usage when the item gave a page
    uint32_t usage_min = 0, usage_max = 0;
    bool range = false;
};

uint32_t unsigned_value(const uint8_t* data, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
    return value;
}

LONG signed_value(const uint8_t* data, int size) {
    const uint32_t value = unsigned_value(data, size);
    if (size == 1) return static_cast<int8_t>(value);
    if (size == 2) return static_cast<int16_t>(value);
    return static_cast<LONG>(value);
}

}  // namespace

bool hid_parse(const uint8_t* d, size_t size, hid_parsed* out) {
    *out = hid_parsed();
    globals g;
    locals l;
    std::map<UCHAR, uint32_t> bits[3];  // per report type, by report ID
    std::vector<USHORT> links;          // the open collections' link indices
    std::vector<std::pair<USAGE, USAGE>> link_usage;  // page, usage of each link collection
    USHORT data_index = 0;
    size_t at = 0;
    while (at < size) {
        const uint8_t prefix = d[at];
        if (prefix == 0xFE) return false;  // long items: none of ours
        const int length = (prefix & 3) == 3 ? 4 : prefix & 3;
        if (at + 1 + length > size) return false;
        const uint8_t* data = d + at + 1;
        const uint32_t u = unsigned_value(data, length);
        at += 1 + static_cast<size_t>(length);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 1) {  // global
            switch (tag) {
                case 0: g.usage_page = static_cast<USAGE>(u); break;
                case 1: g.logical_min = signed_value(data, length); break;
                case 2: g.logical_max = signed_value(data, length); break;
                case 3: g.physical_min = signed_value(data, length); break;
                case 4: g.physical_max = signed_value(data, length); break;
                case 5: g.unit_exp = u; break;
                case 6: g.unit = u; break;
                case 7: g.report_size = static_cast<USHORT>(u); break;
                case 8: g.report_id = static_cast<UCHAR>(u); break;
                case 9: g.report_count = static_cast<USHORT>(u); break;
                default: break;
            }
            continue;
        }
        if (type == 2) {  // local
            const uint32_t extended = length == 4 ? u : u & 0xFFFF;
            if (tag == 0) l.usages.push_back(length == 4 ? extended : (static_cast<uint32_t>(g.usage_page) << 16) | extended);
            if (tag == 1) l.usage_min = extended, l.range = true;
            if (tag == 2) l.usage_max = extended, l.range = true;
            continue;
        }
        if (type != 0) return false;
        auto page_of = [&](uint32_t usage) { return usage > 0xFFFF ? static_cast<USAGE>(usage >> 16) : g.usage_page; };
        if (tag == 0xA) {  // collection
            const uint32_t usage = l.usages.empty() ? 0 : l.usages.front();
            if (links.empty() && out->link_collections == 0) {
                out->usage_page = page_of(usage);
                out->usage = static_cast<USAGE>(usage & 0xFFFF);
            }
            links.push_back(out->link_collections++);
            link_usage.emplace_back(page_of(usage), static_cast<USAGE>(usage & 0xFFFF));
            l = locals();
            continue;
        }
        if (tag == 0xC) {  // end collection
            if (links.empty()) return false;
            links.pop_back();
            l = locals();
            continue;
        }
        const int report = tag == 0x8 ? 0 : tag == 0x9 ? 1 : tag == 0xB ? 2 : -1;
        if (report < 0) return false;
        if (links.empty()) return false;
        const uint32_t offset = bits[report][g.report_id];
        bits[report][g.report_id] += static_cast<uint32_t>(g.report_size) * g.report_count;
        const bool constant = (u & 0x01) != 0;
        const bool variable = (u & 0x02) != 0;
        if (report == 0 && !constant) {
            hid_field field;
            field.report_id = g.report_id;
            field.usage_page = l.range || l.usages.empty() ? page_of(l.usage_min) : page_of(l.usages.front());
            for (uint32_t usage : l.usages) field.usages.push_back(static_cast<USAGE>(usage & 0xFFFF));
            field.usage_min = static_cast<USAGE>(l.usage_min & 0xFFFF);
            field.usage_max = static_cast<USAGE>(l.usage_max & 0xFFFF);
            field.bit_offset = offset;
            field.bit_size = g.report_size;
            field.count = g.report_count;
            field.variable = variable;
            field.logical_min = g.logical_min;
            field.logical_max = g.logical_max;
            out->input_fields.push_back(field);
        }
        if (report == 0 && !constant) {
            if (!variable || g.report_size == 1) {
                ++out->input_buttons;
            } else {
                HIDP_VALUE_CAPS caps = {};
                caps.ReportID = g.report_id;
                caps.BitField = static_cast<USHORT>(u);
                caps.LinkCollection = links.back();
                caps.LinkUsagePage = link_usage[links.back()].first;
                caps.LinkUsage = link_usage[links.back()].second;
                caps.IsAbsolute = (u & 0x04) == 0;
                caps.HasNull = (u & 0x40) != 0;
                caps.BitSize = g.report_size;
                caps.UnitsExp = g.unit_exp;
                caps.Units = g.unit;
                caps.LogicalMin = g.logical_min;
                caps.LogicalMax = g.logical_max;
                caps.PhysicalMin = g.physical_min;
                caps.PhysicalMax = g.physical_max;
                if (l.range || l.usages.empty()) {
                    caps.UsagePage = page_of(l.usage_min);
                    caps.IsRange = TRUE;
                    caps.ReportCount = g.report_count;
                    caps.Range.UsageMin = static_cast<USAGE>(l.usage_min & 0xFFFF);
                    caps.Range.UsageMax = static_cast<USAGE>(l.usage_max & 0xFFFF);
                    caps.Range.DataIndexMin = data_index;
                    data_index = static_cast<USHORT>(data_index + g.report_count);
                    caps.Range.DataIndexMax = static_cast<USHORT>(data_index - 1);
                    out->input_values.push_back(caps);
                } else {
                    // One capability per usage listed; the last takes what count is left.
                    const size_t n = std::min<size_t>(l.usages.size(), g.report_count);
                    for (size_t i = 0; i < n; ++i) {
                        HIDP_VALUE_CAPS one = caps;
                        one.UsagePage = page_of(l.usages[i]);
                        one.NotRange.Usage = static_cast<USAGE>(l.usages[i] & 0xFFFF);
                        one.ReportCount = i + 1 < n ? 1 : static_cast<USHORT>(g.report_count - (n - 1));
                        one.NotRange.DataIndex = data_index++;
                        out->input_values.push_back(one);
                    }
                }
            }
        }
        if (report == 0 && std::find(out->input_ids.begin(), out->input_ids.end(), g.report_id) == out->input_ids.end())
            out->input_ids.push_back(g.report_id);
        l = locals();
    }
    if (!links.empty() || out->link_collections == 0) return false;
    USHORT* lengths[3] = {&out->input_length, &out->output_length, &out->feature_length};
    for (int r = 0; r < 3; ++r)
        for (const auto& entry : bits[r])
            *lengths[r] = std::max<USHORT>(*lengths[r], static_cast<USHORT>((entry.second + 7) / 8 + 1));
    return true;
}

USAGE hid_usage_of(const hid_field& field, uint32_t element, LONG value) {
    if (!field.variable) {
        if (value < field.logical_min || value > field.logical_max) return 0;
        return static_cast<USAGE>(field.usage_min + (value - field.logical_min));
    }
    if (field.usages.empty()) return static_cast<USAGE>(field.usage_min + element);
    return field.usages[std::min<size_t>(element, field.usages.size() - 1)];
}

LONG hid_value(const hid_field& field, uint32_t element, const uint8_t* report, size_t length) {
    const uint32_t first = field.bit_offset + element * field.bit_size;
    uint32_t value = 0;
    for (uint32_t b = 0; b < field.bit_size && b < 32; ++b) {
        const uint32_t bit = first + b;
        const size_t byte = 1 + bit / 8;  // after the report ID
        if (byte < length && (report[byte] >> (bit % 8)) & 1) value |= 1u << b;
    }
    if (field.logical_min < 0 && field.bit_size < 32 && (value >> (field.bit_size - 1)) & 1)
        value |= ~0u << field.bit_size;
    return static_cast<LONG>(value);
}
