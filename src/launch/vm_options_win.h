// The values behind the VM options and the launcher class's parameters, as
// the system and the configuration give them; the rules are in
// launch/vm_options.h. Problems found here end the process with their
// message (fatal path).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// The system properties, in their fixed order.
std::vector<std::string> buildSystemProperties();

// The lines of the first VM options file that opens beside the executable
// (<name>.vmoptions, then <name>.exe.vmoptions), in pieces of at most
// kVmOptionsFilePiece bytes; none without a file.
std::vector<std::string> readVmOptionsFile();

// The whole option list. Ends the process on a required class-path item that
// is missing (1006, 1008), a class path that is too long, or an unmatched
// quote in key 123 (1007).
std::vector<std::string> buildVmOptions(const std::vector<std::string>& properties,
                                        const std::vector<std::u16string>& launchArguments);

// The parameters of WinLauncher.main. Ends the process on an unmatched quote
// in key 124 (1007).
std::vector<std::u16string> buildMainParameterList(
    const std::vector<std::u16string>& launchArguments);

// Whether .brindle\firstrun exists in the installation directory (key 10003).
bool firstRunMarkerExists();

// A parameter as the log shows it: in the file-API code page, '?' for what it
// cannot show.
std::string textForLog(const std::u16string& text);
