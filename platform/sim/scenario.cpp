#include "platform/sim/scenario.h"

#include <algorithm>
#include <cstdlib>

#include "layout/report_layout.h"
#include "platform/sim/sim.h"

namespace {

bool parse_count(const std::string& text, int max, int* out) {
    if (text.empty() || text.size() > 7) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    const int value = std::atoi(text.c_str());
    if (value > max) return false;
    *out = value;
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_hex(const std::string& text, std::vector<uint8_t>* out) {
    if (text.size() % 2 != 0 || text.size() > 64) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        out->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

bool parse_fault(const std::string& value, sim_fault* fault) {
    const size_t at = value.find('@');
    fault->op = value.substr(0, at);
    fault->call = 0;
    const auto& known = sim_failable_operations();
    if (std::find(known.begin(), known.end(), fault->op) == known.end()) return false;
    if (at == std::string::npos) return true;
    return parse_count(value.substr(at + 1), 1000000, &fault->call) && fault->call > 0;
}

// OP@K or OP@K:deaf, for one of the three transfers.
bool parse_stall(const std::string& value, sim_stall* stall) {
    const size_t at = value.find('@');
    if (at == std::string::npos) return false;
    stall->op = value.substr(0, at);
    if (stall->op != "WriteFile" && stall->op != "HidD_SetOutputReport" && stall->op != "ReadFile") return false;
    std::string call = value.substr(at + 1);
    stall->deaf = call.size() > 5 && call.compare(call.size() - 5, 5, ":deaf") == 0;
    if (stall->deaf) call.resize(call.size() - 5);
    return parse_count(call, 1000000, &stall->call) && stall->call > 0;
}

// OP@K, for an operation of the given list.
bool parse_call_at(const std::string& value, const std::vector<std::string>& ops, sim_call_at* at) {
    const size_t sign = value.find('@');
    if (sign == std::string::npos) return false;
    at->op = value.substr(0, sign);
    if (std::find(ops.begin(), ops.end(), at->op) == ops.end()) return false;
    return parse_count(value.substr(sign + 1), 1000000, &at->call) && at->call > 0;
}

// "r", "w" or "rw" as access rights or share modes; "-" shares nothing.
bool parse_rights(const std::string& text, uint32_t read, uint32_t write, bool none_allowed, uint32_t* out) {
    if (none_allowed && text == "-") {
        *out = 0;
        return true;
    }
    if (text == "r") *out = read;
    else if (text == "w") *out = write;
    else if (text == "rw") *out = read | write;
    else return false;
    return true;
}

// COLLECTION:ACCESS:SHARE, as in hold=control:r:rw
bool parse_holder(const std::string& value, sim_holder* holder) {
    const size_t first = value.find(':');
    const size_t second = first == std::string::npos ? first : value.find(':', first + 1);
    if (second == std::string::npos) return false;
    holder->collection = value.substr(0, first);
    if (holder->collection != "control" && holder->collection != "message") return false;
    return parse_rights(value.substr(first + 1, second - first - 1), GENERIC_READ, GENERIC_WRITE, false,
                        &holder->access) &&
           parse_rights(value.substr(second + 1), FILE_SHARE_READ, FILE_SHARE_WRITE, true, &holder->share);
}

// A byte or a 16-bit value: decimal, or hexadecimal after 0x.
bool parse_value(const std::string& text, uint32_t max, uint32_t* out) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 5) return false;
    uint32_t value = 0;
    for (char c : digits) {
        const int d = hex ? hex_digit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    }
    if (value > max) return false;
    *out = value;
    return true;
}

// KIND/LENGTH (two bytes), or NAME.FIELD=VALUE with a kind's and a field's
// names as scripts write them: mouse.x=65535, multitouch.id=255.
bool parse_fragile(const std::string& value, device_fault* rule) {
    const size_t slash = value.find('/');
    uint32_t kind = 0, length = 0;
    if (slash != std::string::npos) {
        if (!parse_value(value.substr(0, slash), 0xFF, &kind) || !parse_value(value.substr(slash + 1), 0xFF, &length))
            return false;
        rule->kind = static_cast<uint8_t>(kind);
        rule->length = static_cast<int>(length);
        return true;
    }
    const size_t dot = value.find('.');
    const size_t eq = value.find('=');
    if (dot == std::string::npos || eq == std::string::npos || eq < dot) return false;
    const layout_kind* named = layout_kind_named(value.c_str(), dot);
    if (named == nullptr) return false;
    const std::string field = value.substr(dot + 1, eq - dot - 1);
    auto find = [&](const layout_field* fields, int count) -> const layout_field* {
        for (int i = 0; i < count; ++i)
            if (field == fields[i].name && fields[i].width <= 2) return &fields[i];
        return nullptr;
    };
    const layout_field* plain = find(named->fields, named->field_count);
    const layout_field* grouped = plain == nullptr ? find(named->group_fields, named->group_field_count) : nullptr;
    const layout_field* found = plain != nullptr ? plain : grouped;
    if (found == nullptr || !parse_value(value.substr(eq + 1), layout_field_max(*found), &rule->value)) return false;
    rule->kind = named->id;
    rule->length = -1;
    rule->width = found->width;
    rule->offset = static_cast<uint8_t>(found->offset + (grouped != nullptr ? named->group_offset : 0));
    rule->second = grouped != nullptr ? static_cast<uint8_t>(rule->offset + named->group_size) : rule->offset;
    return true;
}

bool parse_item(const std::string& item, sim_scenario* s) {
    if (item == "inputs") {
        s->inputs = sim_scenario::inputs_held;
        return true;
    }
    const size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);

    if (key == "inputs") {
        if (value != "open") return false;
        s->inputs = sim_scenario::inputs_open;
        return true;
    }
    if (key == "undelivered" || key == "altered" || key == "doubled") {
        // One planted delivery fault at a time.
        if (s->delivery.how != DEVICE_DELIVERS) return false;
        device_input which;
        if (!device_input_named(value.c_str(), value.size(), &which)) return false;
        s->delivery = {key == "undelivered" ? DEVICE_UNDELIVERED : key == "altered" ? DEVICE_ALTERED : DEVICE_DOUBLED,
                       which};
        return true;
    }
    if (key == "device") {
        if (value != "both" && value != "control" && value != "none") return false;
        s->device = value;
        return true;
    }
    struct counted {
        const char* name;
        int* field;
        int max;
    };
    const counted counts[] = {
        {"quorvex", &s->quorvex, 4},          {"others", &s->others, 64},
        {"locked", &s->locked, 64},           {"busy", &s->busy, 64},
        {"foreign", &s->foreign, 8},          {"unplug-after", &s->unplug_after, 1000000},
        {"badcaps", &s->badcaps, 8},          {"emptypath", &s->emptypath, 8},
        {"longpath", &s->longpath, 8},        {"shortsize", &s->shortsize, 8},
        {"absent", &s->absent, 8},            {"othervendor", &s->othervendor, 8},
        {"genericpage", &s->genericpage, 8},  {"gone", &s->gone, 8},
        {"arrive-after", &s->arrive_after, 3600000},
        {"replylen", &s->reply_length, 33},   {"interrupt-after", &s->interrupt_after, 1000000},
        {"ctrl-c-after", &s->ctrl_c_after, 10000000}, {"ctrl-break-after", &s->ctrl_break_after, 10000000},
        {"ctrl-close-after", &s->ctrl_close_after, 10000000}, {"late-answer", &s->late_answer, 10000000},
    };
    for (const counted& c : counts) {
        if (key == c.name) return parse_count(value, c.max, c.field);
    }
    if (key == "fail") {
        sim_fault fault;
        if (!parse_fault(value, &fault)) return false;
        s->faults.push_back(fault);
        return true;
    }
    if (key == "latency") {
        // US, or US/US/... taken in turn, at most 16
        s->latency_us.clear();
        for (size_t start = 0;;) {
            const size_t slash = value.find('/', start);
            int us = 0;
            const size_t length = slash == std::string::npos ? std::string::npos : slash - start;
            if (!parse_count(value.substr(start, length), 1000000, &us)) return false;
            s->latency_us.push_back(us);
            if (slash == std::string::npos) return s->latency_us.size() <= 16;
            start = slash + 1;
        }
    }
    if (key == "stall") {
        sim_stall stall;
        if (!parse_stall(value, &stall)) return false;
        s->stalls.push_back(stall);
        return true;
    }
    if (key == "late-entry" || key == "ctrl-c-at") {
        static const std::vector<std::string> kTransfers = {"WriteFile", "HidD_SetOutputReport", "ReadFile"};
        // Every operation that is counted: the failable ones and the pause.
        static const std::vector<std::string> kCounted = [] {
            std::vector<std::string> ops = sim_failable_operations();
            ops.push_back("Sleep");
            return ops;
        }();
        sim_call_at at;
        const bool late = key == "late-entry";
        if (!parse_call_at(value, late ? kTransfers : kCounted, &at)) return false;
        (late ? s->late_entries : s->ctrl_c_at).push_back(at);
        return true;
    }
    if (key == "ctrl-c-at-line") {
        // Any text but the list's own separator, which never reaches here.
        if (value.empty() || value.size() > 64 || !s->ctrl_c_at_line.empty()) return false;
        s->ctrl_c_at_line = value;
        return true;
    }
    if (key == "fragile") {
        device_fault rule = {};
        if (!parse_fragile(value, &rule)) return false;
        s->fragile.push_back(rule);
        return true;
    }
    if (key == "hold") {
        sim_holder holder;
        if (!parse_holder(value, &holder)) return false;
        s->holders.push_back(holder);
        return true;
    }
    if (key == "order") {
        if (value != "control-first" && value != "message-first") return false;
        s->message_first = value == "message-first";
        return true;
    }
    if (key == "reply") {
        if (value.size() > 32) return false;
        s->custom_reply = true;
        s->reply.assign(value.begin(), value.end());
        return true;
    }
    if (key == "replyhex") {
        s->custom_reply = true;
        return parse_hex(value, &s->reply);
    }
    if (key == "answer") {
        if (value != "yes" && value != "none") return false;
        s->answer = value == "yes";
        return true;
    }
    if (key == "clock") {
        if (value != "virtual" && value != "real") return false;
        s->virtual_clock = value == "virtual";
        return true;
    }
    return false;
}

}  // namespace

bool parse_scenario(const std::string& text, sim_scenario* scenario, std::string* error) {
    *scenario = sim_scenario();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        if (!item.empty() && !parse_item(item, scenario)) {
            if (error != nullptr) *error = "bad QUORVEX_SIM item '" + item + "'";
            return false;
        }
        start = comma + 1;
    }
    return true;
}
