# The Windows and fuzz trees as sub-builds of the native tree. Their tests
# join this tree's ctest run, sharing one Wine prefix and one wineserver.
include(ExternalProject)

set(KERNO_SUB_INCLUDE "${CMAKE_BINARY_DIR}/subbuild-tests.cmake")
file(WRITE "${KERNO_SUB_INCLUDE}" "# Generated: the sub-builds' tests.\n")

function(kerno_subbuild name)
  cmake_parse_arguments(A "" "" "ARGS" ${ARGN})
  ExternalProject_Add(${name}
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${KERNO_${name}_DIR}"
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS ${A_ARGS} -DKERNO_win64_DIR=${KERNO_win64_DIR} -DKERNO_win32_DIR=${KERNO_win32_DIR} -DKERNO_RUNTIME_JAR_DIR=${CMAKE_BINARY_DIR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
  file(APPEND "${KERNO_SUB_INCLUDE}"
    "if(EXISTS \"${KERNO_${name}_DIR}/CTestTestfile.cmake\")\n"
    "  subdirs(\"${KERNO_${name}_DIR}\")\n"
    "endif()\n")
endfunction()

kerno_subbuild(win64 ARGS
  -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw64.cmake
  -DCMAKE_BUILD_TYPE=MinSizeRel
  -DKERNO_WINEPREFIX=${KERNO_WINEPREFIX})
kerno_subbuild(win32 ARGS
  -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw32.cmake
  -DCMAKE_BUILD_TYPE=MinSizeRel
  -DKERNO_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix32
  -DKERNO_GLUE_TESTS=OFF)
kerno_subbuild(fuzz ARGS
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  -DCMAKE_BUILD_TYPE=Debug -DKERNO_FUZZ=ON
  -DKERNO_FUZZ_SECONDS=${KERNO_FUZZ_SECONDS})

# The Linux packer to ship: a release build without sanitizers.
kerno_subbuild(release ARGS
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
  -DCMAKE_BUILD_TYPE=Release -DKERNO_DIST=ON)

include(cmake/KernoBundle.cmake)

set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY TEST_INCLUDE_FILES "${KERNO_SUB_INCLUDE}")
