// The console in the simulated system: its control events, Ctrl+C and
// Ctrl+Break, from the terminal (SIGINT) or from the scenario, delivered to
// the handlers SetConsoleCtrlHandler registered, on a thread of their own as
// Windows delivers them. With none that takes the event, the process ends at
// once, as a console program ends.
#pragma once

#include <string>

#include "platform/sim/winapi.h"

// Forgets the handlers (a new run).
void console_reset();
// Called as each transfer begins: the scenario's ctrl-c-after=N and
// ctrl-break-after=N raise their event during the N-th.
void console_transfer_begins();
// Raises a control event now: interrupt-after=N does, after the N-th pause,
// and ctrl-c-at=OP@K during the K-th call of OP. The system's lock is let go
// while the handlers run.
void console_raise(DWORD event);
// Called as the main thread enters the system: a closing console's handler,
// started held, runs now, and the main thread waits here until it has ended
// the process; once it has, the process ends here.
void console_checkpoint();
// ExitProcess, or a return from the closing console's handler: on that
// handler's thread, the process ends at the main thread's next call of the
// system, and this thread never goes on; on any other thread, it returns.
void console_handler_exits(UINT status);
// The status a closing console's handler ended the process with, once it has
// run; -1 when the console never closed.
int console_closed_status();
// The whole program, for ctrl-c-at-line=TEXT: standard output passes
// through here, and Ctrl+C comes right after the first line that starts with
// TEXT is written, on the thread that printed it, before its next statement.
void console_watch_output(const std::string& line_start);
// The program is ending: the thread that listens at the terminal ends too,
// so that nothing of it outlives the run.
void console_stop_listening();
