// Packed runtimes: a runtime home whose jars are shipped packed
// (lib\rt.jar.pack present, lib\jsse.jar absent) is restored in place by
// the runtime's own bin\unpack200.exe, once per jar, before it is tested.
#pragma once

#include <string>

// Restores the jars of a packed runtime; does nothing for any other home.
// Ends the process with internal error 20 when the unpacker cannot start.
void preparePackedJre(const std::string& home);

// Runs the unpacker for one jar (relative to home) and waits for it; a
// missing .pack file is logged and passed over.
void unpackJar(const std::string& home, const std::string& jar);
