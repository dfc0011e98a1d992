// A HID minidriver that presents the quorvex device model to the HID class
// driver, so that the unmodified Windows program can be tested on Wine's HID
// stack. It is a test fixture: the program never contains or installs it.
//
// One root-enumerated device per collection (Wine's class driver uses only a
// device's first top-level collection); the hardware ID says which: COL01
// control, COL02 message, COL03 to COL07 the input collections (touch screen,
// mouse, pen, joystick, keyboard), which are installed only when a test asks.
// Every frame the control collection receives and every input report the
// message and input collections deliver is appended to C:\quorvex-record.bin
// for the tests.
//
// A test may have it misbehave as a driver under test may: C:\quorvex-pend.txt
// holds "W K N", "S K N" or "A K N", and from then on (N tells one request
// from the next) the K-th write or set-output-report is pended until it is
// cancelled ('P' in the record, then 'C' when cancelled), or the K-th vendor
// message is never answered ('A'). A pended request nobody cancels is given
// up after 5 s ('T'), so that the next test finds the driver working.
//
// It also takes the faults /fuzz looks for: "H K L N" breaks the driver after
// a frame with kind byte K and length byte L; "V K O W X N" after one of kind
// K whose field at inner offset O, W bytes wide, holds X. From then on the
// driver is deaf: it answers nothing and holds every write or set-output-
// report ('D'), with no cancel routine, giving each up after 5 s ('T'),
// until it is installed again.
//
// And the delivery faults: "M K H N" has every accepted frame of kind byte K
// never delivered (H 1), delivered with byte 1 changed (H 2) or delivered
// twice (H 3), as the device model's planted misdelivery.

// MinGW's intrinsics define these three and its wdm.h defines them again,
// which C++ refuses; take the intrinsics' versions out.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#define __INTRINSIC_DEFINED_InterlockedBitTestAndComplement
#include <ddk/wdm.h>

#include "device/quorvex_device.h"

// ---- from hidport.h, as Microsoft documents it (MinGW has no hidport.h, and
// its hidclass.h gives the minidriver IOCTLs the wrong transfer method) ----
#define HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define HID_IN_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define HID_OUT_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_OUT_DIRECT, FILE_ANY_ACCESS)
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR HID_CTL_CODE(0)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR HID_CTL_CODE(1)
#define IOCTL_HID_READ_REPORT HID_CTL_CODE(2)
#define IOCTL_HID_WRITE_REPORT HID_CTL_CODE(3)
#define IOCTL_HID_GET_STRING HID_CTL_CODE(4)
#define IOCTL_HID_ACTIVATE_DEVICE HID_CTL_CODE(7)
#define IOCTL_HID_DEACTIVATE_DEVICE HID_CTL_CODE(8)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES HID_CTL_CODE(9)
#define IOCTL_HID_SET_OUTPUT_REPORT HID_IN_CTL_CODE(101)

struct HID_MINIDRIVER_REGISTRATION {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
};

struct HID_DEVICE_EXTENSION {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
};

struct HID_XFER_PACKET {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
};

#pragma pack(push, 1)
struct HID_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
};
#pragma pack(pop)

struct HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
};

extern "C" NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION* registration);

// ---- the driver ---------------------------------------------------------------

namespace {

constexpr UCHAR kHidDescriptorType = 0x21;
constexpr UCHAR kReportDescriptorType = 0x22;

struct device_state {
    device_collection collection;
    int input;  // the device_input it presents, or -1 for the control or message collection
    bool removed;
    LIST_ENTRY held;  // read requests waiting for an input report
};

// The class driver's read thread, the client's writes and Plug and Play run on
// different threads: everything below is shared between them.
KSPIN_LOCK g_lock;
device_state* g_message;  // the message collection, while it is present
// Answers the message collection has not been asked for yet, oldest first.
constexpr unsigned kPendingMax = 16;
uint8_t g_pending[kPendingMax][DEVICE_INPUT_LENGTH];
unsigned g_pending_first, g_pending_count;
HANDLE g_record;

// The input collections, while present, and what each has delivered that the
// class driver has not read yet: Wine's keeps one read pending at a time, so a
// burst of frames outruns it. A client that keeps at most 256 reports in
// flight never fills this; past it the oldest is lost, as a HID queue loses it.
constexpr unsigned kQueueMax = 1024;
struct input_queue {
    uint8_t reports[kQueueMax][DEVICE_INPUT_REPORT_MAX];
    unsigned first, count;
};
device_state* g_inputs[DEVICE_INPUT_COUNT];
input_queue g_queues[DEVICE_INPUT_COUNT];

// The misbehaviour asked for, and the request it keeps.
struct pend_request {
    char kind;        // 'W', 'S' or 'A'; 0 for none
    unsigned which;   // the K-th of that kind
    unsigned nonce;   // a new one starts the count again
    unsigned seen;    // of that kind since
    PIRP pended;
    KEVENT released;  // set when the pended request is cancelled
};
pend_request g_pend;

device_state* state_of(PDEVICE_OBJECT fdo) {
    return static_cast<device_state*>(static_cast<HID_DEVICE_EXTENSION*>(fdo->DeviceExtension)->MiniDeviceExtension);
}

PDEVICE_OBJECT next_of(PDEVICE_OBJECT fdo) {
    return static_cast<HID_DEVICE_EXTENSION*>(fdo->DeviceExtension)->NextDeviceObject;
}

void copy_bytes(void* to, const void* from, ULONG size) {
    for (ULONG i = 0; i < size; ++i) static_cast<uint8_t*>(to)[i] = static_cast<const uint8_t*>(from)[i];
}

// One record: the kind ('W' write, 'S' set output report, 'R' message input
// report delivered, 'I' input collection's report delivered), the length, then the report padded to 65 bytes. Each entry's
// place is taken before it is written: Wine appends by reading the file's size
// and writing there, so two threads appending at once (a frame and the answer
// another thread delivers) would land on the same place and one would be lost.
// The file only grows, across loads of the driver too; the tests read what
// came after the size they last saw.
volatile LONG64 g_record_end;

void record(char kind, const uint8_t* bytes, ULONG length) {
    if (g_record == nullptr) return;
    uint8_t entry[2 + DEVICE_OUTPUT_LENGTH];
    for (uint8_t& byte : entry) byte = 0;
    if (length > DEVICE_OUTPUT_LENGTH) length = DEVICE_OUTPUT_LENGTH;
    entry[0] = static_cast<uint8_t>(kind);
    entry[1] = static_cast<uint8_t>(length);
    copy_bytes(entry + 2, bytes, length);
    LARGE_INTEGER at;
    at.QuadPart = InterlockedExchangeAdd64(&g_record_end, sizeof(entry));
    IO_STATUS_BLOCK io;
    ZwWriteFile(g_record, nullptr, nullptr, nullptr, &io, entry, sizeof(entry), &at, nullptr);
}

void open_record() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\??\\C:\\quorvex-record.bin");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    IO_STATUS_BLOCK io;
    if (!NT_SUCCESS(ZwCreateFile(&g_record, FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io,
                                 nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_OPEN_IF, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0))) {
        g_record = nullptr;
        return;
    }
    FILE_STANDARD_INFORMATION size;
    g_record_end = NT_SUCCESS(ZwQueryInformationFile(g_record, &io, &size, sizeof(size), FileStandardInformation))
                       ? size.EndOfFile.QuadPart
                       : 0;
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Completes a held read with an input report (called without the lock held).
void deliver(PIRP irp, const uint8_t* report, ULONG length, char kind) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < length || irp->UserBuffer == nullptr) {
        complete(irp, STATUS_BUFFER_TOO_SMALL);
        return;
    }
    copy_bytes(irp->UserBuffer, report, length);
    record(kind, report, length);
    complete(irp, STATUS_SUCCESS, length);
}

PIRP take_held(device_state* state) {
    if (IsListEmpty(&state->held)) return nullptr;
    return CONTAINING_RECORD(RemoveHeadList(&state->held), IRP, Tail.Overlay.ListEntry);
}

// The answer to a frame, to the message collection's oldest waiting read, or
// kept until it asks.
void answer(const uint8_t reply[DEVICE_INPUT_LENGTH]) {
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    PIRP irp = g_message != nullptr && !g_message->removed ? take_held(g_message) : nullptr;
    if (irp == nullptr && g_message != nullptr) {
        if (g_pending_count == kPendingMax) {  // full: the oldest is lost, as a HID queue loses it
            g_pending_first = (g_pending_first + 1) % kPendingMax;
            --g_pending_count;
        }
        copy_bytes(g_pending[(g_pending_first + g_pending_count) % kPendingMax], reply, DEVICE_INPUT_LENGTH);
        ++g_pending_count;
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (irp != nullptr) deliver(irp, reply, DEVICE_INPUT_LENGTH, 'R');
}

// An input report for an input collection: to its waiting read, or queued
// until the class driver asks again. Lost when the collection is not present.
void offer(device_input which, const uint8_t* report, uint32_t length) {
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    device_state* state = g_inputs[which];
    PIRP irp = state != nullptr && !state->removed ? take_held(state) : nullptr;
    if (irp == nullptr && state != nullptr) {
        input_queue& queue = g_queues[which];
        if (queue.count == kQueueMax) {
            queue.first = (queue.first + 1) % kQueueMax;
            --queue.count;
        }
        copy_bytes(queue.reports[(queue.first + queue.count) % kQueueMax], report, length);
        ++queue.count;
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (irp != nullptr) deliver(irp, report, length, 'I');
}

NTSTATUS read_report(device_state* state, PIRP irp) {
    uint8_t report[DEVICE_INPUT_LENGTH];
    ULONG length = DEVICE_INPUT_LENGTH;
    char kind = 'R';
    bool ready = false;
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    if (state->removed) {
        KeReleaseSpinLock(&g_lock, irql);
        return complete(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (state->collection == DEVICE_MESSAGE && g_pending_count > 0) {
        copy_bytes(report, g_pending[g_pending_first], DEVICE_INPUT_LENGTH);
        g_pending_first = (g_pending_first + 1) % kPendingMax;
        --g_pending_count;
        ready = true;
    } else if (state->input >= 0 && g_queues[state->input].count > 0) {
        input_queue& queue = g_queues[state->input];
        length = device_input_of(static_cast<device_input>(state->input)).input_length;
        copy_bytes(report, queue.reports[queue.first], length);
        queue.first = (queue.first + 1) % kQueueMax;
        --queue.count;
        kind = 'I';
        ready = true;
    } else {
        // The class driver keeps a read pending even on the output-only
        // collection; it waits here until the device goes away.
        IoMarkIrpPending(irp);
        InsertTailList(&state->held, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (!ready) return STATUS_PENDING;
    deliver(irp, report, length, kind);
    return STATUS_SUCCESS;
}

unsigned parse_number(const char*& at) {
    while (*at == ' ') ++at;
    unsigned value = 0;
    while (*at >= '0' && *at <= '9') value = value * 10 + static_cast<unsigned>(*at++ - '0');
    return value;
}

// The test's control file, read afresh for each request, since it may change
// between runs; empty when there is none.
void read_control(char (&text)[64]) {
    text[0] = 0;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\??\\C:\\quorvex-pend.txt");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE file;
    if (!NT_SUCCESS(ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                 FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0)))
        return;
    const bool read = NT_SUCCESS(ZwReadFile(file, nullptr, nullptr, nullptr, &io, text, sizeof(text) - 1, nullptr, nullptr));
    ZwClose(file);
    text[read ? (io.Information < sizeof(text) ? io.Information : sizeof(text) - 1) : 0] = 0;
}

// Whether this request of the kind is the one to misbehave on.
bool misbehave_on(const char* text, char kind) {
    const char* at = text;
    const char wanted = *at++;
    const unsigned which = parse_number(at);
    const unsigned nonce = parse_number(at);
    if (wanted != g_pend.kind || which != g_pend.which || nonce != g_pend.nonce) {
        g_pend.kind = wanted;
        g_pend.which = which;
        g_pend.nonce = nonce;
        g_pend.seen = 0;
    }
    return kind == g_pend.kind && ++g_pend.seen == g_pend.which;
}

// Whether the frame is the one a planted fault breaks the driver on.
bool breaks_on(const char* text, const uint8_t* frame, ULONG length) {
    const char* at = text;
    const char rule = *at++;
    if ((rule != 'H' && rule != 'V') || length < DEVICE_OUTPUT_LENGTH) return false;
    device_fault fault = {};
    fault.kind = static_cast<uint8_t>(parse_number(at));
    fault.length = rule == 'H' ? static_cast<int>(parse_number(at)) : -1;
    if (rule == 'V') {
        fault.offset = fault.second = static_cast<uint8_t>(parse_number(at));
        fault.width = static_cast<uint8_t>(parse_number(at));
        fault.value = parse_number(at);
    }
    return device_breaks(fault, frame);
}

// The delivery fault the control file plants, if any.
device_delivery_fault delivery_fault(const char* text) {
    device_delivery_fault fault = {DEVICE_DELIVERS, DEVICE_INPUT_TOUCH};
    const char* at = text;
    if (*at++ != 'M') return fault;
    const unsigned kind = parse_number(at);
    const unsigned how = parse_number(at);
    if (kind > 0xFF || how < DEVICE_UNDELIVERED || how > DEVICE_DOUBLED ||
        !device_input_for(static_cast<uint8_t>(kind), &fault.which))
        return fault;
    fault.how = static_cast<device_misdelivery>(how);
    return fault;
}

bool g_deaf;  // a planted fault broke the driver; reset when it is installed again

void NTAPI give_up_later(PVOID argument) {
    LARGE_INTEGER delay;
    delay.QuadPart = -5LL * 10000000;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    record('T', nullptr, 0);
    complete(static_cast<PIRP>(argument), STATUS_IO_TIMEOUT);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

// Deaf: the request is held with no cancel routine, so that a cancel cannot
// reach it, and given up after 5 s so that the system can go on.
NTSTATUS hold_deaf(PIRP irp) {
    IoMarkIrpPending(irp);
    HANDLE thread;
    if (NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, give_up_later, irp)))
        ZwClose(thread);
    else
        complete(irp, STATUS_IO_TIMEOUT);
    return STATUS_PENDING;
}

void NTAPI cancel_pended(PDEVICE_OBJECT, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    if (g_pend.pended == irp) g_pend.pended = nullptr;
    KeReleaseSpinLock(&g_lock, irql);
    record('C', nullptr, 0);
    KeSetEvent(&g_pend.released, IO_NO_INCREMENT, FALSE);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// Nobody cancelled it in 5 s: give it up, so that the class driver, and
// everything queued behind it, goes on.
void NTAPI release_later(PVOID argument) {
    PIRP irp = static_cast<PIRP>(argument);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -5LL * 10000000;
    KeWaitForSingleObject(&g_pend.released, Executive, KernelMode, FALSE, &timeout);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    const bool ours = g_pend.pended == irp;
    if (ours) g_pend.pended = nullptr;
    KeReleaseSpinLock(&g_lock, irql);
    if (ours && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        record('T', nullptr, 0);
        complete(irp, STATUS_IO_TIMEOUT);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS pend(PIRP irp) {
    KeClearEvent(&g_pend.released);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    g_pend.pended = irp;
    KeReleaseSpinLock(&g_lock, irql);
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, cancel_pended);
    HANDLE thread;
    if (NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, release_later, irp)))
        ZwClose(thread);
    return STATUS_PENDING;
}

// Windows passes the packet in Irp->UserBuffer; Wine's class driver passes it
// in Type3InputBuffer or SystemBuffer, depending on the request.
HID_XFER_PACKET* packet_of(PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (irp->UserBuffer != nullptr) return static_cast<HID_XFER_PACKET*>(irp->UserBuffer);
    if (stack->Parameters.DeviceIoControl.Type3InputBuffer != nullptr)
        return static_cast<HID_XFER_PACKET*>(stack->Parameters.DeviceIoControl.Type3InputBuffer);
    return static_cast<HID_XFER_PACKET*>(irp->AssociatedIrp.SystemBuffer);
}

NTSTATUS take_frame(device_state* state, PIRP irp, char kind) {
    const HID_XFER_PACKET* packet = packet_of(irp);
    if (packet == nullptr || packet->reportBuffer == nullptr) return complete(irp, STATUS_INVALID_PARAMETER);
    if (state->collection != DEVICE_CONTROL || state->input >= 0) return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    if (g_deaf) {
        record('D', packet->reportBuffer, packet->reportBufferLen);
        return hold_deaf(irp);
    }
    char control[64];
    read_control(control);
    if (misbehave_on(control, kind)) {
        record('P', packet->reportBuffer, packet->reportBufferLen);
        return pend(irp);
    }
    record(kind, packet->reportBuffer, packet->reportBufferLen);
    if (breaks_on(control, packet->reportBuffer, packet->reportBufferLen)) g_deaf = true;
    if (!device_accepts(packet->reportBuffer, packet->reportBufferLen)) return complete(irp, STATUS_INVALID_PARAMETER);
    uint8_t reply[DEVICE_INPUT_LENGTH];
    if (device_answer(packet->reportBuffer, reply) && !g_deaf) {
        if (misbehave_on(control, 'A')) record('A', reply, DEVICE_INPUT_LENGTH);
        else answer(reply);
    }
    device_input which;
    uint8_t report[DEVICE_INPUT_REPORT_MAX];
    uint32_t length = 0;
    const int count = g_deaf ? 0 : device_deliver(packet->reportBuffer, delivery_fault(control), &which, report, &length);
    for (int i = 0; i < count; ++i) offer(which, report, length);
    return complete(irp, STATUS_SUCCESS, packet->reportBufferLen);
}

NTSTATUS copy_out(PIRP irp, const void* data, ULONG size) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (irp->UserBuffer == nullptr || stack->Parameters.DeviceIoControl.OutputBufferLength < size)
        return complete(irp, STATUS_BUFFER_TOO_SMALL);
    copy_bytes(irp->UserBuffer, data, size);
    return complete(irp, STATUS_SUCCESS, size);
}

NTSTATUS get_string(PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // The string ID is the low word of the pointer-sized argument. Wine's
    // class driver asks for 1, 2 and 3 where Windows asks for 14, 15 and 16.
    ULONG id = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(stack->Parameters.DeviceIoControl.Type3InputBuffer) & 0xFFFF);
    if (id >= 1 && id <= 3) id += 13;
    const char16_t* text = device_string(id);
    if (text == nullptr) return complete(irp, STATUS_INVALID_PARAMETER);
    ULONG length = 0;
    while (text[length] != 0) ++length;
    return copy_out(irp, text, (length + 1) * sizeof(char16_t));
}

device_descriptor descriptor_of(const device_state* state) {
    if (state->input >= 0) return device_input_of(static_cast<device_input>(state->input)).descriptor;
    return device_report_descriptor(state->collection);
}

NTSTATUS NTAPI internal_ioctl(PDEVICE_OBJECT fdo, PIRP irp) {
    device_state* state = state_of(fdo);
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
            HID_DESCRIPTOR descriptor = {};
            descriptor.bLength = sizeof(descriptor);
            descriptor.bDescriptorType = kHidDescriptorType;
            descriptor.bcdHID = 0x0111;
            descriptor.bNumDescriptors = 1;
            descriptor.DescriptorList[0].bReportType = kReportDescriptorType;
            descriptor.DescriptorList[0].wReportLength = descriptor_of(state).size;
            return copy_out(irp, &descriptor, sizeof(descriptor));
        }
        case IOCTL_HID_GET_REPORT_DESCRIPTOR: {
            const device_descriptor report = descriptor_of(state);
            return copy_out(irp, report.bytes, report.size);
        }
        case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
            HID_DEVICE_ATTRIBUTES attributes = {};
            attributes.Size = sizeof(attributes);
            attributes.VendorID = DEVICE_VENDOR_ID;
            attributes.ProductID = DEVICE_PRODUCT_ID;
            attributes.VersionNumber = DEVICE_VERSION;
            return copy_out(irp, &attributes, sizeof(attributes));
        }
        case IOCTL_HID_GET_STRING: return get_string(irp);
        case IOCTL_HID_READ_REPORT: return read_report(state, irp);
        case IOCTL_HID_WRITE_REPORT: return take_frame(state, irp, 'W');
        case IOCTL_HID_SET_OUTPUT_REPORT: return take_frame(state, irp, 'S');
        case IOCTL_HID_ACTIVATE_DEVICE:
        case IOCTL_HID_DEACTIVATE_DEVICE: return complete(irp, STATUS_SUCCESS);
        default: return complete(irp, STATUS_NOT_SUPPORTED);
    }
}

// Gone: every held read ends, and answers have nowhere to go.
void remove(device_state* state) {
    LIST_ENTRY done;
    InitializeListHead(&done);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    state->removed = true;
    if (g_message == state) {
        g_message = nullptr;
        g_pending_count = 0;
    }
    if (state->input >= 0 && g_inputs[state->input] == state) {
        g_inputs[state->input] = nullptr;
        g_queues[state->input].count = 0;
    }
    while (!IsListEmpty(&state->held)) InsertTailList(&done, RemoveHeadList(&state->held));
    KeReleaseSpinLock(&g_lock, irql);
    while (!IsListEmpty(&done))
        complete(CONTAINING_RECORD(RemoveHeadList(&done), IRP, Tail.Overlay.ListEntry), STATUS_DEVICE_NOT_CONNECTED);
}

NTSTATUS NTAPI pnp(PDEVICE_OBJECT fdo, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_REMOVE_DEVICE:
            remove(state_of(fdo));
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    // The root bus below finishes every Plug and Play request.
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(next_of(fdo), irp);
}

NTSTATUS NTAPI power(PDEVICE_OBJECT fdo, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(next_of(fdo), irp);
}

// Which collection a device presents, from the hardware ID it was installed
// with: the N of its COL0N, 1 (control) when it has none.
unsigned collection_of(PDEVICE_OBJECT pdo) {
    WCHAR ids[256];
    ULONG size = 0;
    if (!NT_SUCCESS(IoGetDeviceProperty(pdo, DevicePropertyHardwareID, sizeof(ids) - sizeof(WCHAR), ids, &size)))
        return 1;
    ids[size / sizeof(WCHAR)] = 0;
    for (ULONG i = 0; i + 4 < size / sizeof(WCHAR); ++i) {
        if ((ids[i] | 0x20) == 'c' && (ids[i + 1] | 0x20) == 'o' && (ids[i + 2] | 0x20) == 'l' && ids[i + 3] == '0' &&
            ids[i + 4] >= '1' && ids[i + 4] <= '0' + 2 + DEVICE_INPUT_COUNT)
            return static_cast<unsigned>(ids[i + 4] - '0');
    }
    return 1;
}

NTSTATUS NTAPI add_device(PDRIVER_OBJECT, PDEVICE_OBJECT fdo) {
    device_state* state = state_of(fdo);
    const unsigned n = collection_of(static_cast<HID_DEVICE_EXTENSION*>(fdo->DeviceExtension)->PhysicalDeviceObject);
    state->collection = n == 2 ? DEVICE_MESSAGE : DEVICE_CONTROL;
    state->input = n >= 3 ? static_cast<int>(n - 3) : -1;
    state->removed = false;
    InitializeListHead(&state->held);
    g_deaf = false;
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    if (state->collection == DEVICE_MESSAGE && state->input < 0) {
        g_message = state;
        g_pending_count = 0;
    }
    if (state->input >= 0) {
        g_inputs[state->input] = state;
        g_queues[state->input].count = 0;
    }
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_SUCCESS;
}

void NTAPI unload(PDRIVER_OBJECT) {
    if (g_record != nullptr) ZwClose(g_record);
    g_record = nullptr;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    KeInitializeSpinLock(&g_lock);
    KeInitializeEvent(&g_pend.released, NotificationEvent, FALSE);
    open_record();
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = internal_ioctl;
    driver->MajorFunction[IRP_MJ_PNP] = pnp;
    driver->MajorFunction[IRP_MJ_POWER] = power;
    driver->DriverExtension->AddDevice = add_device;
    driver->DriverUnload = unload;

    HID_MINIDRIVER_REGISTRATION registration = {};
    registration.Revision = 1;  // HID_REVISION
    registration.DriverObject = driver;
    registration.RegistryPath = registry_path;
    registration.DeviceExtensionSize = sizeof(device_state);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
