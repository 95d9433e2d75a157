// The command word /threaddump: asks the installed service for a thread dump
// through its user-defined control code (key 30021) and says where the dump
// went. See docs/launcher.md.
#pragma once

// Exit codes: 0 the dump was written (its path printed); 1 thread dumps
// are off, the service is not running, refused the control (starting or
// stopping), a dump was written less than kThreadDumpIntervalMs ago, or no
// new dump appeared in time.
int cmdThreadDump();
