#include "jvm/variables.h"

#include "jvm/runtime_layout.h"

namespace {

enum class Builtin { exeDirectory, tempDirectory, separator, jvmHome };

struct BuiltinReference {
  std::string_view reference;
  Builtin value;
};

// The order is part of the behaviour: later references see what earlier
// ones inserted.
constexpr BuiltinReference kBuiltins[] = {
    {"%KERNO_EXEDIR%", Builtin::exeDirectory},
    {"%BRINDLE_EXEDIR%", Builtin::exeDirectory},
    {"%KERNO_TEMPDIR%", Builtin::tempDirectory},
    {"%BRINDLE_TEMPDIR%", Builtin::tempDirectory},
    {"%KERNO_PATHLIST_SEPARATOR%", Builtin::separator},
    {"%BRINDLE_PATHLIST_SEPARATOR%", Builtin::separator},
    {"%KERNO_JVM_HOME%", Builtin::jvmHome},
    {"%BRINDLE_JVM_HOME%", Builtin::jvmHome},
    {"${KERNO_EXEDIR}", Builtin::exeDirectory},
    {"${BRINDLE_EXEDIR}", Builtin::exeDirectory},
    {"${KERNO_TEMPDIR}", Builtin::tempDirectory},
    {"${BRINDLE_TEMPDIR}", Builtin::tempDirectory},
    {"${KERNO_PATHLIST_SEPARATOR}", Builtin::separator},
    {"${BRINDLE_PATHLIST_SEPARATOR}", Builtin::separator},
    {"${KERNO_JVM_HOME}", Builtin::jvmHome},
    {"${BRINDLE_JVM_HOME}", Builtin::jvmHome},
};

std::string_view builtinValue(Builtin which, const BuiltinValues& values) {
  switch (which) {
    case Builtin::exeDirectory: return values.exeDirectory;
    case Builtin::tempDirectory: return values.tempDirectory;
    case Builtin::separator: return ";";
    case Builtin::jvmHome: return values.jvmHome;
  }
  return {};
}

// _strupr in the C locale: only a-z change.
std::string upperCaseC(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

void replaceAll(std::string& text, std::string_view reference, std::string_view value) {
  if (reference.empty()) return;
  std::size_t pos = text.find(reference);
  while (pos != std::string::npos) {
    if (text.size() - reference.size() + value.size() > kMaxExpandedText) return;
    text.replace(pos, reference.size(), value);
    pos = text.find(reference, pos + value.size());
  }
}

void expandVariables(std::string& text, const BuiltinValues& values,
                     const std::vector<std::string>& environment) {
  for (const BuiltinReference& builtin : kBuiltins) {
    replaceAll(text, builtin.reference, builtinValue(builtin.value, values));
  }
  for (const std::string& entry : environment) {
    if (entry.size() > kMaxEnvironmentEntry) continue;
    // An entry is a C text: anything after a NUL is no part of it.
    std::string_view whole(entry.data(), entry.find('\0') == std::string::npos
                                             ? entry.size()
                                             : entry.find('\0'));
    std::size_t equals = whole.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = whole.substr(0, equals);
    std::string_view value = whole.substr(equals + 1);
    std::string reference = "${" + std::string(name) + "}";
    replaceAll(text, reference, value);
    replaceAll(text, upperCaseC(reference), value);
  }
}

bool isBuiltinReference(std::string_view reference) {
  for (const BuiltinReference& builtin : kBuiltins) {
    if (builtin.reference == reference) return true;
  }
  return false;
}

bool expandPercentReferences(std::string& text, const VariableLookup& lookup, std::size_t maxBytes) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t open = text.find('%', pos);
    std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) {
      out.append(text, pos, std::string::npos);
      break;
    }
    out.append(text, pos, open - pos);
    std::optional<std::string> value =
        close > open + 1 ? lookup(text.substr(open + 1, close - open - 1)) : std::nullopt;
    if (value) {
      out += *value;
    } else {
      out.append(text, open, close - open + 1);
    }
    pos = close + 1;
    if (out.size() > maxBytes) return false;
  }
  if (out.size() > maxBytes) return false;
  text = std::move(out);
  return true;
}

std::string jvmHomeFromJavaExe(std::string_view javaExe) {
  return javaExeDirectory(javaExe) + "..";
}
