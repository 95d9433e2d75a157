// The console run (/console): what the service process runs, in the
// foreground of the console, for diagnosis. See docs/launcher.md.
#pragma once

// Starts the application as the service process does (startApplication) and
// waits until it ends by itself or a console event stops it (stopApplication).
// Returns 1 when the application could not be started; otherwise the process
// ends inside, with the application's exit code.
int runConsole();
