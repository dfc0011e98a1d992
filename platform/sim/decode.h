// The emulated device's reading of what it receives, for the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "mouse buttons=... x=..." for an inner report (ID byte first).
std::string decode_inner_report(const uint8_t* inner, size_t length);

std::string hex_bytes(const uint8_t* bytes, size_t length);
