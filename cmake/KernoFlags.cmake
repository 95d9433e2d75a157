# Warnings are errors on every compiler and target (C and C++ only: the
# resource compiler takes none of these).
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Werror;-Wshadow;-Wformat=2>")
# Reproducible binaries: no source or build directory in what is compiled.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

if(WIN32)
  # Templates and Windows tools: static runtime, no DLLs beyond the system's.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # No link time in the PE header: the same sources give the same bytes.
  add_link_options(-Wl,--no-insert-timestamp)
  set(KERNO_WINE_RUN "${PROJECT_SOURCE_DIR}/cmake/wine-run.sh")
  set(KERNO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Private Wine prefix for this build's tests")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${KERNO_WINE_RUN};--prefix;${KERNO_WINEPREFIX}")
elseif(KERNO_FUZZ)
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=address,undefined)
else()
  if(KERNO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# Header-only libraries from the build machine (nlohmann-json, CLI11) for the
# cross builds: only their own folders, never the whole host include tree.
set(KERNO_HOST_INCLUDE "${CMAKE_BINARY_DIR}/host-include")
file(MAKE_DIRECTORY "${KERNO_HOST_INCLUDE}")
foreach(lib nlohmann CLI)
  if(EXISTS "/usr/include/${lib}" AND NOT EXISTS "${KERNO_HOST_INCLUDE}/${lib}")
    file(CREATE_LINK "/usr/include/${lib}" "${KERNO_HOST_INCLUDE}/${lib}" SYMBOLIC)
  endif()
endforeach()
