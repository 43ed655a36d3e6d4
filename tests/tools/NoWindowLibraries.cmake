# Fails when one of PROGRAMS (comma-separated paths) loads a window library: any Qt library but Qt Core,
# libjpeg, X11 and xcb, EGL and OpenGL, fonts, D-Bus. ldd lists what the loader brings in, libraries' own
# libraries too.
#   cmake -DPROGRAMS=a,b -P NoWindowLibraries.cmake
string(REPLACE "," ";" programs "${PROGRAMS}")
set(window_libraries "libQt6[A-Za-z]*|libjpeg|libX[A-Za-z0-9]*|libxcb|libxkbcommon|libEGL|libGL|libOpenGL"
                     "|libfontconfig|libfreetype|libdbus")
string(JOIN "" window_libraries ${window_libraries})
set(offending "")
foreach(program IN LISTS programs)
  execute_process(COMMAND ldd ${program} OUTPUT_VARIABLE loaded RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "ldd ${program} failed (${status})")
  endif()
  string(REGEX MATCHALL "(${window_libraries})[^ \t\n]*" found "${loaded}")
  list(FILTER found EXCLUDE REGEX "^libQt6Core\\.")
  list(REMOVE_DUPLICATES found)
  if(found)
    list(JOIN found " " found)
    string(APPEND offending "\n  ${program}: ${found}")
  endif()
endforeach()
if(offending)
  message(FATAL_ERROR "window libraries loaded by programs that need none:${offending}")
endif()
message(STATUS "no window library in: ${PROGRAMS}")
