// The JNI double: the function tables a VM hands the launcher, played by a
// few objects in memory. One source serves the unit tier
// (launch_java_vm_launcher_test, native) and the stand-in jvm.dll (Windows),
// each giving it a way to record a call and to run what a Java method does.
// Every call is recorded as one line in the stand-in's form
// (docs/testing.md, "Record: jvm-standin.calls"); every other slot of the
// tables is the given trap.
#pragma once

#include <jni.h>

#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace jni_double {

// Every reference the double hands out points to one of these; they live as
// long as the double.
struct Object {
  std::string kind;     // class, string, array, throwable
  std::string name;     // class: its name; throwable: its class; array: element class
  std::u16string text;  // string: its characters; throwable: its message
  std::vector<const Object*> elements;
};

struct Method {
  std::string className, name, signature;
};

struct Double {
  // -- what the VM lacks or fails at ------------------------------------------
  std::set<std::string> missing;  // classes, and Class.method of static methods
  bool arrayFails = false;        // NewObjectArray leaves an OutOfMemoryError
  int stringFailsAt = -1;         // so does the NewString of this number (from 0)
  bool printsDescriptions = true;  // ExceptionDescribe prints as a VM does, to stderr

  // -- the user's part ------------------------------------------------------------
  std::function<void(const std::string&)> record;
  // What a Java method does: "main", "firstRun" (its result) or "exit" (with
  // its status), the watchdog's "dump" (false: no dump) and "check" (false:
  // unhealthy), "end", the wait for the application's end (true: it
  // finished, false: its main threw), and "stop" for any other static void
  // method (the stop method); it may leave an exception with throwNew.
  std::function<jboolean(const std::string& method, jint status)> perform;

  // -- state ------------------------------------------------------------------------
  std::mutex lock;  // the watchdog's threads call in beside the main thread
  std::deque<Object> objects;
  std::deque<Method> methods;
  const Object* pending = nullptr;
  int liveStrings = 0;  // strings made and not yet deleted
  JNINativeInterface_ functions{};
  JNIInvokeInterface_ invokeFunctions{};
  JNIEnv env{};
  JavaVM vm{};

  const Object* newObject(const char* kind, std::string name, std::u16string text = u"");
  void throwNew(const std::string& className, const std::u16string& message);
  // Fills the tables (every slot not implemented with `trap`) and makes this
  // the double their functions act on.
  void buildTables(void(JNICALL* trap)());
};

// Texts as the record shows them: double-quoted, with JSON's escapes (UTF-16
// beyond ASCII as \uXXXX; UTF-8 names as they are).
std::string quoted(const std::u16string& text);
std::string quotedUtf8(const std::string& text);
std::string describe(const Object* object);

}  // namespace jni_double
