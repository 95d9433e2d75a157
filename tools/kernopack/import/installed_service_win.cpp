// Reads an installed service's registration, NSSM's Parameters key or
// procrun's key, and the WinSW configuration beside its program, into the
// same form a `reg export` gives (import_source.h decides which tool it is).
#include <windows.h>

#include "common/code_page_win.h"
#include "common/system_error_win.h"
#include "import/installed_service.h"
#include "io/packer_io.h"

namespace {

constexpr DWORD kMaxValueBytes = 1u << 20;
constexpr DWORD kMaxNameChars = 16384;
constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kProcrunKey = "SOFTWARE\\Apache Software Foundation\\Procrun 2.0\\";

std::wstring wide(const std::string& utf8) { return widenText(utf8, CP_UTF8); }
std::string utf8(std::wstring_view w) {
  return fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()), CP_UTF8);
}

// The texts of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data.
std::vector<std::string> texts(const std::vector<BYTE>& data) {
  std::wstring_view all(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  std::vector<std::string> out;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find(L'\0', at);
    if (end == std::wstring_view::npos) end = all.size();
    out.push_back(utf8(all.substr(at, end - at)));
    at = end + 1;
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

RegValue valueOf(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
  RegValue v;
  v.name = utf8(name);
  v.bytes.assign(data.begin(), data.end());
  std::vector<std::string> t = texts(data);
  switch (type) {
    case REG_SZ: v.type = RegType::string; v.text = t.empty() ? "" : t.front(); break;
    case REG_EXPAND_SZ: v.type = RegType::expandString; v.text = t.empty() ? "" : t.front(); break;
    case REG_MULTI_SZ: v.type = RegType::multiString; v.items = t; break;
    case REG_DWORD:
    case REG_QWORD:
      v.type = type == REG_DWORD ? RegType::dword : RegType::qword;
      for (size_t i = data.size(); i-- > 0;) v.number = (v.number << 8) | data[i];
      break;
    default: v.type = RegType::binary;
  }
  return v;
}

// Adds the key at `path` below HKLM (in `view`) with its values; false when it does not exist.
bool addKey(const std::string& path, REGSAM view, RegExport& reg) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path).c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegKey k{"HKEY_LOCAL_MACHINE\\" + path, {}};
  std::vector<wchar_t> name(kMaxNameChars);
  std::vector<BYTE> data(kMaxValueBytes);
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = kMaxNameChars, type = 0, size = kMaxValueBytes;
    LONG rc = RegEnumValueW(key, i, name.data(), &nameChars, nullptr, &type, data.data(), &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;  // a value over 1 MiB is left out
    k.values.push_back(valueOf(std::wstring(name.data(), nameChars), type,
                               std::vector<BYTE>(data.begin(), data.begin() + size)));
  }
  RegCloseKey(key);
  reg.keys.push_back(std::move(k));
  return true;
}

// The WinSW configuration beside the service's program (app.exe -> app.xml).
void readWinswConfiguration(InstalledService& s) {
  std::string program = imageProgram(s.imagePath);
  size_t dot = program.find_last_of('.');
  if (dot == std::string::npos || program.find_first_of("\\/", dot) != std::string::npos) return;
  s.winswXmlPath = program.substr(0, dot) + ".xml";
  InputFile f;
  std::string error;
  if (openInputFile(s.winswXmlPath, f, error) != ReadStatus::ok || f.size > (16u << 20)) return;
  std::string xml(size_t(f.size), '\0');
  size_t done = 0, got = 0;
  while (done < xml.size() && readInputFile(f, reinterpret_cast<uint8_t*>(xml.data()) + done, xml.size() - done, got, error) && got != 0) {
    done += got;
  }
  if (done == xml.size()) s.winswXml = xml;
}

}  // namespace

InstalledService readInstalledService(const std::string& name) {
  InstalledService s;
  s.name = name;
  std::string service = kServicesKey + name;
  if (!addKey(service, 0, s.registry)) {
    s.error = "no service named " + name + " is installed here (" + systemErrorText(ERROR_FILE_NOT_FOUND) + ")";
    return s;
  }
  if (const RegValue* image = s.registry.keys.front().find("ImagePath")) s.imagePath = image->text;
  if (addKey(service + "\\Parameters", 0, s.registry)) addKey(service + "\\Parameters\\AppExit", 0, s.registry);
  for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
    std::string procrun = kProcrunKey + name + "\\Parameters";
    if (!addKey(procrun, view, s.registry)) continue;
    for (const char* sub : {"\\Java", "\\Start", "\\Stop", "\\Log"}) addKey(procrun + sub, view, s.registry);
    break;
  }
  readWinswConfiguration(s);
  s.ok = true;
  return s;
}
