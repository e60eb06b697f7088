# Subsystem 1: pooled memory and runtime support.
# Compiled into every deliverable that uses it; each deliverable gets its own copy
# of the process-wide allocator (hidden visibility, static linking).
add_library(xfoundation STATIC
  default_config.cpp
  src/xcheck.cpp
  src/xlock.cpp
  src/xlive.cpp
  src/xoutput.cpp
  src/xpage.cpp
  src/xpool.cpp
  src/xlabs.cpp
  src/xstring.cpp
  src/xds/xassoc.cpp
  src/xds/shobject.cpp
  logutil.cpp
  wexception.cpp)
target_include_directories(xfoundation PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(xfoundation PUBLIC Threads::Threads)

# MopraX's copy: the same sources, with the allocator's own lines on standard error
# (src/xoutput.h), since a PHP script's standard output is its response.
get_target_property(_xfoundation_src xfoundation SOURCES)
add_library(xfoundation_px STATIC ${_xfoundation_src})
target_compile_definitions(xfoundation_px PRIVATE XALLOC_LINES_TO_STDERR=1)
target_include_directories(xfoundation_px PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(xfoundation_px PUBLIC Threads::Threads)
