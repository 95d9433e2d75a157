#include "msi/msi_source.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "io/path_name.h"

namespace {

using Json = nlohmann::ordered_json;

bool parseDecimal(std::string_view text, unsigned max, unsigned& out) {
  if (text.empty() || text.size() > 5 || (text[0] == '0' && text.size() > 1)) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + unsigned(c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string field(std::string_view member) {
  return "field \"" + std::string(kPackageField) + "\".\"" + std::string(member) + "\"";
}

// Text of the installer's formatted columns: '[', ']', '{' and '}' would be
// read as property references, so each is given as an escape.
std::string formattedText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == '{' || c == '}') {
      out += "[\\";
      out += c;
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

bool hasControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

const char* deviceNames[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
                             "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",
                             "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};

bool isDeviceName(std::string_view piece) {
  std::string_view stem = piece.substr(0, piece.find('.'));
  for (const char* d : deviceNames) {
    size_t n = std::strlen(d);
    if (stem.size() != n) continue;
    bool same = true;
    for (size_t i = 0; i < n; ++i) {
      char c = stem[i];
      if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
      if (c != d[i]) same = false;
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

bool parseProductVersion(std::string_view text, ProductVersion& out, std::string& error) {
  unsigned parts[3] = {0, 0, 0};
  const unsigned limits[3] = {255, 255, 65535};
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t dot = i < 2 ? text.find('.', start) : text.size();
    if (dot == std::string_view::npos || (i == 2 && text.find('.', start) != std::string_view::npos) ||
        !parseDecimal(text.substr(start, dot - start), limits[i], parts[i])) {
      error = "\"" + std::string(text.substr(0, 64)) +
            "\" is not a product version major.minor.build (decimal, major and minor 0 to 255, "
            "build 0 to 65535)";
      return false;
    }
    start = dot + 1;
  }
  out = {parts[0], parts[1], parts[2]};
  return true;
}

std::string productVersionText(const ProductVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
}

bool parseGuid(std::string_view text, std::string& canonical, std::string& error) {
  std::string_view body = text;
  if (body.size() == 38 && body.front() == '{' && body.back() == '}') body = body.substr(1, 36);
  bool ok = body.size() == 36;
  std::string out;
  for (size_t i = 0; ok && i < body.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? body[i] != '-' : hexValue(body[i]) < 0) ok = false;
    char c = body[i];
    out += c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c;
  }
  if (!ok) {
    error = "\"" + std::string(text.substr(0, 64)) +
          "\" is not a GUID (32 hexadecimal digits as XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX, braces allowed)";
    return false;
  }
  canonical = out;
  return true;
}

Sha1::Sha1() : h_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0}, buffer_{} {}

void Sha1::block(const uint8_t* p) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
  for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d), k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d, k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d, k = 0xCA62C1D6;
    }
    uint32_t t = rotl(a, 5) + f + e + k + w[i];
    e = d, d = c, c = rotl(b, 30), b = a, a = t;
  }
  h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e;
}

void Sha1::update(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytes_ += size;
  while (size > 0) {
    size_t take = 64 - used_ < size ? 64 - used_ : size;
    std::memcpy(buffer_ + used_, p, take);
    used_ += take, p += take, size -= take;
    if (used_ == 64) {
      block(buffer_);
      used_ = 0;
    }
  }
}

std::array<uint8_t, 20> Sha1::finish() {
  uint64_t bits = bytes_ * 8;
  uint8_t pad = 0x80;
  update(&pad, 1);
  uint8_t zero = 0;
  while (used_ != 56) update(&zero, 1);
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = uint8_t(bits >> (56 - 8 * i));
  update(length, 8);
  std::array<uint8_t, 20> out{};
  for (int i = 0; i < 20; ++i) out[size_t(i)] = uint8_t(h_[i / 4] >> (24 - 8 * (i % 4)));
  return out;
}

std::string nameBasedUuid(const std::string& nameSpace, std::string_view name) {
  uint8_t ns[16] = {};
  size_t n = 0;
  for (size_t i = 0; i + 1 < nameSpace.size() && n < 16; ++i) {
    if (nameSpace[i] == '-') continue;
    ns[n++] = uint8_t(hexValue(nameSpace[i]) << 4 | hexValue(nameSpace[i + 1]));
    ++i;
  }
  Sha1 sha;
  sha.update(ns, sizeof ns);
  sha.update(name);
  std::array<uint8_t, 20> digest = sha.finish();
  digest[6] = uint8_t((digest[6] & 0x0F) | 0x50);
  digest[8] = uint8_t((digest[8] & 0x3F) | 0x80);
  std::string out;
  char hex[3];
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    std::snprintf(hex, sizeof hex, "%02X", digest[size_t(i)]);
    out += hex;
  }
  return out;
}

std::string productCode(const std::string& upgradeCode, const ProductVersion& v, LauncherArch arch) {
  return nameBasedUuid(upgradeCode, "product " + productVersionText(v) + " " + launcherArchName(arch));
}

bool isConfinedRelativePath(std::string_view path, std::string& error) {
  if (path.empty()) {
    error = "an empty path";
    return false;
  }
  if (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':')) {
    error = "an absolute path; give it relative to the description's directory";
    return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view piece = path.substr(start, end - start);
    if (piece.empty() || piece == "." || piece == "..") {
      error = "a path with an empty, \".\" or \"..\" piece; it must stay below the description's directory";
      return false;
    }
    for (unsigned char c : piece) {
      if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
        error = "a path with a character a Windows file name cannot hold";
        return false;
      }
    }
    if (piece.back() == '.' || piece.back() == ' ' || isDeviceName(piece)) {
      error = "a path with a piece Windows cannot use as a file name (a device name, or a trailing dot or space)";
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool parsePackageSection(std::string_view json, PackageSection& out, std::string& error) {
  Json root = Json::parse(json.begin(), json.end(), nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    error = "not a JSON object";
    return false;
  }
  auto found = root.find(std::string(kPackageField));
  if (found == root.end()) return true;
  const Json& section = *found;
  if (!section.is_object()) {
    error = "field \"" + std::string(kPackageField) + "\": expected an object";
    return false;
  }
  PackageSection p;
  struct Text {
    const char* name;
    std::string* target;
  } texts[] = {{"manufacturer", &p.manufacturer},     {"productName", &p.productName},
               {"installFolder", &p.installFolder},   {"upgradeCode", &p.upgradeCode},
               {"productVersion", &p.productVersion}};
  for (auto item = section.begin(); item != section.end(); ++item) {
    const std::string& key = item.key();
    bool known = false;
    for (const Text& t : texts) {
      if (key != t.name) continue;
      known = true;
      if (!item->is_string() || item->get_ref<const std::string&>().empty()) {
        error = field(key) + ": expected a non-empty string";
        return false;
      }
      *t.target = item->get<std::string>();
      if (t.target->size() > kMaxPackageText || hasControl(*t.target)) {
        error = field(key) + ": longer than " + std::to_string(kMaxPackageText) +
                " bytes or holding a control character";
        return false;
      }
    }
    if (key == "files") {
      known = true;
      if (!item->is_array() || item->size() > kMaxPackageEntries) {
        error = field(key) + ": expected an array of at most " + std::to_string(kMaxPackageEntries) + " paths";
        return false;
      }
      for (size_t i = 0; i < item->size(); ++i) {
        const Json& f = (*item)[i];
        std::string where = field(key) + "[" + std::to_string(i) + "]";
        std::string why;
        if (!f.is_string()) {
          error = where + ": expected a string";
          return false;
        }
        if (!isConfinedRelativePath(f.get_ref<const std::string&>(), why)) {
          error = where + ": " + why;
          return false;
        }
        p.files.push_back(f.get<std::string>());
      }
    }
    if (!known) {
      error = field(key) + ": unknown member; the members are \"manufacturer\", \"productName\", "
              "\"installFolder\", \"files\", \"upgradeCode\", \"productVersion\"";
      return false;
    }
  }
  std::string why;
  if (!p.installFolder.empty() &&
      (p.installFolder.find_first_of("/\\") != std::string::npos || !isConfinedRelativePath(p.installFolder, why))) {
    error = field("installFolder") + ": not a folder name" + (why.empty() ? "" : ": " + why);
    return false;
  }
  out = std::move(p);
  return true;
}

std::string xmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

struct SourceWriter {
  std::string out;
  int depth = 0;
  void line(const std::string& text) {
    out.append(size_t(depth) * 2, ' ');
    out += text;
    out += '\n';
  }
  void open(const std::string& text) {
    line(text);
    ++depth;
  }
  void close(const std::string& text) {
    --depth;
    line(text);
  }
};

std::string attr(const char* name, std::string_view value) {
  return std::string(" ") + name + "=\"" + xmlEscape(value) + "\"";
}

// A directory of the staged tree and what it holds.
struct DirNode {
  std::string name;
  std::vector<DirNode> dirs;
  std::vector<size_t> files;  // indices into plan.files
};

DirNode& childDir(DirNode& parent, const std::string& name) {
  for (DirNode& d : parent.dirs) {
    if (d.name == name) return d;
  }
  parent.dirs.push_back(DirNode{name, {}, {}});
  return parent.dirs.back();
}

// The settings a package remembers under
// HKLM\Software\<manufacturer>\<productName>, and where their custom
// actions sit in the sequences (a default, when there is one, one later).
struct Remembered {
  std::string_view property;
  const char* valueName;
  int sequence;
  bool hasDefault;  // a DEFAULT_<property> property
};
constexpr Remembered kRemembered[] = {{kInstallDirProperty, "InstallDir", 990, false},
                                      {kAccountProperty, "ServiceAccount", 991, true}};

// What a package cannot carry: texts with control characters, a service
// name with a path separator.
bool checkPlanTexts(const PackagePlan& plan, std::string& error) {
  struct Checked {
    const char* what;
    const std::string& text;
  } checked[] = {{"the product name", plan.productName},
                 {"the manufacturer", plan.manufacturer},
                 {"the install folder", plan.installFolder},
                 {"the service name", plan.serviceName},
                 {"the service description", plan.serviceDescription},
                 {"the service account", plan.account},
                 {"the display name", plan.displayName},
                 {"the executable's name", plan.executableName}};
  for (const Checked& c : checked) {
    if (hasControl(c.text)) {
      error = std::string(c.what) + " holds a control character, which a package cannot carry";
      return false;
    }
  }
  // They name the registry key that remembers the folder and the account,
  // a formatted text: a bracket or brace would be read as a reference (and
  // Wine's installer reads the key's escapes as references again), a
  // backslash would name another key.
  for (const Checked& c : {checked[0], checked[1]}) {
    if (c.text.find_first_of("[]{}\\") != std::string::npos) {
      error = std::string(c.what) + " \"" + c.text + "\" holds '[', ']', '{', '}' or a backslash; it names the "
              "registry key of the package's remembered settings; set \"package\".\"" +
              (c.text == plan.productName ? "productName" : "manufacturer") + "\" without them";
      return false;
    }
  }
  if (plan.serviceName.empty() || plan.serviceName.find_first_of("/\\") != std::string::npos) {
    error = "the service name is empty or holds a slash or backslash; a package cannot register it";
    return false;
  }
  for (const std::string& d : plan.dependencies) {
    if (hasControl(d)) {
      error = "a service dependency holds a control character, which a package cannot carry";
      return false;
    }
  }
  return true;
}

// The staged files as a tree of folders, with the logs folder at the top.
DirNode fileTree(const PackagePlan& plan) {
  DirNode root;
  for (size_t i = 0; i < plan.files.size(); ++i) {
    const std::string& path = plan.files[i].path;
    DirNode* dir = &root;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
      dir = &childDir(*dir, path.substr(start, slash - start));
    dir->files.push_back(i);
  }
  childDir(root, "logs");
  return root;
}

// Writes the WiX source of one plan, part by part.
struct WixWriter {
  const PackagePlan& plan;
  SourceWriter w;
  bool x64 = plan.arch == LauncherArch::x64;
  const char* win64 = x64 ? "yes" : "no";
  std::string arch = launcherArchName(plan.arch);
  std::string version = productVersionText(plan.version);
  std::string sourceDir = plan.sourceDirectory.empty() ? std::string() : plan.sourceDirectory + "/";
  // The key below HKLM where the install folder is remembered.
  std::string rememberKey = "Software\\" + plan.manufacturer + "\\" + plan.productName;
  std::vector<std::string> componentIds;
  int dirCount = 0;

  explicit WixWriter(const PackagePlan& p) : plan(p) {}

  std::string componentGuid(const std::string& what) const {
    return nameBasedUuid(plan.upgradeCode, "component " + arch + " " + what);
  }
  // Forward slashes: wixl takes no backslash, and the WiX Toolset takes both.
  std::string sourceOf(const std::string& path) const { return sourceDir + path; }

  void product() {
    w.line("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    w.line("<!-- Written by kernopack msi. Build it with the WiX Toolset 3 (candle, light), or with wixl -D " +
           std::string(kWixlVariable) + "=1 -a " + arch +
           " (msitools) and the install folder's access list imported with msibuild, as kernopack msi does. -->");
    w.open("<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">");
    w.open("<Product" + attr("Id", productCode(plan.upgradeCode, plan.version, plan.arch)) +
           attr("Name", plan.productName) + " Language=\"1033\" Codepage=\"65001\"" + attr("Version", version) +
           attr("Manufacturer", plan.manufacturer) + attr("UpgradeCode", plan.upgradeCode) + ">");
    w.line("<Package" + (plan.packageCode.empty() ? std::string() : attr("Id", plan.packageCode)) +
           " InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\"" +
           attr("Description", plan.productName + " " + version) + attr("Manufacturer", plan.manufacturer) + " />");
  }

  // A major upgrade, spelled out: wixl has no Schedule for MajorUpgrade, and
  // the older product must go before the newer one is registered (removed
  // after it, as MajorUpgrade schedules it, Wine's installer drops the
  // upgrade code's registration, and a later downgrade goes unnoticed).
  void upgrade() {
    w.open("<Upgrade" + attr("Id", plan.upgradeCode) + ">");
    w.line("<UpgradeVersion Minimum=\"0.0.0\"" + attr("Maximum", version) +
           " IncludeMinimum=\"yes\" IncludeMaximum=\"no\" Property=\"OLDER_VERSION_FOUND\" />");
    w.line("<UpgradeVersion" + attr("Minimum", version) +
           " IncludeMinimum=\"no\" OnlyDetect=\"yes\" Property=\"NEWER_VERSION_FOUND\" />");
    w.close("</Upgrade>");
    w.line("<Condition Message=\"A newer version of [ProductName] is already installed.\">"
           "NOT NEWER_VERSION_FOUND</Condition>");
    w.line("<Media Id=\"1\" Cabinet=\"product.cab\" EmbedCab=\"yes\" />");
    w.line("<Property Id=\"DEFAULT_" + std::string(kAccountProperty) + "\"" + attr("Value", plan.account) + " />");
    if (plan.accountPassword) {
      // The password is a hidden property: the installer logs no value of
      // it, and only the service manager is given it.
      w.line("<Property Id=\"MsiHiddenProperties\"" + attr("Value", kPasswordProperty) + " />");
      w.line("<Condition Message=\"The service runs as account [DEFAULT_" + std::string(kAccountProperty) +
             "]: give its password as " + std::string(kPasswordProperty) +
             "=... on the msiexec command line.\">" + std::string(kPasswordProperty) + " OR Installed</Condition>");
    }
    for (const Remembered& r : kRemembered) {
      w.open("<Property Id=\"REMEMBERED_" + std::string(r.property) + "\">");
      w.line("<RegistrySearch Id=\"Remembered" + std::string(r.valueName) + "\" Root=\"HKLM\"" +
             attr("Key", rememberKey) + attr("Name", r.valueName) + " Type=\"raw\" Win64=\"" + win64 + "\" />");
      w.close("</Property>");
    }
  }

  // A setting given on the command line wins; otherwise an upgrade, repair
  // or removal uses the one the installed version remembered, else the
  // default (the block's account; the folder's is the Directory table's).
  void rememberedActions(bool declare) {
    for (const Remembered& r : kRemembered) {
      std::string p(r.property);
      if (declare) {
        w.line("<CustomAction Id=\"UseRemembered" + std::string(r.valueName) + "\"" + attr("Property", p) +
               " Value=\"[REMEMBERED_" + p + "]\" />");
        if (r.hasDefault)
          w.line("<CustomAction Id=\"UseDefault" + std::string(r.valueName) + "\"" + attr("Property", p) +
                 " Value=\"[DEFAULT_" + p + "]\" />");
        continue;
      }
      w.line("<Custom Action=\"UseRemembered" + std::string(r.valueName) + "\" Sequence=\"" +
             std::to_string(r.sequence) + "\">REMEMBERED_" + p + " AND NOT " + p + "</Custom>");
      if (r.hasDefault)
        w.line("<Custom Action=\"UseDefault" + std::string(r.valueName) + "\" Sequence=\"" +
               std::to_string(r.sequence + 1) + "\">NOT " + p + "</Custom>");
    }
  }

  // The launcher's own command words, run by the custom action DLL without a
  // console window (deferred, as SYSTEM): /configure applies what the
  // installer's tables cannot carry (recovery, delayed start, pre-shutdown,
  // the interactive flag, the event source unless it is another
  // program's); /uninstall at removal takes the event source only when it is
  // the executable's.
  void launcherActions() {
    std::string executable = "[INSTALLDIR]" + formattedText(plan.executableName);
    w.line("<Binary Id=\"KernoAction\"" + attr("SourceFile", plan.actionSource) + " />");
    for (const char* action : {"ConfigureService", "UninstallService"}) {
      std::string name(action);
      w.line("<CustomAction Id=\"" + name + "Data\" Property=\"" + name + "\"" + attr("Value", executable) + " />");
      w.line("<CustomAction Id=\"" + name + "\" BinaryKey=\"KernoAction\" DllEntry=\"" + name +
             "\" Execute=\"deferred\" Impersonate=\"no\" Return=\"" +
             (name == "ConfigureService" ? "check" : "ignore") + "\" />");
    }
  }

  // Explicit sequence numbers: wixl places Before/After actions differently
  // from one run to the next (and After="InstallServices" alone after
  // InstallFinalize). 990 to 992: after AppSearch (50), before CostFinalize
  // (1000); 1401: right after InstallValidate (1400); 1849 and 1850: before
  // StopServices (1900); 5849 and 5850: after InstallServices (5800), before
  // StartServices (5900). /configure runs on a first install and an upgrade
  // (a new product), never on a repair or a change of the installed one.
  void customActions() {
    rememberedActions(true);
    launcherActions();
    for (const char* sequence : {"InstallUISequence", "InstallExecuteSequence"}) {
      w.open(std::string("<") + sequence + ">");
      rememberedActions(false);
      if (std::strcmp(sequence, "InstallExecuteSequence") == 0) {
        w.line("<RemoveExistingProducts Sequence=\"1401\" />");
        w.line("<Custom Action=\"UninstallServiceData\" Sequence=\"1849\">REMOVE~=\"ALL\"</Custom>");
        w.line("<Custom Action=\"UninstallService\" Sequence=\"1850\">REMOVE~=\"ALL\"</Custom>");
        w.line("<Custom Action=\"ConfigureServiceData\" Sequence=\"5849\">NOT Installed</Custom>");
        w.line("<Custom Action=\"ConfigureService\" Sequence=\"5850\">NOT Installed</Custom>");
      }
      w.close(std::string("</") + sequence + ">");
    }
  }

  // The executable with its service and the remembered settings; the
  // install folder with its access list.
  void serviceComponent() {
    w.open("<Component Id=\"ServiceExecutable\"" + attr("Guid", componentGuid("executable")) + " Win64=\"" +
           win64 + "\">");
    componentIds.push_back("ServiceExecutable");
    w.line("<File Id=\"ServiceExecutable\"" + attr("Name", plan.executableName) +
           attr("Source", sourceOf(plan.executableName)) + " KeyPath=\"yes\" />");
    w.open("<CreateFolder>");
    w.line("<?ifndef var." + std::string(kWixlVariable) + "?><PermissionEx" + attr("Sddl", kInstallFolderSddl) +
           " /><?endif?>");
    w.close("</CreateFolder>");
    // Never interactive here: the system refuses that for any account but
    // LocalSystem, and the account is the installer's property;
    // /configure adds the flag under LocalSystem when the block asks.
    w.open("<ServiceInstall Id=\"Service\"" + attr("Name", formattedText(plan.serviceName)) +
           attr("DisplayName", formattedText(plan.displayName.empty() ? plan.serviceName : plan.displayName)) +
           (plan.serviceDescription.empty() ? std::string()
                                            : attr("Description", formattedText(plan.serviceDescription))) +
           " Type=\"ownProcess\" Interactive=\"no\" Start=\"" +
           (plan.automaticStart ? "auto" : "demand") + "\" ErrorControl=\"normal\" Account=\"[" +
           std::string(kAccountProperty) + "]\"" +
           (plan.accountPassword ? " Password=\"[" + std::string(kPasswordProperty) + "]\"" : std::string()) +
           " Vital=\"yes\">");
    for (const std::string& d : plan.dependencies)
      w.line("<ServiceDependency" + attr("Id", formattedText(d)) + " />");
    w.close("</ServiceInstall>");
    w.line("<ServiceControl Id=\"Service\"" + attr("Name", formattedText(plan.serviceName)) +
           (plan.automaticStart ? " Start=\"install\"" : "") + " Stop=\"both\" Remove=\"uninstall\" Wait=\"yes\" />");
    for (const Remembered& r : kRemembered)
      w.line("<RegistryValue Root=\"HKLM\"" + attr("Key", rememberKey) + attr("Name", r.valueName) +
             " Type=\"string\" Value=\"[" + std::string(r.property) + "]\" />");
    w.close("</Component>");
  }

  // Staged files, each a component of its own.
  void files(const DirNode& dir) {
    for (size_t i : dir.files) {
      std::string id = "File" + std::to_string(i);
      const std::string& path = plan.files[i].path;
      std::string name(pathFileName(path, false));
      w.open("<Component" + attr("Id", id) + attr("Guid", componentGuid("file " + path)) + " Win64=\"" + win64 +
             "\">");
      w.line("<File" + attr("Id", id) + attr("Name", name) + attr("Source", sourceOf(path)) + " KeyPath=\"yes\" />");
      w.close("</Component>");
      componentIds.push_back(id);
    }
  }

  // Staged folders, the logs folder made even when empty.
  void dirs(const DirNode& dir, const std::string& prefix) {
    for (const DirNode& d : dir.dirs) {
      std::string id = "Folder" + std::to_string(dirCount++);
      std::string path = prefix + d.name;
      w.open("<Directory" + attr("Id", id) + attr("Name", d.name) + ">");
      if (prefix.empty() && d.name == "logs") {
        std::string cid = "LogsFolder";
        w.open("<Component" + attr("Id", cid) + attr("Guid", componentGuid("folder logs")) + " Win64=\"" + win64 +
               "\">");
        w.line("<CreateFolder />");
        w.close("</Component>");
        componentIds.push_back(cid);
      }
      files(d);
      dirs(d, path + "/");
      w.close("</Directory>");
    }
  }

  void installFolder(const DirNode& root) {
    w.open("<Directory Id=\"TARGETDIR\" Name=\"SourceDir\">");
    w.open(std::string("<Directory Id=\"") + (x64 ? "ProgramFiles64Folder" : "ProgramFilesFolder") + "\">");
    w.open("<Directory" + attr("Id", kInstallDirProperty) + attr("Name", plan.installFolder) + ">");
    serviceComponent();
    files(root);
    dirs(root, "");
    w.close("</Directory>");
    w.close("</Directory>");
    w.close("</Directory>");
  }

  void feature() {
    w.open("<Feature Id=\"Complete\" Level=\"1\">");
    for (const std::string& id : componentIds) w.line("<ComponentRef" + attr("Id", id) + " />");
    w.close("</Feature>");
    w.close("</Product>");
    w.close("</Wix>");
  }
};

}  // namespace

std::string lockPermissionsTable() {
  return "MsiLockPermissionsEx\tLockObject\tTable\tSDDL\tCondition\r\n"
         "s72\ts72\ts32\ts0\tS255\r\n"
         "MsiLockPermissionsEx\tMsiLockPermissionsEx\r\n"
         "InstallFolderAccess\t" + std::string(kInstallDirProperty) + "\tCreateFolder\t" +
         std::string(kInstallFolderSddl) + "\t\r\n";
}

bool wixSource(const PackagePlan& plan, std::string& source, std::string& error) {
  if (!checkPlanTexts(plan, error)) return false;
  WixWriter writer(plan);
  writer.product();
  writer.upgrade();
  writer.customActions();
  writer.installFolder(fileTree(plan));
  writer.feature();
  source = std::move(writer.w.out);
  return true;
}
