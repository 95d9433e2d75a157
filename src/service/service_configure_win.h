// /configure: applies the configuration block's production settings and
// event source to the already installed service of the process-wide service
// name (a service registered by a Windows Installer package, or one whose
// executable was replaced by a new build). See docs/service-commands.md.
#pragma once

// Prints the damaged-setting and refused-setting lines /install prints, then
// "Configured service '<name>'."; 0 success, 1 when the service manager or
// the service cannot be opened.
int cmdConfigure();
