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

std::string jvmHomeFromJavaExe(std::string_view javaExe) {
  return javaExeDirectory(javaExe) + "..";
}
