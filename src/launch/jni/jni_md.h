/* Machine-dependent JNI definitions for the Windows builds (mingw-w64, x86
 * and x64). jni.h itself comes from the installed JDK (see launch/jni.cmake);
 * the JDK ships only the jni_md.h of its own platform, so the cross builds
 * take this one. Native builds use the JDK's own jni_md.h.
 *
 * JNICALL is __stdcall: on x86 the JNI function tables and JNI_CreateJavaVM
 * use it (on x64 there is one calling convention and it changes nothing).
 * jint is int rather than the long of the Windows JDK headers: both are
 * 32 bits there, and int keeps the type the same as in the native build. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef _WIN32
#error "launch/jni/jni_md.h is for the Windows builds; native builds use the JDK's jni_md.h"
#endif

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
