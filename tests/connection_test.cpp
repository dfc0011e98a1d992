// Connect, disconnect and the two ways a frame reaches the control collection.

#include <gtest/gtest.h>

#include <cstring>

#include "client/deadline.h"
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

namespace {

struct seen_transfer {
    std::string op;
    DWORD error;
    DWORD length;
    int first_byte;  // -1: no bytes
    bool late;
    bool operator==(const seen_transfer& other) const {
        return op == other.op && error == other.error && length == other.length && first_byte == other.first_byte &&
               late == other.late;
    }
};

void PrintTo(const seen_transfer& t, std::ostream* os) {
    *os << t.op << " error " << t.error << " length " << t.length << " first " << t.first_byte << (t.late ? " late" : "");
}

void record_transfer(void* context, const quorvex_transfer* transfer) {
    static_cast<std::vector<seen_transfer>*>(context)->push_back(
        {transfer->op, transfer->error, transfer->length, transfer->bytes != nullptr ? transfer->bytes[0] : -1,
         transfer->late});
}

}  // namespace

// One listener sees every transfer the client makes, after the call and with
// its result: both sends, refused or not, the read, and the flush.
TEST(Connection, OneListenerSeesEverySendReadAndFlushWithItsResult) {
    quorvex_client* client = connected_client("fail=HidD_SetOutputReport@1,fail=HidD_FlushQueue@2");
    std::vector<seen_transfer> seen;
    client->on_transfer = record_transfer;
    client->listener = &seen;

    uint8_t frame[QUORVEX_CONTROL_REPORT_SIZE] = {QUORVEX_CONTROL_REPORT_ID, 33, QUORVEX_REPORT_MESSAGE, 'x'};
    testing::internal::CaptureStdout();
    EXPECT_EQ(quorvex_send_frame(client, frame, QUORVEX_SEND_SET), 0);
    EXPECT_EQ(quorvex_send_frame(client, frame, QUORVEX_SEND_WRITE | QUORVEX_SEND_QUIET), 1);
    quorvex_message answer = {};
    EXPECT_EQ(quorvex_read_message(client, &answer), 1);
    EXPECT_EQ(quorvex_flush_answers(client), 1);
    EXPECT_EQ(quorvex_flush_answers(client), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "failed HidD_SetOutputReport 31\nfailed HidD_FlushQueue 31\n");

    const std::vector<seen_transfer> wanted = {
        {"HidD_SetOutputReport", ERROR_GEN_FAILURE, 65, 0x40, false},
        {"WriteFile", 0, 65, 0x40, false},
        {"ReadFile", 0, 33, QUORVEX_REPORT_MESSAGE, false},
        {"HidD_FlushQueue", 0, 0, -1, false},
        {"HidD_FlushQueue", ERROR_GEN_FAILURE, 0, -1, false},
    };
    EXPECT_EQ(seen, wanted);
    EXPECT_EQ(client->reports_sent, 2u);
    EXPECT_EQ(client->reports_refused, 1u);
    EXPECT_EQ(client->messages_read, 1u);
    quorvex_disconnect(client);
    quorvex_free_client(client);
}

// A thread of its own is bounded as the run's thread is: the watchdog
// cancels its read past the deadline and the run stops, while the run's
// thread goes on unbounded by that.
TEST(Connection, AReaderThreadOfItsOwnHasItsReadsBoundedToo) {
    quorvex_client* client = connected_client("clock=virtual,stall=ReadFile@1");
    quorvex_deadline deadline;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(quorvex_deadline_start(&deadline, client, 250));
    std::vector<seen_transfer> seen;
    client->on_transfer = record_transfer;
    client->listener = &seen;
    // A thread of the simulated system's, so that the virtual clock sees this
    // one wait for it.
    struct reader_run {
        quorvex_deadline* deadline;
        quorvex_client* client;
        bool bound;
        int read;
    } reader = {&deadline, client, false, -1};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID argument) -> DWORD {
            auto* r = static_cast<reader_run*>(argument);
            r->bound = quorvex_deadline_bind(r->deadline);
            quorvex_message answer = {};
            r->read = quorvex_read_message(r->client, &answer);
            quorvex_deadline_unbind(r->deadline);
            return 0;
        },
        &reader, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    const bool bound = reader.bound;
    const int read = reader.read;
    quorvex_deadline_stop(&deadline);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "failed ReadFile 995\nStopped: the driver did not complete ReadFile within 250 ms\n");
    EXPECT_TRUE(bound);
    EXPECT_EQ(read, 0);
    EXPECT_TRUE(quorvex_stalled(client));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].late);
    quorvex_disconnect(client);
    quorvex_free_client(client);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}
