#include "tests/expectations.h"

#include <cstdio>

#include "layout/fuzz_frames.h"
#include "testquorvex_version.h"

const char kFound[] = "Success: Found my device.. \n";
const char kNotFound[] = "Failure: Could not find our HID device \n";
const char kSending[] = "...sending request(s) to our device\n";
const char kUsage[] = "Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\n";

// The demonstrations /all plays, in the option table's order.
static const char* const kAllModes[] = {"/multitouch", "/mouse", "/digitizer", "/keyboard", "/message"};

std::string expected_help() {
    return std::string("testquorvex ") + TESTQUORVEX_VERSION + ", test client for the quorvex virtual HID device\n" +
           kUsage +
           "       testquorvex /list       every present HID interface, and why it is or is not the device\n"
           "       testquorvex /all        the five demonstrations that end, in turn; status 4 if a report was refused\n"
           "       testquorvex /ping       vendor message round trips, timed: minimum, median, 99th percentile, maximum\n"
           "       testquorvex /flood      neutral joystick frames back to back: the sustained frame rate\n"
           "       testquorvex /play:FILE  a script's reports, pauses and expected answers (FILE of -: standard input)\n"
           "       testquorvex /fuzz       malformed and boundary frames; after every 64, the driver must still answer\n"
           "       testquorvex /watch      what the system receives from the device, as a script, until Ctrl+C or "
           "/count\n"
           "       testquorvex /send STEP  one step of a script: the rest of the command line\n"
           "       Modifiers follow the option, in any order: /name:N takes a whole number, /name:TEXT a text,\n"
           "       /name alone is a flag.\n"
           "       /timeout:MS after /all, /ping, /flood, /play, /fuzz: each transfer's deadline (5000); status 5 past it\n"
           "       /wait:S     after /list, /all, /play: first wait up to S seconds for the device to arrive\n"
           "       /count:N    after /ping, /flood, /fuzz, /watch: how many round trips (100), frames (/flood 10000, /fuzz 20000) or reports (/watch)\n"
           "       /repeat:N   after /play: play the whole script N times (1)\n"
           "       /quiet      after /play: print only failures, progress once a second, and the summary\n"
           "       /seed:S     after /fuzz: the random frames' seed (from the performance counter)\n"
           "       /out:FILE   after /fuzz: the journal (quorvex-fuzz-SEED.txt here); never overwritten\n"
           "       /verify     after /all, /flood, /play: each accepted report must arrive as sent on its input "
           "collection; status 4 on a miss\n"
           "       /trace:FILE after /all, /ping, /flood, /play, /fuzz: the run as a script /play sends again; never overwritten\n"
           "       /report:FILE after /all, /ping, /flood, /play, /fuzz: the results as JUnit XML, replacing FILE\n";
}

std::string search_line(int usage) {
    char line[96];
    snprintf(line, sizeof(line), "\n....looking for our HID device (with UP=0xff00 and Usage=0x%x)\n", usage);
    return line;
}

void PrintTo(const expected_frame& frame, std::ostream* out) {
    *out << frame.via;
    char hex[4];
    for (uint8_t byte : frame.bytes) {
        snprintf(hex, sizeof(hex), " %02x", byte);
        *out << hex;
    }
}

namespace {

// The control frame: 0x40, the inner report's length, the inner report, and
// zeros to 65 bytes (the record is cleared when it is made, and one run sends
// one kind of report).
expected_frame frame(char via, std::vector<uint8_t> inner) {
    std::vector<uint8_t> bytes = {0x40, static_cast<uint8_t>(inner.size())};
    bytes.insert(bytes.end(), inner.begin(), inner.end());
    bytes.resize(65, 0);
    return {via, bytes};
}

uint8_t lo(unsigned value) { return static_cast<uint8_t>(value & 0xFF); }
uint8_t hi(unsigned value) { return static_cast<uint8_t>(value >> 8); }

std::vector<expected_frame> digitizer() {
    struct step {
        unsigned status, x, y;
    };
    const step path[] = {{2, 1000, 10000}, {2, 1000, 12000}, {2, 1000, 14000}, {3, 1000, 16000},
                         {3, 1000, 18000}, {3, 1000, 20000}, {3, 2000, 20000}, {3, 3000, 20000},
                         {2, 3000, 20000}, {2, 3000, 15000}, {2, 3000, 10000}, {0, 3000, 10000}};
    std::vector<expected_frame> frames;
    for (const step& s : path) frames.push_back(frame('W', {0x05, lo(s.status), lo(s.x), hi(s.x), lo(s.y), hi(s.y)}));
    return frames;
}

// Down, moved by 1000 on both axes, then up where they were; two contacts a
// report, the whole update's count in its first report.
std::vector<expected_frame> multitouch() {
    std::vector<expected_frame> frames;
    for (unsigned phase = 0; phase < 3; ++phase) {
        const unsigned status = phase == 2 ? 0 : 7;
        const unsigned moved = phase == 0 ? 0 : 1000;
        for (unsigned first = 0; first < 4; first += 2) {
            std::vector<uint8_t> inner = {0x01};
            for (unsigned k = first; k < first + 2; ++k) {
                const unsigned x = (k + 1) * 1000 + moved, y = 6500 + 1500 * k + moved;
                inner.insert(inner.end(), {lo(status), lo(k), lo(x), hi(x), lo(y), hi(y), 20, 0, 30, 0});
            }
            inner.push_back(first == 0 ? 4 : 0);
            frames.push_back(frame('S', inner));
        }
    }
    return frames;
}

std::vector<expected_frame> keyboard() {
    // Left GUI tap, "Hello" (an empty report between the two L presses),
    // Caps Lock tap.
    const uint8_t strokes[][2] = {{0x08, 0x00}, {0x00, 0x00}, {0x02, 0x0B}, {0x00, 0x08}, {0x00, 0x0F}, {0x00, 0x00},
                                  {0x00, 0x0F}, {0x00, 0x12}, {0x00, 0x00}, {0x00, 0x39}, {0x00, 0x00}};
    std::vector<expected_frame> frames;
    for (const auto& s : strokes) frames.push_back(frame('W', {0x07, s[0], 0x00, s[1], 0, 0, 0, 0, 0}));
    return frames;
}

// The vendor message: report ID 0x10, the greeting, zeros to 33 bytes.
std::vector<uint8_t> greeting_report() {
    const char greeting[] = "Hello quorvex";
    std::vector<uint8_t> report(33, 0);
    report[0] = 0x10;
    for (size_t i = 0; greeting[i] != 0; ++i) report[1 + i] = static_cast<uint8_t>(greeting[i]);
    return report;
}

// /ping's message: its sequence number, from 1, in the first four data bytes.
std::vector<uint8_t> ping_report(size_t sequence) {
    std::vector<uint8_t> report(33, 0);
    report[0] = 0x10;
    for (int i = 0; i < 4; ++i) report[1 + i] = lo(static_cast<unsigned>(sequence >> (8 * i)));
    return report;
}

}  // namespace

std::vector<expected_frame> expected_frames(const std::string& option, size_t count) {
    const size_t joystick_frames = count;
    if (option == "/ping") {
        std::vector<expected_frame> frames;
        for (size_t n = 1; n <= count; ++n) frames.push_back(frame('W', ping_report(n)));
        return frames;
    }
    // At rest: six axes centred, no buttons.
    if (option == "/flood") return std::vector<expected_frame>(count, frame('W', {0x06, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0, 0}));
    if (option == "/mouse") return {frame('W', {0x03, 0x00, 0xE8, 0x03, 0x10, 0x27, 0x00})};
    if (option == "/digitizer") return digitizer();
    if (option == "/multitouch") return multitouch();
    if (option == "/keyboard") return keyboard();
    if (option == "/message") return {frame('W', greeting_report())};
    if (option == "/all") {
        std::vector<expected_frame> frames;
        for (const char* mode : kAllModes) {
            const std::vector<expected_frame> more = expected_frames(mode);
            frames.insert(frames.end(), more.begin(), more.end());
        }
        return frames;
    }
    if (option == "/joystick") {
        // Value 7 is 0 at first, then two draws a report from the target's
        // never-seeded runtime generator: bit 0 of the first becomes bit 15.
        std::vector<expected_frame> frames;
        uint16_t random = 0;
        uint32_t state = 1;
        for (size_t n = 0; n < joystick_frames; ++n) {
            const uint8_t up = static_cast<uint8_t>(n), down = static_cast<uint8_t>(0x40 - n);
            frames.push_back(frame('W', {0x06, up, up, lo(up + 0x80u), up, lo(up + 0x80u), down, lo(random), hi(random)}));
            state = state * 214013u + 2531011u;
            const uint32_t first = (state >> 16) & 0x7FFF;
            state = state * 214013u + 2531011u;
            random = static_cast<uint16_t>((first << 15) | ((state >> 16) & 0x7FFF));
        }
        return frames;
    }
    return {};
}

std::vector<expected_frame> expected_fuzz_frames(uint32_t seed, uint64_t count) {
    const char text[] = "fuzz check";
    const expected_frame check = frame('W', [&] {
        std::vector<uint8_t> message = {0x10};
        message.insert(message.end(), text, text + sizeof(text) - 1);
        message.resize(33, 0);
        return message;
    }());
    // The probe of whether the device echoes comes first.
    std::vector<expected_frame> frames = {check};
    for (uint64_t i = 0; i < count; ++i) {
        std::vector<uint8_t> bytes(65);
        fuzz_frame(seed, i, bytes.data());
        frames.push_back({fuzz_via_set(i) ? 'S' : 'W', bytes});
        if (i % 64 == 63 || i + 1 == count) frames.push_back(check);
    }
    return frames;
}

std::vector<std::vector<uint8_t>> expected_replies(const std::string& option, size_t count) {
    if (option == "/message" || option == "/all") return {greeting_report()};  // the device echoes the message
    if (option == "/ping") {
        std::vector<std::vector<uint8_t>> replies;
        for (size_t n = 1; n <= count; ++n) replies.push_back(ping_report(n));
        return replies;
    }
    return {};
}

std::string expected_demonstration(const std::string& option) {
    if (option == "/mouse") return "Sending mouse report\n";
    if (option == "/digitizer") return "Sending digitizer report\n";
    if (option == "/multitouch") return "Sending multitouch report\n";
    if (option == "/keyboard") return "Sending keyboard report\n";
    if (option == "/joystick") return "Sending joystick report\n";
    if (option == "/message")
        return "Writing vendor message report\nReading vendor message report\nSuccess!\n    Hello quorvex";
    if (option == "/all") {
        std::string all;
        for (const char* mode : kAllModes) all += expected_demonstration(mode);
        // 6 + 1 + 12 + 11 + 1 frames; the echo ends without a line feed of its own.
        return all + "\nAll: 31 reports sent, 0 refused; vendor message read back\n";
    }
    return "";
}

std::vector<std::string> trace_steps(const std::string& text) {
    std::vector<std::string> steps;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t comment = line.rfind(" # ");
        if (comment != std::string::npos) line.resize(comment);
        if (!line.empty() && line[0] != '#') steps.push_back(line);
    }
    return steps;
}
