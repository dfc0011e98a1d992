// /verify: every report the driver accepted must arrive on its input
// collection, as sent, within the transfer deadline; the misses one line each,
// and a summary with the arrival times.
#pragma once

#include <cstdint>

#include "client/stop.h"

struct long_run;

// Connected, before the first send: the input collections opened and read,
// and every send listened to. False, with the reason printed and *status
// set, ends the run before it sends anything.
bool verify_begin(long_run* run, int* status);
// What the next sends are, for the misses' lines: a script's line, or the
// reports of a demonstration or a flood counted from 1.
void verify_line(const char* script, uint32_t line);
void verify_source(const char* name);
// After the last step: waits for what is still on its way, up to its deadline.
void verify_settle(long_run* run);
// The summary's line, and whether anything was missed.
void verify_totals(const long_run* run);
bool verify_missed();
// Stops the readers; after the summary, before the device is let go.
void verify_end(long_run* run);
