// The population of the simulated bus: the interfaces the scenario lays out,
// in enumeration order, what each collection is, and who holds it.

#include <cstdio>

#include "platform/sim/bus.h"
#include "platform/sim/clock.h"

namespace {

std::string hid_path(const char* hardware, const char* collection, int instance) {
    char path[160];
    snprintf(path, sizeof(path), "\\\\?\\hid#%s%s#7&%08x&0&%04d#{4d1e55b2-f16f-11cf-88cb-001111000030}", hardware,
             collection, 0x1a2b3c00u + static_cast<unsigned>(instance), instance);
    return path;
}

// Another maker's collection, which nothing of the client's transfers to.
bus_interface collection(std::string path, holder held_by, uint16_t vendor, uint16_t product, uint16_t page,
                         uint16_t usage) {
    return {std::move(path), collection_kind::other, held_by, vendor, product, page, usage, -1, false, false};
}

// One of a quorvex device's two vendor collections, with its reports' lengths.
bus_interface quorvex_collection(std::string path, collection_kind kind, int device) {
    const bool control = kind == collection_kind::control;
    bus_interface iface = {std::move(path), kind, holder::nobody, DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID,
                           DEVICE_USAGE_PAGE, control ? DEVICE_CONTROL : DEVICE_MESSAGE, device, false, false};
    iface.input_length = control ? 0 : DEVICE_INPUT_LENGTH;
    iface.output_length = control ? DEVICE_OUTPUT_LENGTH : 0;
    return iface;
}

// The device's five input collections, after its two: the same hardware
// part and instance as its control collection, &col03 to &col07. The system
// holds mice and keyboards for itself and opens touch screens and pens
// sharing nothing; joysticks it leaves to applications.
void add_input_collections(const sim_scenario& s, const bus_interface& control, int device) {
    const size_t instance = control.path.find("#7&");
    for (int i = 0; i < DEVICE_INPUT_COUNT; ++i) {
        const device_input_collection& input = device_input_of(static_cast<device_input>(i));
        char col[8];
        snprintf(col, sizeof(col), "&col%02d", 3 + i);
        holder held_by = holder::nobody;
        if (s.inputs == sim_scenario::inputs_held) {
            if (i == DEVICE_INPUT_MOUSE || i == DEVICE_INPUT_KEYBOARD) held_by = holder::system_exclusive;
            if (i == DEVICE_INPUT_TOUCH || i == DEVICE_INPUT_PEN) held_by = holder::system_shared;
        }
        bus_interface iface = {"\\\\?\\hid#vid_001f&pid_ba1c" + std::string(col) + control.path.substr(instance),
                               collection_kind::input, held_by, DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID,
                               input.usage_page, input.usage, device, false, false};
        iface.input = i;
        iface.input_length = static_cast<uint16_t>(input.input_length);
        iface.arrived = control.arrived;
        sys().bus.push_back(iface);
    }
}

void lay_out_bus(const sim_scenario& s) {
    std::vector<bus_interface>& bus = sys().bus;
    bus.clear();
    int n = 0;
    for (int i = 0; i < s.locked; ++i)
        bus.push_back(collection(hid_path("vid_045e&pid_00db&mi_00", "&col01", n++), holder::system_exclusive, 0x045E, 0x00DB,
                                 0x0001, 0x0006));
    for (int i = 0; i < s.busy; ++i)
        bus.push_back(collection(hid_path("vid_04f3&pid_2a1c", "&col02", n++), holder::system_shared, 0x04F3, 0x2A1C, 0x000D,
                                 0x0004));
    for (int i = 0; i < s.others; ++i)
        bus.push_back(collection(hid_path("vid_046d&pid_c52b&mi_02", "&col02", n++), holder::nobody, 0x046D, 0xC52B,
                                 0xFF00, 0x0001));
    for (int i = 0; i < s.absent; ++i) {
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c", "&col01", n++), holder::nobody, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, DEVICE_USAGE_PAGE, DEVICE_CONTROL));
        bus.back().present = false;
    }
    // Another maker's mouse, once plugged in: only its registration is left.
    for (int i = 0; i < s.gone; ++i) {
        bus.push_back(collection(hid_path("vid_046d&pid_c077", "", n++), holder::nobody, 0x046D, 0xC077, 0x0001, 0x0002));
        bus.back().present = false;
    }
    for (int i = 0; i < s.emptypath; ++i)
        bus.push_back(collection("", holder::nobody, 0x046D, 0xC52B, 0x0001, 0x0002));
    for (int i = 0; i < s.longpath; ++i)
        bus.push_back(collection(hid_path("vid_046d&pid_c077", "", n++) + std::string(4000, 'x'), holder::nobody, 0x046D,
                                 0xC077, 0x0001, 0x0002));
    for (int i = 0; i < s.shortsize; ++i) {
        bus.push_back(collection(hid_path("vid_046d&pid_c31c", "", n++), holder::nobody, 0x046D, 0xC31C, 0x0001, 0x0006));
        bus.back().short_size_query = true;
    }
    for (int i = 0; i < s.foreign; ++i)
        bus.push_back(collection(hid_path("vid_001f&pid_1234", "&col01", n++), holder::nobody, DEVICE_VENDOR_ID, 0x1234,
                                 DEVICE_USAGE_PAGE, DEVICE_CONTROL));
    for (int i = 0; i < s.othervendor; ++i) {
        bus.push_back(collection(hid_path("vid_04d8&pid_ba1c", "&col01", n++), holder::nobody, 0x04D8, DEVICE_PRODUCT_ID,
                                 DEVICE_USAGE_PAGE, DEVICE_CONTROL));
        bus.push_back(collection(hid_path("vid_04d8&pid_ba1c", "&col02", n++), holder::nobody, 0x04D8, DEVICE_PRODUCT_ID,
                                 DEVICE_USAGE_PAGE, DEVICE_MESSAGE));
    }
    for (int i = 0; i < s.genericpage; ++i) {
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c&mi_01", "&col01", n++), holder::nobody, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, 0x0001, DEVICE_CONTROL));
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c&mi_01", "&col02", n++), holder::nobody, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, 0x0001, DEVICE_MESSAGE));
    }
    for (int i = 0; i < s.badcaps; ++i) {
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c", "&col01", n++), holder::nobody, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, DEVICE_USAGE_PAGE, DEVICE_CONTROL));
        bus.back().caps_fail = true;
    }
    if (s.device == "none") return;
    for (int d = 0; d < s.quorvex; ++d) {
        bus_interface control = quorvex_collection(hid_path("vid_001f&pid_ba1c", "&col01", n++), collection_kind::control, d);
        bus_interface message = quorvex_collection(hid_path("vid_001f&pid_ba1c", "&col02", n++), collection_kind::message, d);
        control.arrived = message.arrived = s.arrive_after == 0;
        if (s.device == "control") {
            bus.push_back(control);
        } else if (s.message_first) {
            bus.push_back(message);
            bus.push_back(control);
        } else {
            bus.push_back(control);
            bus.push_back(message);
        }
        if (s.inputs != sim_scenario::no_inputs && s.device == "both") add_input_collections(s, control, d);
    }
}

// Other processes' opens of the first quorvex device's collections, and the
// system's own of the pen and touch collections, which share nothing.
void hold_collections(const sim_scenario& s) {
    sys().others.clear();
    for (size_t i = 0; i < sys().bus.size(); ++i)
        if (sys().bus[i].held_by == holder::system_shared) sys().others.push_back({i, GENERIC_READ | GENERIC_WRITE, 0});
    for (const sim_holder& other : s.holders) {
        const collection_kind kind = other.collection == "control" ? collection_kind::control : collection_kind::message;
        for (bus_interface& iface : sys().bus) {
            if (iface.kind != kind || iface.device != 0) continue;
            iface.held_by = holder::other_process;
            sys().others.push_back({static_cast<size_t>(&iface - sys().bus.data()), other.access, other.share});
            break;
        }
    }
}

}  // namespace

void populate(const sim_scenario& scenario) {
    lay_out_bus(scenario);
    hold_collections(scenario);
}

void arrive_when_due() {
    const int due = sys().scenario.arrive_after;
    if (due == 0 || clock_now_us() < static_cast<int64_t>(due) * 1000) return;
    for (bus_interface& iface : sys().bus) {
        if (iface.arrived) continue;
        iface.arrived = true;
        trace("the quorvex device arrives: " + iface.path);
    }
}

