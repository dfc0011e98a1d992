// The emulated device's reading of what it receives, for the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Inner report length the device expects for an inner report ID; 0 if unknown.
int device_inner_length(uint8_t report_id);

// "mouse buttons=... x=..." for an inner report (ID byte first).
std::string decode_inner_report(const uint8_t* inner, size_t length);

std::string hex_bytes(const uint8_t* bytes, size_t length);
