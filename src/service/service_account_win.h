// A user account for the service: its password, asked for at /install and
// /configure and handed to the service manager, never stored, logged or
// echoed; and the account's right to log on as a service.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The longest password taken, in characters (the system's own limit).
inline constexpr std::size_t kMaxPasswordLength = 256;

// A password in memory, wiped when it goes; it cannot be copied.
class Password {
 public:
  Password() = default;
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;
  ~Password();
  const wchar_t* c_str() const { return text_.c_str(); }
  std::wstring& text() { return text_; }

 private:
  std::wstring text_;
};

enum class PasswordInput { given, none, refused };

// The password of `account`: on a console, asked for with a prompt and read
// without echo; otherwise one line of standard input (its line break and a
// carriage return before it removed), in the console's input code page, the
// ANSI one without a console. `none`: standard input is absent or ends
// before a line. `refused`: too long or no text; `why` says so.
PasswordInput readPassword(const std::string& account, Password& out, std::string& why);

// Grants `account` the right "Log on as a service" unless it has it, as the
// Services console does when it is given an account. ERROR_SUCCESS or the
// system's error code; `granted` says whether the right was added now.
DWORD grantServiceLogonRight(const std::string& account, bool& granted);
