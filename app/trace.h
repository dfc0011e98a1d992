// /trace:FILE: the run written as the script that plays it again. Each
// transfer is the step that makes it, with its result after " # "; each
// answer read, the expect step it meets; each pause, its sleep step; all
// else, comment lines.
#pragma once

#include "app/long_run.h"

// Creates the file (never over an existing one) before anything is sent;
// false, with the call and Windows' text printed, when it cannot be.
// Nothing happens without /trace.
bool trace_open(const run_settings& settings);
// Makes the client's transfers and pauses lines of the trace.
void trace_listen(quorvex_client* client);
// The run's end, from whichever thread prints the summary: a last comment
// line, and the file flushed. Once; a write, flush or close that failed
// then prints its call and text, and the status becomes 2.
int trace_end(const quorvex_client* client, quorvex_stop_cause stop, int status);
// After the run, on the caller's thread: ends it when no summary did, and
// closes the file.
int trace_close(int status);
