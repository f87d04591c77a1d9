# vz_windows_program(TARGET OUTPUT file.exe SOURCES a.cpp b.h ... [LIBS user32 ...])
# Builds a small Windows program with the mingw-w64 cross compiler, for the
# parts that must run inside Wine. The rest of the project stays a native
# build: this is one custom command per program, statically linked so that
# the .exe needs no DLL beside it.
include_guard(GLOBAL)

find_program(VZ_MINGW_CXX x86_64-w64-mingw32-g++ DOC "mingw-w64 C++ compiler for the Windows helpers")
if(NOT VZ_MINGW_CXX)
  message(FATAL_ERROR "x86_64-w64-mingw32-g++ was not found; scripts/setup.sh installs g++-mingw-w64-x86-64")
endif()

function(vz_windows_program target)
  cmake_parse_arguments(W "" "OUTPUT" "SOURCES;LIBS" ${ARGN})
  set(_compile)
  set(_depends)
  foreach(_s ${W_SOURCES})
    get_filename_component(_abs ${_s} ABSOLUTE)
    list(APPEND _depends ${_abs})
    if(_abs MATCHES "\\.cpp$")
      list(APPEND _compile ${_abs})
    endif()
  endforeach()
  list(TRANSFORM W_LIBS PREPEND "-l")
  add_custom_command(OUTPUT ${W_OUTPUT}
    COMMAND ${VZ_MINGW_CXX} -std=c++17 -municode -O2 -Wall -Wextra -static -s
            -o ${W_OUTPUT} ${_compile} ${W_LIBS}
    DEPENDS ${_depends}
    COMMENT "Building the Windows program ${W_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${W_OUTPUT})
endfunction()
