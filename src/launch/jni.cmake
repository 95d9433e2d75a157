# The JNI headers of the launch code. jni.h is taken from an installed JDK
# rather than copied into the repository, the same file for every tree:
# native trees add the JDK's own jni_md.h (include/linux), the mingw trees
# our Windows one (launch/jni/jni_md.h). The real-JVM tests run against the
# libjvm.so of the same JDK.
set(KERNO_JDK_HOME "/usr/lib/jvm/java-17-openjdk-amd64" CACHE PATH
  "JDK whose include/jni.h the launch code compiles against (Debian: openjdk-17-jdk-headless)")
if(NOT EXISTS "${KERNO_JDK_HOME}/include/jni.h")
  message(FATAL_ERROR "jni.h not found in ${KERNO_JDK_HOME}/include: "
    "run scripts/setup.sh (openjdk-17-jdk-headless) or set KERNO_JDK_HOME")
endif()
if(WIN32)
  set(KERNO_JNI_INCLUDE_DIRS "${CMAKE_CURRENT_LIST_DIR}/jni" "${KERNO_JDK_HOME}/include")
else()
  set(KERNO_JNI_INCLUDE_DIRS "${KERNO_JDK_HOME}/include" "${KERNO_JDK_HOME}/include/linux")
endif()
