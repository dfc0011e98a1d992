// The tester's stop request for the long runs: Ctrl+C or Ctrl+Break sets a
// flag of its own, apart from the deadline, so that a stop is never taken for
// a stall. The runs look at it between transfers; the transfer under way is
// left to finish within its deadline.
#pragma once

#include "client/quorvex_client.h"

// Installs the console control handler for this run; false, with the call
// named, when Windows refuses it. It is never removed: removing a handler
// that may be running deadlocks under Wine, which runs handlers while it
// holds its console lock. last_words prints the summary when the console is
// closing, which leaves no time to wait for the driver.
bool quorvex_stop_install(quorvex_client* client, int (*last_words)(quorvex_client* client));
// The run is over: nothing to stop, and a closing console no longer has a
// summary to print.
void quorvex_stop_forget();
// Before a summary: "Stopped by Ctrl+C" (or Ctrl+Break) when the tester
// stopped the run and no deadline did; true when it printed.
bool quorvex_stop_say(const quorvex_client* client);
