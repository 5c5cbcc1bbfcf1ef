# Where the tests find the source and build trees. Under Wine the host's root is drive Z:.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(QUORVEL_TEST_SOURCE_DIR "Z:${PROJECT_SOURCE_DIR}")
  set(QUORVEL_TEST_BINARY_DIR "Z:${CMAKE_BINARY_DIR}")
else()
  set(QUORVEL_TEST_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
  set(QUORVEL_TEST_BINARY_DIR "${CMAKE_BINARY_DIR}")
endif()

# quorvel_add_gtest(<name> SOURCES <files...> LIBS <targets...> [TEST_PREFIX <prefix>])
# Builds one GoogleTest executable under <build>/tests and registers its tests with CTest,
# their names led by TEST_PREFIX where one is given (so that `ctest -R` can pick a group).
function(quorvel_add_gtest name)
  cmake_parse_arguments(ARG "" "TEST_PREFIX" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(WIN32)
    # Under Wine every process start costs a second or so: one CTest test per program.
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS};windows")
    return()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "${ARG_TEST_PREFIX}"
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    # A demo simulator running in the default device directory must not show up in tests.
    PROPERTIES LABELS "${ARG_LABELS}"
      ENVIRONMENT "VEXIL_DEVICE_DIR=${CMAKE_BINARY_DIR}/tests/no-vexil-devices")
endfunction()

# quorvel_add_test_folder(<prefix> LIBS <targets...> [WINDOWS <test names...>]
#                         [WINDOWS_SUPPORT <support file names...>])
# Every *_test.cpp of the calling folder becomes its own test executable, linked with the
# folder's support/*.cpp (fakes, fixtures) and the given libraries. The Windows build takes
# only the tests and support files named after WINDOWS and WINDOWS_SUPPORT (the rest need
# POSIX or the in-process devices, which that build does not have). Files named *_win32.cpp
# or *_win32_test.cpp are built for Windows only.
function(quorvel_add_test_folder prefix)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS;WINDOWS;WINDOWS_SUPPORT" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB support_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  if(NOT WIN32)
    list(FILTER test_sources EXCLUDE REGEX "_win32_test\\.cpp$")
    list(FILTER support_sources EXCLUDE REGEX "_win32\\.cpp$")
  else()
    list(JOIN ARG_WINDOWS "|" windows_tests)
    list(JOIN ARG_WINDOWS_SUPPORT "|" windows_support)
    list(FILTER test_sources INCLUDE REGEX "/(${windows_tests})\\.cpp$")
    list(FILTER support_sources INCLUDE REGEX "/(${windows_support})\\.cpp$")
    if(NOT ARG_WINDOWS)
      set(test_sources)
    endif()
    if(NOT ARG_WINDOWS_SUPPORT)
      set(support_sources)
    endif()
  endif()
  set(support_lib)
  if(support_sources)
    add_library(${prefix}_test_support STATIC ${support_sources})
    target_include_directories(${prefix}_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${prefix}_test_support PUBLIC ${ARG_LIBS} GTest::gtest GTest::gmock)
    target_compile_definitions(${prefix}_test_support PRIVATE
      QUORVEL_SOURCE_DIR="${QUORVEL_TEST_SOURCE_DIR}" QUORVEL_BINARY_DIR="${QUORVEL_TEST_BINARY_DIR}")
    set(support_lib ${prefix}_test_support)
  endif()
  foreach(src ${test_sources})
    get_filename_component(name ${src} NAME_WE)
    quorvel_add_gtest(${prefix}_${name} SOURCES ${src} LIBS ${support_lib} ${ARG_LIBS}
      LABELS "${prefix};${ARG_LABELS}")
    target_include_directories(${prefix}_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(${prefix}_${name} PRIVATE
      QUORVEL_SOURCE_DIR="${QUORVEL_TEST_SOURCE_DIR}" QUORVEL_BINARY_DIR="${QUORVEL_TEST_BINARY_DIR}")
  endforeach()
endfunction()
