# Source lists are globbed so that a new file needs no CMake edit.
# Files named *_win.cpp build only for Windows, *_posix.cpp only elsewhere.
function(flvdmx_glob_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS "${dir}/*.cpp")
    list(APPEND result ${found})
  endforeach()
  if(WIN32)
    list(FILTER result EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER result EXCLUDE REGEX "_win\\.cpp$")
  endif()
  list(FILTER result EXCLUDE REGEX "_test\\.cpp$")
  # Fuzz entry points build only as fuzz targets and replay runners.
  list(FILTER result EXCLUDE REGEX "_fuzzer\\.cpp$")
  set(${out} ${result} PARENT_SCOPE)
endfunction()
