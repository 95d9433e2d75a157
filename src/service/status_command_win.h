// `/status`: what the installed service of the process-wide service name is
// doing and where it writes, gathered from the service control manager, the
// machine environment and the installed executable. See
// docs/service-commands.md.
#pragma once

// Prints the report (service/status_command.h) and returns its exit code:
// kStatusRunning, kStatusStopped, kStatusPending, kStatusNotInstalled, or
// kStatusQueryFailed after a failure line and the system's error line.
int cmdStatus();
