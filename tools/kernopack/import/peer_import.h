// The three importers: each reads one peer's description of a Java service
// into description fields and notes (import_result.h).
#pragma once

#include <string>
#include <string_view>

#include "import/import_result.h"
#include "import/java_command.h"
#include "import/reg_export.h"

// A WinSW configuration (v2 or v3 elements), UTF-8 or UTF-16 XML.
ImportResult importWinsw(std::string_view xml, const JarReader& readJar);

// NSSM: the registry settings of one service (its service key and the
// Parameters key below it, as `reg export` of the service key writes them),
// or the `nssm install`/`nssm set` lines that `nssm dump` prints.
ImportResult importNssmRegistry(const RegExport& reg, const JarReader& readJar);
ImportResult importNssmScript(std::string_view text, const JarReader& readJar);

// procrun: its registry settings (the Parameters key and its Java, Start,
// Stop and Log subkeys, with or without the service key), or the //IS// or
// //US// command line of a service script.
ImportResult importProcrunRegistry(const RegExport& reg);
ImportResult importProcrunScript(std::string_view text);

// WinSW durations: "10 sec", "15000 ms", "1 hour", "2 days", "00:00:15";
// a bare number is milliseconds. False for anything else.
bool parseWinswDuration(std::string_view text, uint64_t& milliseconds);
