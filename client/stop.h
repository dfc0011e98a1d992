// The tester's stop request for the long runs: Ctrl+C or Ctrl+Break sets a
// flag of its own, apart from the deadline, so that a stop is never taken for
// a stall. The runs look at it between transfers; the transfer under way is
// left to finish within its deadline.
#pragma once

#include "client/quorvex_client.h"

// Installs the console control handler for this run; false, with the call
// named, when Windows refuses it. It is never removed: removing a handler
// that may be running deadlocks under Wine, which runs handlers while it
// holds its console lock. When the console is closing, the handler prints the
// run's summary (through the hook of run_end.h) unless the run already has.
bool quorvex_stop_install(quorvex_client* client);
// The run is over: nothing to stop, and a closing console no longer has a
// summary to print.
void quorvex_stop_forget();

// What stopped the run, read once for a summary, which then goes by this
// value alone: a Ctrl+C after it leaves the summary's status as it is.
enum class quorvex_stop_cause { none, ctrl_c, ctrl_break, console_closing, deadline };
quorvex_stop_cause quorvex_stop_seen(const quorvex_client* client);
// "Stopped by Ctrl+C" (or Ctrl+Break) when the tester stopped the run and no
// deadline did; true when it printed.
bool quorvex_stop_say(quorvex_stop_cause cause);
