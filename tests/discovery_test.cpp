// Finding the two collections among the present HID interfaces.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "client/quorvex_client.h"
#include "tests/support.h"

namespace {

const std::string kMouse = "Sending mouse report\n";

struct discovery_case {
    const char* scenario;
    int status;
    std::string out;
};

void expect_runs(const std::vector<discovery_case>& cases) {
    for (const discovery_case& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, {"/mouse"});
        EXPECT_EQ(run.status, c.status) << c.scenario;
        EXPECT_EQ(run.out, c.out) << c.scenario;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
}

std::vector<std::string> opened_paths() {
    std::vector<std::string> paths;
    for (const sim_event& event : sim_events())
        if (event.op == "CreateFileA") paths.push_back(event.target);
    return paths;
}

}  // namespace

TEST(Discovery, PopulationsOfInterfaces) {
    const std::string found_message = search_line(2) + "Error: CreateFile failed: 32\n" + kFound + kSending + kMouse;
    expect_runs({
        {"device=none,others=0", 3, search_line(1) + kNotFound},
        // System keyboards and mice refuse to open: one line each, every search.
        {"locked=2", 0,
         search_line(1) + "Error: CreateFile failed: 5\nError: CreateFile failed: 5\n" + kFound + search_line(2) +
             "Error: CreateFile failed: 5\nError: CreateFile failed: 5\nError: CreateFile failed: 32\n" + kFound +
             kSending + kMouse},
        // Only the control collection: found, then closed again when the message one is not.
        {"device=control", 3, search_line(1) + kFound + search_line(2) + "Error: CreateFile failed: 32\n" + kNotFound},
        // The quorvex vendor ID alone is not enough.
        {"foreign=2,device=none", 3, search_line(1) + kNotFound},
        {"foreign=1", 0, search_line(1) + kFound + found_message},
        {"badcaps=1", 0, search_line(1) + "Error: HidP_GetCaps failed \n" + kFound + search_line(2) +
                             "Error: HidP_GetCaps failed \nError: CreateFile failed: 32\n" + kFound + kSending + kMouse},
        {"emptypath=1", 0, search_line(1) + "Error: CreateFile failed: 3\n" + kFound + search_line(2) +
                               "Error: CreateFile failed: 3\nError: CreateFile failed: 32\n" + kFound + kSending + kMouse},
        {"longpath=2", 0, search_line(1) + kFound + found_message},
        // Every identity field counts: the vendor, the usage page, the usage.
        {"othervendor=1", 0, search_line(1) + kFound + found_message},
        {"genericpage=1", 0, search_line(1) + kFound + found_message},
        {"order=message-first", 0, search_line(1) + kFound + search_line(2) + kFound + kSending + kMouse},
        // Other processes hold collections open: a reader that shares both ways
        // lets the client in; a writer keeps out an open that shares only reading.
        {"hold=control:r:rw", 0, search_line(1) + kFound + found_message},
        {"hold=message:r:rw", 0, search_line(1) + kFound + found_message},
        {"hold=control:w:rw", 3, search_line(1) + "Error: CreateFile failed: 32\n" + kNotFound},
        // A size query that reports less than the record's fixed part.
        {"shortsize=1", 0, search_line(1) + "Error: SetupDiGetInterfaceDeviceDetail failed\n" + kFound + search_line(2) +
                               "Error: SetupDiGetInterfaceDeviceDetail failed\nError: CreateFile failed: 32\n" + kFound +
                               kSending + kMouse},
    });
}

TEST(Discovery, FailuresOfOneInterfaceAbandonOnlyThatInterface) {
    const std::string rest = kFound + search_line(2) + "Error: CreateFile failed: 32\n" + kFound + kSending + kMouse;
    expect_runs({
        // The enumeration's own failure is reported in hex and ends the search at once.
        {"fail=SetupDiGetClassDevsA", 3, "SetupDiGetClassDevs failed: e0000209\n"},
        {"fail=SetupDiGetClassDevsA@2", 3, search_line(1) + kFound + "SetupDiGetClassDevs failed: e0000209\n"},
        // Calls 1 and 2 are the first interface's size query and detail query.
        {"fail=SetupDiGetDeviceInterfaceDetailA@2", 0,
         search_line(1) + "Error: SetupDiGetInterfaceDeviceDetail failed\n" + rest},
        {"fail=SetupDiGetDeviceInterfaceDetailA@1", 0,
         search_line(1) + "Error: SetupDiGetInterfaceDeviceDetail failed\n" + rest},
        {"fail=malloc@2", 0, search_line(1) + "Error: OpenDeviceInterface: malloc failed\n" + rest},
        {"fail=CreateFileA@1", 0, search_line(1) + "Error: CreateFile failed: 2\n" + rest},
        {"fail=HidD_GetPreparsedData@1", 0, search_line(1) + "Error: HidD_GetPreparsedData failed \n" + rest},
        {"fail=HidD_GetAttributes@1", 0, search_line(1) + "Error: HidD_GetAttributes failed \n" + rest},
        {"fail=HidP_GetCaps@1", 3, search_line(1) + "Error: HidP_GetCaps failed \n" + kNotFound},
        {"fail=HidP_GetCaps@2", 3, search_line(1) + kFound + search_line(2) +
                                       "Error: CreateFile failed: 32\nError: HidP_GetCaps failed \n" + kNotFound},
        // Without the HID class there is nothing to enumerate.
        {"fail=HidD_GetHidGuid", 3, search_line(1) + kNotFound},
        {"fail=SetupDiEnumDeviceInterfaces@1", 3, search_line(1) + kNotFound},
    });
}

TEST(Discovery, FirstMatchWinsAndEachInterfaceIsOpenedOncePerSearch) {
    run_here("clock=virtual,quorvex=2", {"/mouse"});
    const std::vector<std::string> paths = opened_paths();
    // Search 1: two foreign, first control. Search 2: two foreign, first control, first message.
    ASSERT_EQ(paths.size(), 7u);
    EXPECT_EQ(paths[2], paths[5]);
    EXPECT_NE(paths[2].find("col01"), std::string::npos);
    EXPECT_NE(paths[6].find("col02"), std::string::npos);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(paths[i], paths[i + 3]);
}

TEST(Discovery, FindOurDeviceReleasesWhatEachSearchTook) {
    std::string error;
    ASSERT_TRUE(sim_configure("locked=1,others=3", &error));
    testing::internal::CaptureStdout();
    HANDLE control = FindOurDevice(QUORVEX_USAGE_CONTROL);
    HANDLE message = FindOurDevice(QUORVEX_USAGE_MESSAGE);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(control, INVALID_HANDLE_VALUE);
    ASSERT_NE(message, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim_usage().handles, 2);
    EXPECT_EQ(sim_usage().sets, 0);
    EXPECT_EQ(sim_usage().heap_blocks, 0);
    EXPECT_EQ(sim_usage().preparsed, 0);
    CloseHandle(control);
    CloseHandle(message);
}

namespace {

// A listing's entries in short: how the read/write open went ("rw" or the
// error) and the verdict, one word pair an entry.
std::string entries_in_short(const std::string& out) {
    std::string entries;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("    read/write open: ", 0) == 0) {
            const std::string open = line.substr(21);
            entries += (entries.empty() ? "" : " ") +
                       (open == "yes" ? std::string("rw") : "e" + open.substr(10, open.find(' ', 10) - 10));
        } else if (line.rfind("    verdict: ", 0) == 0) {
            const std::string verdict = line.substr(13);
            entries += verdict == "the quorvex control collection"   ? ":control"
                       : verdict == "the quorvex message collection" ? ":message"
                       : verdict.find("another vendor") != std::string::npos ? ":other"
                       : verdict.find("another usage") != std::string::npos  ? ":usage"
                       : verdict.find("input collection") != std::string::npos ? ":input"
                                                                             : ":unreadable";
        }
    }
    return entries;
}

std::string last_line(const std::string& out) {
    const size_t start = out.rfind('\n', out.size() - 2);
    return out.substr(start == std::string::npos ? 0 : start + 1);
}

}  // namespace

// /list: why the search would fail, for each population the search meets.
TEST(Listing, PopulationsOfInterfaces) {
    const std::string opens = "; quorvex control collection: opens; quorvex message collection: opens";
    struct {
        const char* scenario;
        int status;
        const char* entries;
        std::string summary;
    } const cases[] = {
        {"", 0, "rw:other rw:other rw:control rw:message",
         "Summary: 4 present interface(s)" + opens + "; the modes will find the device\n"},
        // Held by the system: the identity still reads through a zero-access open.
        {"locked=1,busy=1,others=0", 0, "e5:other e32:other rw:control rw:message",
         "Summary: 4 present interface(s)" + opens + "; the modes will find the device\n"},
        {"foreign=1,othervendor=1,genericpage=1,others=0", 0,
         "rw:other rw:other rw:other rw:usage rw:input rw:control rw:message",
         "Summary: 7 present interface(s)" + opens + "; the modes will find the device\n"},
        {"badcaps=1,emptypath=1,others=0", 0, "e3:unreadable rw:unreadable rw:control rw:message",
         "Summary: 4 present interface(s)" + opens + "; the modes will find the device\n"},
        {"device=none,others=0", 3, "",
         "Summary: 0 present interface(s); quorvex control collection: not present; quorvex message collection: not "
         "present; the modes will not find the device\n"},
        {"device=control,others=0", 3, "rw:control",
         "Summary: 1 present interface(s); quorvex control collection: opens; quorvex message collection: not "
         "present; the modes will not find the device\n"},
        {"hold=control:w:rw,others=0", 3, "e32:control rw:message",
         "Summary: 2 present interface(s); quorvex control collection: present, but the open fails with error 32; "
         "quorvex message collection: opens; the modes will not find the device\n"},
        {"hold=message:r:rw,others=0", 0, "rw:control rw:message",
         "Summary: 2 present interface(s)" + opens + "; the modes will find the device\n"},
        {"fail=SetupDiGetClassDevsA@1", 3, "", "SetupDiGetClassDevs failed: e0000209\n"},
        // The control collection's path cannot be read: named, and counted as no collection.
        {"fail=SetupDiGetDeviceInterfaceDetailA@2,others=0", 3, ":unreadable rw:message",
         "Summary: 2 present interface(s); quorvex control collection: not present; quorvex message collection: "
         "opens; the modes will not find the device\n"},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, {"/list"});
        EXPECT_EQ(run.status, c.status) << c.scenario;
        EXPECT_EQ(entries_in_short(run.out), c.entries) << c.scenario << "\n" << run.out;
        if (std::string(c.entries).rfind(":unreadable", 0) == 0) {
            EXPECT_NE(run.out.find("\n[0] device path unreadable (SetupDiGetDeviceInterfaceDetail failed)\n"),
                      std::string::npos)
                << run.out;
        }
        EXPECT_EQ(last_line(run.out), c.summary) << c.scenario;
        EXPECT_TRUE(frames_sent().empty()) << c.scenario;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
}

TEST(Listing, WholeEntriesAndTheUnpluggedDeviceNamed) {
    const run_result run = run_here("locked=1,others=0,absent=2", {"/list"});
    const std::string path = "\\\\?\\hid#vid_001f&pid_ba1c&col01#7&1a2b3c0%d&0&000%d#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    auto at = [&](int n) {
        char text[128];
        snprintf(text, sizeof(text), path.c_str(), n, n);
        return std::string(text);
    };
    EXPECT_EQ(run.out,
              "Present HID interfaces:\n"
              "[0] \\\\?\\hid#vid_045e&pid_00db&mi_00&col01#7&1a2b3c00&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}\n"
              "    identity: VID 0x045e, PID 0x00db, usage page 0x0001, usage 0x0006, input report 0 bytes, output "
              "report 0 bytes, feature report 0 bytes\n"
              // Outside ASCII, a character is printed as the script would write it.
              "    strings: manufacturer \"Another maker\", product \"Another maker's device \\u00e9\", serial number unreadable (error 87)\n"
              "    read/write open: no, error 5 (access denied: the system holds it)\n"
              "    verdict: not quorvex: another vendor or product\n"
              "[1] " + at(3) + "\n"
              "    identity: VID 0x001f, PID 0xba1c, usage page 0xff00, usage 0x0001, input report 0 bytes, output "
              "report 65 bytes, feature report 0 bytes\n"
              "    strings: manufacturer \"quorvex\", product \"quorvex virtual HID device\", serial number \"0001\"\n"
              "    read/write open: yes\n"
              "    verdict: the quorvex control collection\n"
              "[2] " + at(4).replace(at(4).find("col01"), 5, "col02") + "\n"
              "    identity: VID 0x001f, PID 0xba1c, usage page 0xff00, usage 0x0002, input report 33 bytes, output "
              "report 0 bytes, feature report 0 bytes\n"
              "    strings: manufacturer \"quorvex\", product \"quorvex virtual HID device\", serial number \"0001\"\n"
              "    read/write open: yes\n"
              "    verdict: the quorvex message collection\n"
              "Not present (known to the system, device gone): 2 interface(s); quorvex: " + at(1) + ", " + at(2) + "\n"
              "Summary: 3 present interface(s); quorvex control collection: opens; quorvex message collection: opens; "
              "the modes will find the device\n");
    EXPECT_EQ(run.status, 0);

    // Another maker's unplugged mouse is counted among the gone, never named as quorvex.
    const run_result gone = run_here("others=0,absent=1,gone=2", {"/list"});
    EXPECT_NE(gone.out.find("\nNot present (known to the system, device gone): 3 interface(s); quorvex: " + at(0) + "\n"),
              std::string::npos)
        << gone.out;
}
