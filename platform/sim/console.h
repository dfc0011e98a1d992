// The console in the simulated system: its control events, Ctrl+C and
// Ctrl+Break, from the terminal (SIGINT) or from the scenario, delivered to
// the handlers SetConsoleCtrlHandler registered, on a thread of their own as
// Windows delivers them. With none that takes the event, the process ends at
// once, as a console program ends.
#pragma once

#include "platform/sim/winapi.h"

// Forgets the handlers (a new run).
void console_reset();
// Called as each transfer begins: the scenario's ctrl-c-after=N and
// ctrl-break-after=N raise their event during the N-th.
void console_transfer_begins();
// Raises a control event now: interrupt-after=N does, after the N-th pause.
void console_raise(DWORD event);
// The program is ending: the thread that listens at the terminal ends too,
// so that nothing of it outlives the run.
void console_stop_listening();
