// A bounded run ends once. Its summary is printed by whichever thread gets
// there first: the caller at the end of its run, the watchdog giving up on a
// driver that keeps a transfer, or the console handler when the window
// closes. The others print nothing and free nothing the summary reads.
#pragma once

#include "client/quorvex_client.h"

// The run's summary, registered once by the program: prints it and gives the
// exit status. The watchdog and the console handler call it; nothing else of
// the client calls back into the run.
using quorvex_summary_hook = int (*)(quorvex_client* client);
void quorvex_on_run_end(quorvex_summary_hook summary);

// A new run: nobody has ended it yet.
void quorvex_end_reset();
// True for the first caller only, who then prints the summary.
bool quorvex_end_claim();
// The claimant calls the hook through here; done when it returns.
int quorvex_end_summary(quorvex_client* client);
// The claimant is done without a summary (a run that never started): a
// closing console's handler waiting on it may end the process.
void quorvex_end_finished();
// Whether the claimant has printed the whole summary, or finished without one.
bool quorvex_end_done();
// A thread that lost the claim to one that ends the process: it waits here
// for that end, printing and freeing nothing.
[[noreturn]] void quorvex_end_yield();
