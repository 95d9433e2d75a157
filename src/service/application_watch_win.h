// The watch of the application's end: a thread of its own, attached to the
// VM as a daemon while it waits in WinLauncher.awaitEnd (a thread blocked in
// Java does not hold the VM's exit), detached once it returns. Used by the
// service run and the console run alike.
#pragma once

#include "launch/health_calls.h"

// Starts the watch once the VM runs the application; `signal` (an event the
// caller waits on) is set once the application has ended by itself: its main
// returned or threw and no thread of it that is not a daemon is left. When
// the end cannot be watched (an older runtime jar) the log says so once and
// the signal never comes.
void startApplicationWatch(void* signal);

// What the watch saw, once the signal came.
ApplicationEnd watchedApplicationEnd();
