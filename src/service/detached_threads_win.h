// Threads of the service runtime that nobody joins: the stop time-out, the
// watchdog's timer and workers, the watch of the application's end; and the
// one line (or event entry) that a thread which must not wait has written
// for it, given a bounded time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Starts `routine(parameter)` on a thread of its own and lets it go. False,
// with one error line ("cannot start the <what> thread (error N)"), when the
// system refuses.
bool startDetachedThread(LPTHREAD_START_ROUTINE routine, void* parameter, const char* what);

// One error line and, with `event`, one error entry in the event log, written
// by a thread of their own; the caller waits at most `waitMs` for it (a log
// write can wait on the C runtime's stream lock, an entry on the event log
// service) and goes on whatever became of it.
void writeErrorWithin(std::string text, bool event, uint32_t waitMs);
