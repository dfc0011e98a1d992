// Stand-ins for the HID class library: the class GUID, preparsed data,
// attributes and capabilities of the collections, their input buffers, and
// set-output-report.

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/sim/bus.h"
#include "platform/sim/hidparse.h"
#include "platform/sim/threads.h"

void HidD_GetHidGuid(LPGUID guid) {
    system_call call;
    // A failing lookup leaves an empty class GUID, under which nothing is present.
    if (maybe_inject("HidD_GetHidGuid")) *guid = GUID{};
    else *guid = succeed_with(kHidGuid);
}

BOOLEAN HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) {
    system_call call;
    if (maybe_inject("HidD_GetPreparsedData")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr || preparsed == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    const uintptr_t object = new_object();
    sys().preparsed[object] = file->iface;
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(object);
    return succeed_with<BOOLEAN>(TRUE);
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    system_call call;
    const bool fails = maybe_inject("HidD_FreePreparsedData");
    if (sys().preparsed.erase(reinterpret_cast<uintptr_t>(preparsed)) == 0)
        return fail_with<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
    return fails ? FALSE : succeed_with<BOOLEAN>(TRUE);
}

BOOLEAN HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    system_call call;
    if (maybe_inject("HidD_GetAttributes")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr || attributes == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = iface.vendor;
    attributes->ProductID = iface.product;
    attributes->VersionNumber = DEVICE_VERSION;
    return succeed_with<BOOLEAN>(TRUE);
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    system_call call;
    if (maybe_inject("HidP_GetCaps")) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    auto it = sys().preparsed.find(reinterpret_cast<uintptr_t>(preparsed));
    if (it == sys().preparsed.end() || caps == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    const bus_interface& iface = sys().bus[it->second];
    if (iface.caps_fail) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    std::memset(caps, 0, sizeof(*caps));
    if (iface.kind == collection_kind::input) {
        // What the class driver read from the collection's own descriptor.
        hid_parsed parsed;
        const device_descriptor d = device_input_of(static_cast<device_input>(iface.input)).descriptor;
        if (!hid_parse(d.bytes, d.size, &parsed)) return HIDP_STATUS_INVALID_PREPARSED_DATA;
        caps->UsagePage = parsed.usage_page;
        caps->Usage = parsed.usage;
        caps->InputReportByteLength = parsed.input_length;
        caps->OutputReportByteLength = parsed.output_length;
        caps->FeatureReportByteLength = parsed.feature_length;
        caps->NumberLinkCollectionNodes = parsed.link_collections;
        caps->NumberInputButtonCaps = parsed.input_buttons;
        caps->NumberInputValueCaps = static_cast<USHORT>(parsed.input_values.size());
        return succeed_with(HIDP_STATUS_SUCCESS);
    }
    caps->UsagePage = iface.usage_page;
    caps->Usage = iface.usage;
    caps->InputReportByteLength = iface.input_length;
    caps->OutputReportByteLength = iface.output_length;
    return succeed_with(HIDP_STATUS_SUCCESS);
}

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS values, PUSHORT count, PHIDP_PREPARSED_DATA preparsed) {
    system_call call;
    if (maybe_inject("HidP_GetValueCaps")) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    auto it = sys().preparsed.find(reinterpret_cast<uintptr_t>(preparsed));
    if (it == sys().preparsed.end() || count == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (type != HidP_Input && type != HidP_Output && type != HidP_Feature) return HIDP_STATUS_INVALID_REPORT_TYPE;
    const bus_interface& iface = sys().bus[it->second];
    hid_parsed parsed;
    if (iface.kind == collection_kind::input) {
        const device_descriptor d = device_input_of(static_cast<device_input>(iface.input)).descriptor;
        if (!hid_parse(d.bytes, d.size, &parsed)) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    // Only input values are modelled; the vendor collections declare their reports as bytes.
    const std::vector<HIDP_VALUE_CAPS> none;
    const std::vector<HIDP_VALUE_CAPS>& all = type == HidP_Input ? parsed.input_values : none;
    const USHORT room = *count;
    *count = static_cast<USHORT>(std::min<size_t>(room, all.size()));
    if (values != nullptr)
        for (USHORT i = 0; i < *count; ++i) values[i] = all[i];
    if (all.size() > room || (values == nullptr && !all.empty())) return HIDP_STATUS_BUFFER_TOO_SMALL;
    return succeed_with(HIDP_STATUS_SUCCESS);
}

BOOLEAN HidD_SetNumInputBuffers(HANDLE handle, ULONG count) {
    system_call call;
    if (maybe_inject("HidD_SetNumInputBuffers")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    if (count < 2 || count > 512) return fail_with<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);  // the HID class driver's bounds
    file->input_buffers = count;
    while (file->input.size() > count) file->input.pop_front();
    return succeed_with<BOOLEAN>(TRUE);
}

BOOLEAN HidD_SetOutputReport(HANDLE handle, PVOID buffer, ULONG length) {
    return send_output("HidD_SetOutputReport", handle, buffer, length) ? TRUE : FALSE;
}

BOOLEAN HidD_FlushQueue(HANDLE handle) {
    system_call call;
    if (maybe_inject("HidD_FlushQueue")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    file->input.clear();
    trace("HidD_FlushQueue " + std::string(collection_name(sys().bus[file->iface])));
    deliver_held_answers(file->iface);
    return succeed_with<BOOLEAN>(TRUE);
}

namespace {

// A string of the collection's device, as UTF-16 with its terminator, as the
// class driver hands it over; quorvex devices give the device model's own,
// other makers' a manufacturer and a product but no serial number.
BOOLEAN device_string_of(const char* op, HANDLE handle, PVOID buffer, ULONG length, uint32_t id) {
    system_call call;
    if (maybe_inject(op)) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    if (!iface.present) return fail_with<BOOLEAN>(ERROR_DEVICE_NOT_CONNECTED, FALSE);
    std::u16string text;
    if (iface.vendor == DEVICE_VENDOR_ID && iface.product == DEVICE_PRODUCT_ID) {
        const char16_t* own = device_string(id);
        if (own != nullptr) text = own;
    } else if (id == 14) {
        text = u"Another maker";
    } else if (id == 15) {
        text = u"Another maker's device \u00e9";  // one character outside ASCII
    }
    if (text.empty()) return fail_with<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
    const size_t bytes = (text.size() + 1) * sizeof(char16_t);
    if (buffer == nullptr || length < bytes) return fail_with<BOOLEAN>(ERROR_INVALID_USER_BUFFER, FALSE);
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i <= text.size(); ++i) {
        const char16_t unit = i < text.size() ? text[i] : u'\0';
        out[2 * i] = static_cast<uint8_t>(unit & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
    }
    return succeed_with<BOOLEAN>(TRUE);
}

}  // namespace

BOOLEAN HidD_GetManufacturerString(HANDLE handle, PVOID buffer, ULONG length) {
    return device_string_of("HidD_GetManufacturerString", handle, buffer, length, 14);
}

BOOLEAN HidD_GetProductString(HANDLE handle, PVOID buffer, ULONG length) {
    return device_string_of("HidD_GetProductString", handle, buffer, length, 15);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE handle, PVOID buffer, ULONG length) {
    return device_string_of("HidD_GetSerialNumberString", handle, buffer, length, 16);
}
