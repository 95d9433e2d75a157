#include "launch/health_calls.h"

#include <algorithm>
#include <vector>

bool clearPendingException(JNIEnv* env) {
  jthrowable pending = env->ExceptionOccurred();
  if (pending == nullptr) return false;
  env->ExceptionClear();
  env->DeleteLocalRef(pending);
  return true;
}

namespace {

// The static method, or nullptr with `why`.
jmethodID findStatic(JNIEnv* env, const char* className, const char* name, const char* signature,
                     jclass& cls, std::string& why) {
  cls = env->FindClass(className);
  if (cls == nullptr) {
    clearPendingException(env);
    why = std::string("the runtime jar's class ") + className + " is not on the class path";
    return nullptr;
  }
  jmethodID method = env->GetStaticMethodID(cls, name, signature);
  if (method == nullptr) {
    clearPendingException(env);
    env->DeleteLocalRef(cls);
    cls = nullptr;
    why = std::string("the runtime jar's ") + className + "." + name + " is missing (an older jar?)";
  }
  return method;
}

}  // namespace

JNIEnv* attachLauncherThread(JavaVM* vm, const char* name) {
  if (vm == nullptr) return nullptr;
  JavaVMAttachArgs args;
  args.version = JNI_VERSION_1_2;
  args.name = const_cast<char*>(name);
  args.group = nullptr;
  void* env = nullptr;
  if (vm->AttachCurrentThreadAsDaemon(&env, &args) != JNI_OK) return nullptr;
  return static_cast<JNIEnv*>(env);
}

void detachLauncherThread(JavaVM* vm) {
  if (vm != nullptr) vm->DetachCurrentThread();
}

bool streamThreadDump(JNIEnv* env, const std::function<bool(const char*, size_t)>& write,
                      std::string& why) {
  jclass cls = nullptr;
  jmethodID dump = findStatic(env, kThreadDumpsClass, "dump", "()[B", cls, why);
  if (dump == nullptr) return false;
  jobject result = env->CallStaticObjectMethodA(cls, dump, nullptr);
  env->DeleteLocalRef(cls);
  if (clearPendingException(env) || result == nullptr) {
    if (result != nullptr) env->DeleteLocalRef(result);
    why = "the VM could not make the thread dump (it threw)";
    return false;
  }
  jbyteArray bytes = static_cast<jbyteArray>(result);
  jsize length = env->GetArrayLength(bytes);
  std::vector<char> piece(kDumpPieceBytes);
  bool ok = true;
  for (jsize at = 0; at < length && ok;) {
    jsize n = static_cast<jsize>(std::min<size_t>(kDumpPieceBytes, static_cast<size_t>(length - at)));
    env->GetByteArrayRegion(bytes, at, n, reinterpret_cast<jbyte*>(piece.data()));
    if (clearPendingException(env)) {
      why = "the dump could not be read from the VM";
      ok = false;
    } else if (!write(piece.data(), static_cast<size_t>(n))) {
      why = "the dump could not be written";
      ok = false;
    }
    at += n;
  }
  env->DeleteLocalRef(bytes);
  return ok;
}

bool runVmCheck(JNIEnv* env, std::string_view check, std::string& why) {
  jclass cls = nullptr;
  jmethodID method = findStatic(env, kHealthClass, "check", "(Ljava/lang/String;)Ljava/lang/String;", cls, why);
  if (method == nullptr) return false;
  std::string text(check);
  jstring argument = env->NewStringUTF(text.c_str());
  if (argument == nullptr) {
    clearPendingException(env);
    env->DeleteLocalRef(cls);
    why = "the VM is out of memory";
    return false;
  }
  jvalue value;
  value.l = argument;
  jobject result = env->CallStaticObjectMethodA(cls, method, &value);
  env->DeleteLocalRef(argument);
  env->DeleteLocalRef(cls);
  if (clearPendingException(env)) {
    if (result != nullptr) env->DeleteLocalRef(result);
    why = "the check threw (the VM may be out of memory)";
    return false;
  }
  if (result == nullptr) return true;
  jstring reason = static_cast<jstring>(result);
  bool read = readJavaText(env, reason, kMaxCheckReason, why);
  env->DeleteLocalRef(reason);
  if (!read) {
    why = "the check failed; its reason could not be read";
    return false;
  }
  if (why.empty()) why = "the check failed";
  return false;
}

bool readJavaText(JNIEnv* env, jstring text, size_t maxBytes, std::string& out) {
  // Cut by characters first, so that the modified UTF-8 stays whole.
  jsize characters = env->GetStringLength(text);
  jsize kept = characters < jsize(maxBytes / 4) ? characters : jsize(maxBytes / 4);
  std::vector<char> utf(maxBytes + 1, '\0');
  env->GetStringUTFRegion(text, 0, kept, utf.data());
  if (clearPendingException(env)) return false;
  out = std::string(utf.data());
  if (kept < characters) out += "...";
  return true;
}

ApplicationEnd awaitApplicationEnd(JNIEnv* env) {
  ApplicationEnd end;
  jclass cls = nullptr;
  jmethodID method = findStatic(env, kApplicationEndClass, "awaitEnd", "()Ljava/lang/String;", cls, end.text);
  if (method == nullptr) return end;
  jobject result = env->CallStaticObjectMethodA(cls, method, nullptr);
  env->DeleteLocalRef(cls);
  if (clearPendingException(env)) {
    if (result != nullptr) env->DeleteLocalRef(result);
    end.text = "the wait for the application's end threw";
    return end;
  }
  if (result == nullptr) {
    end.kind = ApplicationEnd::Kind::finished;
  } else {
    jstring thrown = static_cast<jstring>(result);
    bool read = readJavaText(env, thrown, kMaxCheckReason, end.text);
    env->DeleteLocalRef(thrown);
    if (read) {
      end.kind = ApplicationEnd::Kind::threw;
    } else {
      end.text = "what the application's main threw could not be read";
    }
  }
  return end;
}
