# quorvel_windows_resources(<target> DESCRIPTION <text>)
# Gives a Windows program or DLL its version resource (the project's version) and its manifest:
# programs the common controls 6, the UTF-8 code page, long paths, per-monitor DPI awareness and
# the supported systems; a DLL its identity and the supported systems. In a release build the
# binary is stripped after linking and its debug information kept beside it in <file>.debug,
# which the binary names (.gnu_debuglink) so that a debugger finds it. Does nothing elsewhere.
function(quorvel_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(QRES "" "DESCRIPTION" "" ${ARGN})
  enable_language(RC)
  get_target_property(type ${target} TYPE)
  get_target_property(QRES_NAME ${target} OUTPUT_NAME)
  if(NOT QRES_NAME)
    set(QRES_NAME ${target})
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    set(QRES_FILE "${QRES_NAME}.dll")
    set(QRES_FILETYPE VFT_DLL)
    set(QRES_MANIFEST_ID 2)
    set(manifest_template ${PROJECT_SOURCE_DIR}/cmake/windows/library.manifest.in)
  else()
    set(QRES_FILE "${QRES_NAME}.exe")
    set(QRES_FILETYPE VFT_APP)
    set(QRES_MANIFEST_ID 1)
    set(manifest_template ${PROJECT_SOURCE_DIR}/cmake/windows/program.manifest.in)
  endif()
  set(QRES_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${manifest_template} ${QRES_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/version.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc PROPERTIES
    OBJECT_DEPENDS ${QRES_MANIFEST})
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)

  if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND CMAKE_OBJCOPY AND CMAKE_STRIP)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
      COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
      COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
      COMMENT "Stripping ${QRES_FILE}, its debug information in ${QRES_FILE}.debug"
      VERBATIM)
  endif()
endfunction()
