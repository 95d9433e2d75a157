#include "packer_dirs.h"

#ifndef KERNOPACK_WIN64_DIR
#define KERNOPACK_WIN64_DIR ""
#endif
#ifndef KERNOPACK_WIN32_DIR
#define KERNOPACK_WIN32_DIR ""
#endif
#ifndef KERNOPACK_RUNTIME_DIR
#define KERNOPACK_RUNTIME_DIR ""
#endif

const char* const kPackerWin64Dir = KERNOPACK_WIN64_DIR;
const char* const kPackerWin32Dir = KERNOPACK_WIN32_DIR;
const char* const kPackerRuntimeDir = KERNOPACK_RUNTIME_DIR;
