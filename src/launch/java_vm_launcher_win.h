// The VM launch of the service process, over the process-wide state: called
// by the service main routine on its own thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Creates the VM with the configured options and calls the Java-side
// launcher class with the launch arguments (the service name first, then the
// start parameters). False: the application could not be started (the log
// says why); the service is then reported stopped with exit code 1.
[[nodiscard]] bool launchProgram(const std::vector<std::u16string>& launchArguments);

// With key 30029 (`stopMethod`) and a VM: calls the configured static
// method and waits for it at most its time-out (launch/stop_method.h). The
// line for the event log when it threw, timed out, could not be called or
// the key is damaged (the log has it already); nothing when it returned.
std::optional<std::string> callConfiguredStopMethod();

// Asks the VM to end the process through System.exit(status); must run on
// the thread that called launchProgram. Returns only when the Java side
// refused (the VM is destroyed then) or no VM was created.
void requestVmExit(int status = 0);

// The status the VM ended the process with (System.exit, Runtime.halt), as
// its exit hook was given it; none when the process ends another way.
std::optional<int> vmExitStatus();
