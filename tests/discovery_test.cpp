// Finding the two collections among the present HID interfaces.

#include <gtest/gtest.h>

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
