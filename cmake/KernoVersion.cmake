# The release version lives in one place, project(VERSION) in the top
# CMakeLists.txt; the packer prints it (--version) and every Windows
# executable carries it in a VERSIONINFO resource made here.
#
#   kerno_version_resource(TARGET DESCRIPTION)
#
# gives TARGET a resource file of its own (the target's output name plus
# .exe as OriginalFilename), separate from any other resource file the
# target compiles.
function(kerno_version_resource target description)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(KERNO_RC_NAME "${name}")
  set(KERNO_RC_FILE "${name}.exe")
  set(KERNO_RC_DESCRIPTION "${description}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/versioninfo.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
