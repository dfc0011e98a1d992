// The device view: what the emulated device receives and delivers, as the
// script step that gives it back, so that a trace plays back as a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A 65-byte output report, sent by HidD_SetOutputReport (via_set) or WriteFile.
std::string describe_frame(const uint8_t* frame, bool via_set);
// An input report of the message collection (report ID first), as the
// expect step it meets.
std::string describe_answer(const uint8_t* report, size_t length);

std::string hex_bytes(const uint8_t* bytes, size_t length);
