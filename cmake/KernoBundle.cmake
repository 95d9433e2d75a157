# The release bundles (target `package`, part of the `all` build):
# build/all/package/kerno-<version>-windows.zip and
# kerno-<version>-linux-x86_64.tar.gz, made by cmake/make-bundle.py from the
# shipped packers (dist/ of the x64 and the release trees), both templates,
# the runtime jar and the example application's jar (examples/). docs/bundle.md (the bundles' README.md) says what is
# in them.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(KERNO_PACKAGE_DIR "${CMAKE_BINARY_DIR}/package")
set(KERNO_BUNDLE_ARGS
  --version ${PROJECT_VERSION}
  --source ${PROJECT_SOURCE_DIR}
  --windows-packer ${KERNO_win64_DIR}/dist/kernopack.exe
  --linux-packer ${KERNO_release_DIR}/dist/kernopack
  --x64 ${KERNO_win64_DIR}/kernosvc-x64.exe
  --x86 ${KERNO_win32_DIR}/kernosvc-x86.exe
  --x64-action ${KERNO_win64_DIR}/kernoaction-x64.dll
  --x86-action ${KERNO_win32_DIR}/kernoaction-x86.dll
  --jar ${CMAKE_BINARY_DIR}/kerno-runtime.jar
  --demo-jar ${CMAKE_BINARY_DIR}/kerno-demo.jar)

add_custom_target(package ALL
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/make-bundle.py
    ${KERNO_BUNDLE_ARGS} --out ${KERNO_PACKAGE_DIR}
  COMMENT "Release bundles in ${KERNO_PACKAGE_DIR}"
  VERBATIM)
add_dependencies(package win64 win32 release kerno_runtime kerno_demo)

# Reproducibility, cheaply: the bundling step again into a second directory
# must give the same bytes, and nothing shipped may name a build path or
# carry a link time (tests/package/check_bundle.py).
add_test(NAME package.reproducible
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/package/check_bundle.py
    --bundles ${KERNO_PACKAGE_DIR} --again ${CMAKE_BINARY_DIR}/package-again
    --forbid ${PROJECT_SOURCE_DIR} --forbid ${CMAKE_BINARY_DIR}
    -- ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/make-bundle.py ${KERNO_BUNDLE_ARGS})
set_tests_properties(package.reproducible PROPERTIES LABELS package TIMEOUT 300)

# The workflow that runs the smoke check on hosted Windows runners cannot run
# here: it must parse, name only scripts that exist and build as
# scripts/test.sh does (tests/package/check_workflow.py).
add_test(NAME package.workflow
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/package/check_workflow.py
    --source ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/.github/workflows/windows.yml)
set_tests_properties(package.workflow PROPERTIES LABELS package TIMEOUT 60)
