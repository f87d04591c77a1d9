# vz_library(NAME) creates the static library of one subsystem folder from
# every .cpp in it, with the project's warnings.
function(vz_warnings target)
  # -Wshadow=local is GCC's; clang's nearest is -Wshadow-uncaptured-local.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(_shadow -Wshadow=local)
  else()
    set(_shadow -Wshadow-uncaptured-local)
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic ${_shadow}
                         -Wnon-virtual-dtor -Wcast-qual -Wformat=2)
endfunction()

function(vz_library name)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT _sources)
    # A folder whose code has not been written yet still yields a library.
    set(_stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${_stub} "// empty\n")
    set(_sources ${_stub})
  endif()
  add_library(${name} STATIC ${_sources} ${_headers})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  vz_warnings(${name})
endfunction()

# vz_test(NAME SOURCES a.cpp b.cpp LIBS lib... [LABELS gui ...] [TIMEOUT s])
# One GoogleTest executable, registered with ctest as one test.
# Tests labelled "gui" need Qt Widgets (run offscreen) and are left out of the
# sanitizer run; "xvfb" tests need a real X server.
# Every test runs through tests/support/run-isolated.sh: a home, XDG folders
# and TMPDIR of its own, removed afterwards, so no test reaches the real home.
function(vz_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  vz_warnings(${name})
  # A test that needs its own main (a QApplication) defines it; gtest_main fills in otherwise.
  target_link_libraries(${name} PRIVATE ${T_LIBS} vz_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND /bin/sh ${PROJECT_SOURCE_DIR}/tests/support/run-isolated.sh $<TARGET_FILE:${name}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VZ_SOURCE_DIR=${PROJECT_SOURCE_DIR};VZ_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
