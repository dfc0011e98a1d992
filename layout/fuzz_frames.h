// The frames /fuzz sends, by their number in the run. Each is a function of
// the seed and its number alone, over the kinds' field table: a run repeats
// exactly from its seed, and making a frame keeps and allocates nothing.
//
// Three phases, in order: the headers (every kind byte with its own length,
// then every length byte of each kind the device knows); the fields (every
// field of every kind at 0, 1, its largest value and one less, the rest at
// rest; then each kind with every byte after its inner report set); then
// random frames from the seed.
#pragma once

#include <stdint.h>

#include "layout/report_layout.h"

enum class fuzz_phase : uint8_t { headers, fields, random };

// How many frames the first two phases hold.
uint64_t fuzz_header_frames();
uint64_t fuzz_field_frames();

// Frame number index (from 0) of the run with this seed; returns its phase.
fuzz_phase fuzz_frame(uint32_t seed, uint64_t index, uint8_t frame[LAYOUT_FRAME_SIZE]);

// Sends alternate: even numbers by WriteFile, odd by HidD_SetOutputReport.
inline bool fuzz_via_set(uint64_t index) { return (index & 1) != 0; }
