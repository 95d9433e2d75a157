#include "config/stop_method_setting.h"

#include "config/service_settings.h"
#include "config/value_list.h"

namespace {

constexpr char kLineSeparator = '\n';

bool controlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// A Java name part in ASCII letters, digits, '_' and '$' (the block's text
// is in the ANSI code page, the VM's names in modified UTF-8).
bool checkNamePart(std::string_view part, const char* what, std::string& why) {
  if (part.empty()) {
    why = std::string(what) + " has an empty part";
    return false;
  }
  if (part.front() >= '0' && part.front() <= '9') {
    why = std::string(what) + " part \"" + std::string(part) + "\" begins with a digit";
    return false;
  }
  for (char c : part) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_' && c != '$') {
      why = std::string(what) + " \"" + std::string(part) +
            "\" holds a character other than ASCII letters, digits, '_' and '$'";
      return false;
    }
  }
  return true;
}

bool checkLength(std::string_view name, const char* what, std::string& why) {
  if (name.size() <= kMaxStopMethodName) return true;
  why = std::string(what) + " is longer than " + std::to_string(kMaxStopMethodName) + " bytes";
  return false;
}

}  // namespace

bool checkStopMethodClass(std::string_view name, std::string& why) {
  if (!checkLength(name, "the class name", why)) return false;
  if (name.empty()) {
    why = "the class name is empty";
    return false;
  }
  for (std::string_view part : splitList(name, '.', EmptyItems::keep)) {
    if (!checkNamePart(part, "the class name", why)) return false;
  }
  return true;
}

bool checkStopMethodName(std::string_view name, std::string& why) {
  if (!checkLength(name, "the method name", why)) return false;
  return checkNamePart(name, "the method name", why);
}

bool checkStopMethodArgument(std::string_view argument, std::string& why) {
  if (argument.size() > kMaxStopMethodArgument) {
    why = "an argument is longer than " + std::to_string(kMaxStopMethodArgument) + " bytes";
    return false;
  }
  for (char c : argument) {
    if (controlCharacter(c)) {
      why = "an argument holds a control character (a line break or the like)";
      return false;
    }
  }
  return true;
}

bool parseStopMethod(std::string_view text, StopMethodSetting& out, std::string& why) {
  std::vector<std::string_view> lines = splitList(text, kLineSeparator, EmptyItems::keep);
  if (lines.size() < 3) {
    why = "it is not a time-out, a class and a method on lines of their own";
    return false;
  }
  if (lines.size() - 3 > kMaxStopMethodArguments) {
    why = "more than " + std::to_string(kMaxStopMethodArguments) + " arguments";
    return false;
  }
  uint64_t seconds = 0;
  std::string detail;
  if (!parseBoundedNumber(lines[0], 1, kMaxStopMethodTimeoutSeconds, seconds, detail)) {
    why = "timeoutSeconds: " + detail;
    return false;
  }
  if (!checkStopMethodClass(lines[1], why) || !checkStopMethodName(lines[2], why)) return false;
  StopMethodSetting s;
  s.timeoutSeconds = uint32_t(seconds);
  s.className = std::string(lines[1]);
  s.method = std::string(lines[2]);
  for (size_t i = 3; i < lines.size(); ++i) {
    if (!checkStopMethodArgument(lines[i], why)) return false;
    s.arguments.emplace_back(lines[i]);
  }
  out = std::move(s);
  return true;
}

std::string stopMethodText(const StopMethodSetting& s) {
  std::string text = std::to_string(s.timeoutSeconds) + kLineSeparator + s.className + kLineSeparator + s.method;
  for (const std::string& argument : s.arguments) text += kLineSeparator + argument;
  return text;
}

std::string stopMethodClassPath(const StopMethodSetting& s) {
  std::string path = s.className;
  for (char& c : path) c = c == '.' ? '/' : c;
  return path;
}

const char* stopMethodSignature(const StopMethodSetting& s) {
  return s.arguments.empty() ? "()V" : "([Ljava/lang/String;)V";
}
