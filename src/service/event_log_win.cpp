#include "service/event_log_win.h"

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

#include "common/code_page_win.h"
#include "common/handles_win.h"
#include "config/messages_win.h"
#include "config/paths_win.h"
#include "launch/vm_options_win.h"
#include "service/event_log.h"
#include "service/service_state.h"

namespace {

std::wstring wide(std::string_view text) {
  std::u16string converted = toUtf16(text, CP_ACP);
  return std::wstring(converted.begin(), converted.end());
}

void report(WORD type, const std::string& message) {
  EventLogState& log = eventLogState();
  if (!log.enabled) return;
  if (!log.sourceTried) {
    log.sourceTried = true;
    log.source = RegisterEventSourceW(nullptr, wide(serviceState().name).c_str());
  }
  if (!log.source) return;
  std::wstring text = wide(eventText(message));
  LPCWSTR strings[] = {text.c_str()};
  ReportEventW(static_cast<HANDLE>(log.source), type, 0, kEventTextMessageId, nullptr, 1, 0,
               strings, nullptr);
}

}  // namespace

void reportErrorEvent(const std::string& message) { report(EVENTLOG_ERROR_TYPE, message); }

void enableEventLog() {
  eventLogState().enabled = true;
  registerMessageListener(reportErrorEvent);
}

void reportInformationEvent(const std::string& message) {
  report(EVENTLOG_INFORMATION_TYPE, message);
}

void reportWarningEvents(const std::vector<std::string>& messages) {
  if (messages.empty()) return;
  HANDLE source = RegisterEventSourceW(nullptr, wide(serviceState().name).c_str());
  if (source == nullptr) return;
  for (const std::string& message : messages) {
    std::wstring text = wide(eventText(message));
    LPCWSTR strings[] = {text.c_str()};
    ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, kEventTextMessageId, nullptr, 1, 0, strings, nullptr);
  }
  DeregisterEventSource(source);
}

unsigned long registerEventSource(const std::string& serviceName, const std::string& messageFile) {
  std::optional<std::string> path = eventSourceKeyPath(serviceName);
  if (!path) return ERROR_INVALID_NAME;
  HKEY raw = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(*path).c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<unsigned long>(status);
  UniqueRegKey key(raw);
  std::wstring file = wide(messageFile);
  status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(file.c_str()),
                          static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return static_cast<unsigned long>(status);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  status = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&types), sizeof types);
  return static_cast<unsigned long>(status);
}

unsigned long removeEventSource(const std::string& serviceName) {
  std::optional<std::string> path = eventSourceKeyPath(serviceName);
  if (!path) return ERROR_INVALID_NAME;
  LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, wide(*path).c_str());
  return status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<unsigned long>(status);
}

EventSourceOwner eventSourceOwner(const std::string& serviceName, std::u16string& registered) {
  registered.clear();
  std::optional<std::string> path = eventSourceKeyPath(serviceName);
  if (!path) return EventSourceOwner::none;
  HKEY raw = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(*path).c_str(), 0, KEY_QUERY_VALUE, &raw);
  if (status == ERROR_FILE_NOT_FOUND) return EventSourceOwner::none;
  if (status != ERROR_SUCCESS) return EventSourceOwner::other;
  UniqueRegKey key(raw);
  // A message file is a path (or a list of them): 64 KiB is far beyond any.
  std::vector<wchar_t> value(32768 + 1, L'\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
  status = RegQueryValueExW(key.get(), L"EventMessageFile", nullptr, &type,
                            reinterpret_cast<BYTE*>(value.data()), &bytes);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return EventSourceOwner::other;
  }
  // Not necessarily terminated: the value's own length counts, up to a NUL.
  std::size_t units = bytes / sizeof(wchar_t);
  for (std::size_t i = 0; i < units; ++i) {
    if (value[i] == L'\0') break;
    registered.push_back(static_cast<char16_t>(value[i]));
  }
  return namesThisExecutable(registered) ? EventSourceOwner::thisExecutable : EventSourceOwner::other;
}
