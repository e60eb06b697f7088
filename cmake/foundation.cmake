# Subsystem 1: pooled memory and runtime support.
# Compiled into every deliverable that uses it; each deliverable gets its own copy
# of the process-wide allocator (hidden visibility, static linking).
add_library(xfoundation STATIC
  default_config.cpp
  src/xcheck.cpp
  src/xlock.cpp
  src/xlive.cpp
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
