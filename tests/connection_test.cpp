// Connect, disconnect and the two ways a frame reaches the control collection.

#include <gtest/gtest.h>

#include <cstring>

#include "client/quorvex_client.h"
#include "tests/support.h"

namespace {

quorvex_client* connected_client(const std::string& scenario) {
    std::string error;
    EXPECT_TRUE(sim_configure(scenario, &error)) << error;
    quorvex_client* client = quorvex_new_client();
    testing::internal::CaptureStdout();
    const int connected = quorvex_connect(client);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(connected, 1);
    return client;
}

}  // namespace

TEST(Connection, NewRecordHasNoHandlesAndAClearedFrame) {
    std::string error;
    ASSERT_TRUE(sim_configure("", &error));
    quorvex_client* client = quorvex_new_client();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->control, nullptr);
    EXPECT_EQ(client->message, nullptr);
    for (uint8_t byte : client->control_report) EXPECT_EQ(byte, 0);
    quorvex_free_client(client);
    EXPECT_TRUE(sim_usage().none());
}

TEST(Connection, DisconnectClosesBothOnceAndLeavesNulls) {
    quorvex_client* client = connected_client("");
    EXPECT_EQ(sim_usage().handles, 2);
    quorvex_disconnect(client);
    EXPECT_EQ(client->control, nullptr);
    EXPECT_EQ(client->message, nullptr);
    EXPECT_EQ(sim_usage().handles, 0);
    const int closes = sim_calls("CloseHandle");
    quorvex_disconnect(client);
    EXPECT_EQ(sim_calls("CloseHandle"), closes);
    quorvex_free_client(client);
}

TEST(Connection, MessageCollectionGetsTenInputBuffersAndRefusalUndoesConnect) {
    const run_result refused = run_here("fail=HidD_SetNumInputBuffers", {"/mouse"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.out, search_line(1) + kFound + search_line(2) + "Error: CreateFile failed: 32\n" + kFound +
                               "failed HidD_SetNumInputBuffers 87\n");
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());

    // Eleven replies queued on a handle that keeps ten: the first one is gone.
    quorvex_client* client = connected_client("");
    for (int i = 0; i < 11; ++i) {
        uint8_t* report = quorvex_begin_frame(client, 33);
        report[0] = QUORVEX_REPORT_MESSAGE;
        std::memset(report + 1, 0, 32);
        report[1] = static_cast<uint8_t>('a' + i);
        ASSERT_EQ(quorvex_write_control_report(client), 1);
    }
    uint8_t input[33];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(client->message, input, sizeof(input), &got, nullptr));
    EXPECT_EQ(input[1], 'b');
    quorvex_disconnect(client);
    quorvex_free_client(client);
}

TEST(Connection, EverySendIsTheWhole65ByteFrameWhateverTheInnerLength) {
    quorvex_client* client = connected_client("");
    uint8_t* report = quorvex_begin_frame(client, 6);
    report[0] = QUORVEX_REPORT_DIGITIZER;
    EXPECT_EQ(quorvex_write_control_report(client), 1);
    EXPECT_EQ(quorvex_set_control_report(client), 1);
    const auto frames = frames_sent();
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.size(), 65u);
        EXPECT_EQ(frame[0], 0x40);
        EXPECT_EQ(frame[1], 6);
    }
    EXPECT_EQ(sim_events().back().op, "HidD_SetOutputReport");

    // A frame the device does not accept: the failure line, and the record stays usable.
    quorvex_begin_frame(client, 7);  // digitizer ID with the mouse's length
    testing::internal::CaptureStdout();
    EXPECT_EQ(quorvex_write_control_report(client), 0);
    EXPECT_EQ(quorvex_set_control_report(client), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "failed WriteFile 87\nfailed HidD_SetOutputReport 87\n");
    quorvex_begin_frame(client, 6);
    EXPECT_EQ(quorvex_write_control_report(client), 1);

    quorvex_disconnect(client);
    quorvex_free_client(client);
}
