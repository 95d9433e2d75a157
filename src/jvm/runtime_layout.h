// The shape of a Java runtime home as the launcher relies on it, and the
// texts derived from it: where the java executable, the JVM library and the
// packed jars are, the registry names of the version cache, and the command
// lines of the version probe and the unpacker.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The directory part of a java executable path, with its trailing
// backslash: the path without "javaw.exe" when it ends so (exact case),
// else without its last eight characters, taken to be java.exe. A path
// shorter than that gives the empty text.
std::string javaExeDirectory(std::string_view exe);

// The VM types tried beside an executable, in order: the preferred type
// when it is set, then hotspot, client, server and classic (a preferred
// type that is one of these comes again in its place).
std::vector<std::string> vmTypeOrder(std::string_view preferredType);

// directory + type + "\jvm.dll" (the directory ends with a backslash).
std::string jvmLibraryPath(std::string_view exeDirectoryPart, std::string_view vmType);

// The runtime environment inside a development kit: the directory part of
// exe followed by "..\jre\bin\java.exe" (c:\jdk\bin\java.exe gives
// c:\jdk\bin\..\jre\bin\java.exe).
std::string developmentKitJreExe(std::string_view exe);

// The windowed twin of an accepted executable: the last four characters
// replaced by "w.exe" (...\java.exe gives ...\javaw.exe).
std::string javawFromJavaExe(std::string_view exe);

// Registry key of the version cache entry of an executable (under
// HKEY_CURRENT_USER): "SOFTWARE\quarrow\kerno\jvms\" followed by the path
// with every backslash turned into a forward slash.
std::string versionCacheKeyName(std::string_view exe);

// Registry keys read by the search.
inline constexpr const char* kLocatedJvmsKey = "SOFTWARE\\quarrow\\kerno\\locatedjvms\\";
inline constexpr const char* kJavaSoftJreKey = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
inline constexpr const char* kJavaSoftJdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit";

// A subkey name of the located-JVM list as a path: forward slashes become
// backslashes.
std::string locatedJvmPath(std::string_view subkeyName);

// The version key that the CurrentVersion values select: the development
// kit's when its text sorts above the runtime environment's, else the
// runtime environment's (also on equal texts and when both are empty).
std::string currentVersionKeyName(std::string_view jdkVersion, std::string_view jreVersion);

// A path as it goes into a command line: in double quotes when it contains
// a blank (space or tab), so that CreateProcess cannot take a leading part of it for the
// program; exactly as given otherwise.
std::string commandLinePath(std::string_view path);

// The version probe: the executable (short form) and " -version".
std::string versionCommandLine(std::string_view exe);

// Packed runtimes: a home with lib\rt.jar.pack and without lib\jsse.jar.
std::string packedRuntimeMarker(std::string_view home);    // home\lib\rt.jar.pack
std::string preparedRuntimeMarker(std::string_view home);  // home\lib\jsse.jar

// The jars restored, relative to the home, in order; lib\jsse.jar comes
// last, so its presence means the preparation ran to its end.
const std::vector<std::string>& packedJars();

// The unpacker run for one jar: home\bin\unpack200.exe -r packed target.
std::string unpackCommandLine(std::string_view home, std::string_view packed,
                              std::string_view target);
