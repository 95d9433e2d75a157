#include "jni_double.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace jni_double {

namespace {

Double* gDouble = nullptr;

const Object* object(const void* reference) { return static_cast<const Object*>(reference); }
std::string quotedName(const char* text) { return text ? quotedUtf8(text) : "null"; }
// A class or method name as the text of the exception about it (the names
// here are ASCII).
std::u16string ascii(const char* name) { return std::u16string(name, name + std::strlen(name)); }

// -- the JNI functions the launcher calls ----------------------------------------

jclass JNICALL findClass(JNIEnv*, const char* name) {
  if (gDouble->missing.count(name)) {
    gDouble->record("FindClass " + quotedName(name) + " -> null");
    gDouble->throwNew("java/lang/NoClassDefFoundError", ascii(name));
    return nullptr;
  }
  gDouble->record("FindClass " + quotedName(name) + " -> class");
  return jclass(gDouble->newObject("class", name));
}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  const Object* owner = object(cls);
  std::string line = "GetStaticMethodID " + describe(owner) + " " + quotedName(name) + " " + quotedName(sig);
  if (gDouble->missing.count(owner->name + "." + name)) {
    gDouble->record(line + " -> null");
    gDouble->throwNew("java/lang/NoSuchMethodError", ascii(name));
    return nullptr;
  }
  gDouble->record(line + " -> method");
  std::lock_guard<std::mutex> held(gDouble->lock);
  gDouble->methods.push_back(Method{owner->name, name, sig});
  return reinterpret_cast<jmethodID>(&gDouble->methods.back());
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize length, jclass cls, jobject initial) {
  std::string line = "NewObjectArray " + std::to_string(length) + " " + describe(object(cls)) + " " +
                     (initial == nullptr ? "null" : "initial");
  if (gDouble->arrayFails) {
    gDouble->record(line + " -> null");
    gDouble->throwNew("java/lang/OutOfMemoryError", u"no array");
    return nullptr;
  }
  gDouble->record(line + " -> array");
  std::lock_guard<std::mutex> held(gDouble->lock);
  gDouble->objects.push_back(Object{"array", object(cls)->name, u"", std::vector<const Object*>(size_t(length))});
  return jobjectArray(&gDouble->objects.back());
}

jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize length) {
  std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
  if (gDouble->stringFailsAt-- == 0) {
    gDouble->record("NewString " + quoted(text) + " -> null");
    gDouble->throwNew("java/lang/OutOfMemoryError", u"no string");
    return nullptr;
  }
  gDouble->record("NewString " + quoted(text) + " -> string");
  ++gDouble->liveStrings;
  return jstring(gDouble->newObject("string", "java/lang/String", text));
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  gDouble->record("SetObjectArrayElement " + std::to_string(index) + " " + describe(object(value)));
  const_cast<Object*>(object(array))->elements.at(size_t(index)) = object(value);
}

void JNICALL deleteLocalRef(JNIEnv*, jobject reference) {
  if (reference != nullptr && object(reference)->kind == "string") --gDouble->liveStrings;
  gDouble->record("DeleteLocalRef " + describe(object(reference)));
}

void JNICALL callStaticVoidMethodA(JNIEnv*, jclass, jmethodID id, const jvalue* args) {
  const Method& method = *reinterpret_cast<const Method*>(id);
  std::string line = "CallStaticVoidMethodA " + quotedUtf8(method.className) + " " + quotedUtf8(method.name) +
                     " " + quotedUtf8(method.signature);
  if (method.signature == "([Ljava/lang/String;)V") {
    for (const Object* element : object(args[0].l)->elements) line += " " + describe(element);
  } else if (method.signature == "(I)V") {
    line += " " + std::to_string(args[0].i);
  }
  gDouble->record(line);
  if (method.className == "com/kerno/runtime/WinLauncher" && method.name == "main") {
    gDouble->perform("main", 0);
  } else if (method.className == "java/lang/System" && method.name == "exit") {
    gDouble->perform("exit", args[0].i);
  } else {
    gDouble->perform("stop", 0);
  }
}

jboolean JNICALL callStaticBooleanMethodA(JNIEnv*, jclass, jmethodID id, const jvalue*) {
  const Method& method = *reinterpret_cast<const Method*>(id);
  gDouble->record("CallStaticBooleanMethodA " + quotedUtf8(method.className) + " " + quotedUtf8(method.name) +
                  " " + quotedUtf8(method.signature));
  return method.name == "firstRun" ? gDouble->perform("firstRun", 0) : jboolean(JNI_TRUE);
}

// The watchdog's calls: ThreadDumps.dump gives a byte array (its text in
// `name`), Health.check null (healthy) or a reason, as "dump" and "check" say.
constexpr const char* kDumpText =
    "Full thread dump of the stand-in VM:\n\n\"main\" #1 prio=5 RUNNABLE\n\tat Main.main(Main.java:1)\n";

jobject JNICALL callStaticObjectMethodA(JNIEnv*, jclass, jmethodID id, const jvalue* args) {
  const Method& method = *reinterpret_cast<const Method*>(id);
  std::string line = "CallStaticObjectMethodA " + quotedUtf8(method.className) + " " + quotedUtf8(method.name) +
                     " " + quotedUtf8(method.signature);
  if (method.signature == "(Ljava/lang/String;)Ljava/lang/String;") line += " " + describe(object(args[0].l));
  gDouble->record(line);
  if (method.className == "java/lang/String" && method.name == "valueOf") {
    // A throwable's toString: its class, dotted, and its message.
    const Object* thrown = object(args[0].l);
    std::string name = thrown->name;
    for (char& c : name) c = c == '/' ? '.' : c;
    return jobject(gDouble->newObject("string", "java/lang/String", ascii(name.c_str()) + u": " + thrown->text));
  }
  if (method.name == "dump") {
    return gDouble->perform("dump", 0) ? jobject(gDouble->newObject("byte[]", kDumpText)) : nullptr;
  }
  if (method.name == "check" && !gDouble->perform("check", 0)) {
    return jobject(gDouble->newObject("string", "java/lang/String", u"the stand-in says no"));
  }
  // WinLauncher.awaitEnd: null when the application finished, what its main
  // threw when "end" returns false.
  if (method.name == "awaitEnd" && !gDouble->perform("end", 0)) {
    return jobject(gDouble->newObject("string", "java/lang/String",
                                      u"java.lang.IllegalStateException: thrown by the stand-in"));
  }
  return nullptr;
}

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
  gDouble->record("GetArrayLength " + describe(object(array)));
  return static_cast<jsize>(object(array)->name.size());
}

void JNICALL getByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length, jbyte* out) {
  gDouble->record("GetByteArrayRegion " + std::to_string(start) + " " + std::to_string(length));
  std::memcpy(out, object(array)->name.data() + start, static_cast<size_t>(length));
}

jstring JNICALL newStringUtf(JNIEnv*, const char* text) {
  gDouble->record("NewStringUTF " + quotedName(text));
  // (The names the watchdog passes are ASCII.)
  return jstring(gDouble->newObject("string", "java/lang/String", ascii(text)));
}

jsize JNICALL getStringLength(JNIEnv*, jstring text) { return static_cast<jsize>(object(text)->text.size()); }

void JNICALL getStringUtfRegion(JNIEnv*, jstring text, jsize start, jsize length, char* out) {
  const std::u16string& units = object(text)->text;
  for (jsize i = 0; i < length; ++i) {
    char16_t unit = units[size_t(start + i)];
    *out++ = unit < 0x80 ? char(unit) : '?';
  }
  *out = '\0';
}

void JNICALL exceptionClear(JNIEnv*) {
  gDouble->record("ExceptionClear");
  gDouble->pending = nullptr;
}

jint JNICALL attachCurrentThreadAsDaemon(JavaVM*, void** env, void* args) {
  const auto* attach = static_cast<const JavaVMAttachArgs*>(args);
  gDouble->record("AttachCurrentThreadAsDaemon " + quotedName(attach && attach->name ? attach->name : "") + " -> 0");
  *env = &gDouble->env;
  return JNI_OK;
}

jint JNICALL detachCurrentThread(JavaVM*) {
  gDouble->record("DetachCurrentThread -> 0");
  return JNI_OK;
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) {
  gDouble->record("ExceptionOccurred -> " + describe(gDouble->pending));
  return jthrowable(gDouble->pending);
}

void JNICALL exceptionDescribe(JNIEnv*) {
  const Object* pending = std::exchange(gDouble->pending, nullptr);
  if (pending == nullptr) return gDouble->record("ExceptionDescribe none");
  gDouble->record("ExceptionDescribe " + describe(pending) + " " + quoted(pending->text));
  if (!gDouble->printsDescriptions) return;
  // What a VM prints, to the process's standard error.
  std::string name = pending->name;
  for (char& c : name) c = c == '/' ? '.' : c;
  std::fprintf(stderr, "Exception in thread \"main\" %s\n", name.c_str());
  std::fflush(stderr);
}

jint JNICALL destroyJavaVm(JavaVM*) {
  gDouble->record("DestroyJavaVM -> 0");
  return JNI_OK;
}

// The tables are structs of function pointers behind a few reserved ones.
template <typename Table>
void fillWithTraps(Table& table, size_t reserved, void(JNICALL* trap)()) {
  for (size_t i = reserved; i < sizeof(Table) / sizeof(void*); ++i) {
    std::memcpy(reinterpret_cast<char*>(&table) + i * sizeof(void*), &trap, sizeof trap);
  }
}

}  // namespace

const Object* Double::newObject(const char* kind, std::string name, std::u16string text) {
  std::lock_guard<std::mutex> held(lock);
  objects.push_back(Object{kind, std::move(name), std::move(text), {}});
  return &objects.back();
}

void Double::throwNew(const std::string& className, const std::u16string& message) {
  pending = newObject("throwable", className, message);
}

void Double::buildTables(void(JNICALL* trap)()) {
  fillWithTraps(functions, 4, trap);
  functions.FindClass = findClass;
  functions.GetStaticMethodID = getStaticMethodID;
  functions.NewObjectArray = newObjectArray;
  functions.NewString = newString;
  functions.SetObjectArrayElement = setObjectArrayElement;
  functions.DeleteLocalRef = deleteLocalRef;
  functions.CallStaticVoidMethodA = callStaticVoidMethodA;
  functions.CallStaticBooleanMethodA = callStaticBooleanMethodA;
  functions.ExceptionOccurred = exceptionOccurred;
  functions.ExceptionDescribe = exceptionDescribe;
  functions.CallStaticObjectMethodA = callStaticObjectMethodA;
  functions.GetArrayLength = getArrayLength;
  functions.GetByteArrayRegion = getByteArrayRegion;
  functions.NewStringUTF = newStringUtf;
  functions.GetStringLength = getStringLength;
  functions.GetStringUTFRegion = getStringUtfRegion;
  functions.ExceptionClear = exceptionClear;
  fillWithTraps(invokeFunctions, 3, trap);
  invokeFunctions.DestroyJavaVM = destroyJavaVm;
  invokeFunctions.AttachCurrentThreadAsDaemon = attachCurrentThreadAsDaemon;
  invokeFunctions.DetachCurrentThread = detachCurrentThread;
  env.functions = &functions;
  vm.functions = &invokeFunctions;
  gDouble = this;
}

std::string quotedUtf8(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + '"';
}

std::string quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t c : text) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
    if (c == u'"' || c == u'\\') out += '\\';
    out += c == u'"' || c == u'\\' || (c >= 0x20 && c < 0x7F) ? std::string(1, char(c)) : std::string(escape);
  }
  return out + '"';
}

std::string describe(const Object* o) {
  if (o == nullptr) return "null";
  return o->kind == "string" ? quoted(o->text) : o->kind + " " + quotedUtf8(o->name);
}

}  // namespace jni_double
