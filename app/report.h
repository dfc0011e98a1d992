// /report:FILE: a long run's results as JUnit XML, the test cases a CI server
// shows. The cases are kept in fixed blocks as the run goes; the thread that
// owns the summary writes them, to a temporary file beside FILE, flushed, then
// moved over FILE, so that a reader never sees half a report. When no report
// was asked for, every call here returns at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/stop.h"

enum class report_outcome { passed, failure, error, skipped };

// Creates the temporary file before anything is sent; false, with the call
// and Windows' text printed, when it cannot be made.
bool report_open(const char* file, const char* suite);
bool report_on();
// Each failed transfer of the run becomes a note, as the line the run prints.
struct quorvex_client;
void report_listen(quorvex_client* client);

// A property of the suite (a figure of the run): printf-style value.
void report_property(const char* name, QUORVEX_FORMAT_STRING const char* format, ...) QUORVEX_PRINTF_LIKE(2, 3);
// A line for the next case's failure or error text (what the run printed).
void report_note(QUORVEX_FORMAT_STRING const char* format, ...) QUORVEX_PRINTF_LIKE(1, 2);

// One test case whole, with the notes since the last case as its text: the
// one call a run needs to add a case of its own.
void report_case(const char* classname, const char* name, int64_t time_us, report_outcome outcome, const char* type,
                 const char* message);
// A case under way, timed from now: ended with its outcome, dropped when it
// has nothing to say, or, when the run is stopped inside it, ended by
// report_finish as an error naming the stop.
void report_begin(const char* classname, const char* name);
void report_end(report_outcome outcome, const char* type, const char* message);
void report_drop();
bool report_case_open();

// What stopped the run, as the report says it: "Stopped by Ctrl+C", "the
// driver did not complete ReadFile within 250 ms", ...
const char* report_stop_words(quorvex_stop_cause stop, const char* stalled, uint32_t timeout_ms, char* out, size_t size);

// Writes the report: a case still under way ends as an error of the stop (or
// of what ended the run when nothing stopped it). Gives the status, or 2 when
// a write, the flush or the move failed (printed, with the call).
int report_finish(const char* stop_words, int status);
