#include "service/service_account_win.h"

#include <ntsecapi.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "common/code_page_win.h"

namespace {

// The bytes one line of standard input may take before it is refused: a
// password of kMaxPasswordLength characters in any code page fits.
constexpr std::size_t kMaxPasswordLineBytes = 4 * kMaxPasswordLength;

void wipe(void* data, std::size_t bytes) {
  if (bytes > 0) SecureZeroMemory(data, bytes);
}

// Drops a line break and a carriage return before it.
template <typename Text>
void dropLineEnd(Text& text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
}

PasswordInput readConsolePassword(HANDLE input, DWORD mode, const std::string& account, Password& out,
                                  std::string& why) {
  std::printf("Password for account '%s': ", account.c_str());
  std::fflush(stdout);
  SetConsoleMode(input, (mode & ~DWORD(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
  std::vector<wchar_t> buffer(kMaxPasswordLength + 3);
  DWORD read = 0;
  BOOL ok = ReadConsoleW(input, buffer.data(), DWORD(buffer.size()), &read, nullptr);
  SetConsoleMode(input, mode);
  std::printf("\n");
  std::fflush(stdout);
  out.text().assign(buffer.data(), ok ? read : 0);
  wipe(buffer.data(), buffer.size() * sizeof(wchar_t));
  bool complete = !out.text().empty() && out.text().back() == L'\n';
  dropLineEnd(out.text());
  if (!ok || read == 0) return PasswordInput::none;
  if (!complete) {
    // The rest of the line stays in the console's buffer: read and dropped.
    wchar_t rest[64];
    while (ReadConsoleW(input, rest, 64, &read, nullptr) && read > 0 && rest[read - 1] != L'\n') {
    }
    wipe(rest, sizeof rest);
    why = "the password is longer than " + std::to_string(kMaxPasswordLength) + " characters";
    return PasswordInput::refused;
  }
  return PasswordInput::given;
}

PasswordInput readPasswordLine(HANDLE input, Password& out, std::string& why) {
  std::string line;
  bool ended = false;
  char byte = 0;
  DWORD read = 0;
  // One byte at a time: nothing after the line is taken from the input.
  while (line.size() <= kMaxPasswordLineBytes && ReadFile(input, &byte, 1, &read, nullptr) && read == 1) {
    if (byte == '\n') {
      ended = true;
      break;
    }
    line.push_back(byte);
  }
  byte = 0;
  PasswordInput result = PasswordInput::given;
  if (!ended && line.empty()) {
    result = PasswordInput::none;
  } else if (line.size() > kMaxPasswordLineBytes) {
    why = "the line on standard input is longer than " + std::to_string(kMaxPasswordLineBytes) + " bytes";
    result = PasswordInput::refused;
  } else {
    dropLineEnd(line);
    UINT codePage = GetConsoleCP();
    if (!widenTextExact(line, codePage != 0 ? codePage : CP_ACP, out.text())) {
      why = "the line on standard input is no text in the console's code page";
      result = PasswordInput::refused;
    } else if (out.text().size() > kMaxPasswordLength) {
      why = "the password is longer than " + std::to_string(kMaxPasswordLength) + " characters";
      result = PasswordInput::refused;
    }
  }
  wipe(line.data(), line.size());
  if (result != PasswordInput::given) wipe(out.text().data(), out.text().size() * sizeof(wchar_t));
  return result;
}

// The account's security identifier; ".\user" names a user of this computer.
DWORD accountSid(const std::string& account, std::vector<BYTE>& sid) {
  std::wstring name = widenText(account, CP_ACP);
  if (name.size() > 2 && name[0] == L'.' && name[1] == L'\\') {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &size)) return GetLastError();
    name = std::wstring(computer, size) + name.substr(1);
  }
  DWORD sidSize = 0, domainSize = 0;
  SID_NAME_USE use;
  LookupAccountNameW(nullptr, name.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0 || domainSize == 0) return GetLastError();
  sid.assign(sidSize, 0);
  std::vector<wchar_t> domain(domainSize);
  if (!LookupAccountNameW(nullptr, name.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use))
    return GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

Password::~Password() { wipe(text_.data(), text_.size() * sizeof(wchar_t)); }

PasswordInput readPassword(const std::string& account, Password& out, std::string& why) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return PasswordInput::none;
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) return readConsolePassword(input, mode, account, out, why);
  return readPasswordLine(input, out, why);
}

DWORD grantServiceLogonRight(const std::string& account, bool& granted) {
  granted = false;
  std::vector<BYTE> sid;
  if (DWORD error = accountSid(account, sid)) return error;
  LSA_OBJECT_ATTRIBUTES attributes{};
  LSA_HANDLE policy = nullptr;
  NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, &policy);
  if (status != 0) return LsaNtStatusToWinError(status);
  static const wchar_t kRight[] = L"SeServiceLogonRight";
  const std::size_t kRightLength = std::wcslen(kRight);
  LSA_UNICODE_STRING* rights = nullptr;
  ULONG count = 0;
  bool has = false;
  // An account without any right is not found: it lacks this one too.
  if (LsaEnumerateAccountRights(policy, sid.data(), &rights, &count) == 0 && rights != nullptr) {
    for (ULONG i = 0; i < count && !has; ++i) {
      has = rights[i].Length == kRightLength * sizeof(wchar_t) &&
            std::wmemcmp(rights[i].Buffer, kRight, kRightLength) == 0;
    }
    LsaFreeMemory(rights);
  }
  status = 0;
  if (!has) {
    std::wstring right(kRight);
    LSA_UNICODE_STRING add{USHORT(kRightLength * sizeof(wchar_t)), USHORT(kRightLength * sizeof(wchar_t)),
                           right.data()};
    status = LsaAddAccountRights(policy, sid.data(), &add, 1);
    granted = status == 0;
  }
  LsaClose(policy);
  return status == 0 ? ERROR_SUCCESS : LsaNtStatusToWinError(status);
}
