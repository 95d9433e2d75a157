// Key 30029 `stopMethod`: a static Java method the launcher calls at a stop,
// before System.exit(0). How its value is stored in the configuration block
// and the checks that the packer and the launcher share.
//
// Stored text: lines joined by a line feed: the time-out in seconds, the
// class (dotted), the method, then one line per argument (none: no line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint32_t kMaxStopMethodTimeoutSeconds = 3600;
inline constexpr uint32_t kDefaultStopMethodTimeoutSeconds = 30;
inline constexpr size_t kMaxStopMethodName = 1000;  // class or method, in bytes
inline constexpr size_t kMaxStopMethodArguments = 100;
inline constexpr size_t kMaxStopMethodArgument = 8191;  // bytes

struct StopMethodSetting {
  std::string className;  // dotted: org.example.Server, org.example.Outer$Inner
  std::string method;
  std::vector<std::string> arguments;
  uint32_t timeoutSeconds = kDefaultStopMethodTimeoutSeconds;
};

// The checks of the parts, each false with `why` (words that name no key).
bool checkStopMethodClass(std::string_view name, std::string& why);
bool checkStopMethodName(std::string_view name, std::string& why);
bool checkStopMethodArgument(std::string_view argument, std::string& why);

bool parseStopMethod(std::string_view text, StopMethodSetting& out, std::string& why);
std::string stopMethodText(const StopMethodSetting& setting);

// The JNI forms: the class with slashes, and the signature: ([Ljava/lang/
// String;)V with arguments, ()V without.
std::string stopMethodClassPath(const StopMethodSetting& setting);
const char* stopMethodSignature(const StopMethodSetting& setting);
