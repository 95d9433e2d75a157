// The command words' operations on the launcher's own service, named by the
// process-wide service name (key 101 or the name after the command word).
// Each prints its short result lines on standard output and returns the
// process exit code: 0 success, 1 failure. See docs/service-commands.md.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "config/service_settings.h"
#include "service/service_account_win.h"

// Installs the service for `startType` (SERVICE_AUTO_START or
// SERVICE_DEMAND_START), replacing a service of the same name: that one is
// stopped and removed first. A user account's password is asked for first;
// without one nothing changes.
int cmdInstall(DWORD startType);

// Stops the service if it runs, then removes it. Quiet (verbose false) leaves
// out the failure lines and "Uninstalled service ..."; the stop lines stay.
int cmdUninstall(bool verbose);

// Asks the service to stop and waits for it. 1 when the stop control fails
// or the service does not reach the stopped state in time. Quiet leaves out
// only the failure lines.
int cmdStop(bool verbose);

// Asks the service control manager to start the service; does not wait.
int cmdStart();

// Stops the service as cmdStop does (a service that does not run is only
// started), then starts it and waits while it reports start pending: 0 once
// it runs; 1 when a step fails, the stop does not finish, or the service
// does not reach the running state.
int cmdRestart();

// The service's configuration as QueryServiceConfigA gives it, held in
// `buffer`; nullptr when it cannot be read.
const QUERY_SERVICE_CONFIGA* readServiceConfig(SC_HANDLE service, std::vector<unsigned char>& buffer);

// True iff the service's image path names this executable; `image` is that
// path as it may be printed (empty when it cannot be read).
bool serviceStartsThisExecutable(SC_HANDLE service, std::string& image);

// "Service '<name>' exists and starts <image>, not this executable; it was
// left as it is.", for a service of that name that is another program's.
std::string otherProgramsServiceLine(const std::string& image);

// Registers the event source of the process-wide service name with
// `messageFile`, unless the source is another program's: then, as when the
// registration fails, prints "Could not register the event source ..." (and
// whose it is) and returns false.
bool registerOwnEventSource(const std::string& messageFile);

// The warnings /install prints after it installed: one line (ending in a
// line feed) for each place beside the executable, or directory above it,
// that users other than administrators, SYSTEM and the caller may change.
std::vector<std::string> unsafeInstallWarnings();

// Waits while the service reports stop pending, for as long as the wait hint
// it reports, counted from its last checkpoint change. True iff the service
// then reports stopped; false also when its status cannot be queried.
[[nodiscard]] bool waitForServiceStopped(SC_HANDLE service);

// Hands the installed service the plan's failure actions (with the
// failure-actions flag), delayed automatic start and pre-shutdown time-out
// through ChangeServiceConfig2W. Returns one line for each setting the
// system refused, naming it and the error; the service stays installed.
std::vector<std::string> applyInstallSettings(SC_HANDLE service, const InstallPlan& plan);

// For a plan with a user account: reads its password (given at once when the
// plan needs none). A refused one is said in a line "Could not <command>
// service: ..."; for none the caller says what it does.
PasswordInput askAccountPassword(const InstallPlan& plan, const char* command, Password& password);

// "Could not <command> service: account '...' needs its password; ...".
void sayNoPassword(const InstallPlan& plan, const char* command);

// For a plan with a user account: grants it the right to log on as a
// service unless it has it, with a line saying so; false (the lines said)
// when the system refuses.
bool ensureServiceLogonRight(const InstallPlan& plan);
