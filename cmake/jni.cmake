# The JNI helper layer shared by every Java binding (src/jni). Each deliverable links its
# own copy (static libraries, hidden visibility).
#   tokajni      handle casts, scoped string and array access, slice clamping, the catch-all
#                boundary; needs nothing but the JNI headers (MopraXJNI links it alone)
#   tokajni_log  the log side: key/value dumps and the error line of a failure report
#                (SornX and TessiX); needs the foundation's log printer
add_library(tokajni STATIC src/jni/jni_util.cpp)
target_include_directories(tokajni PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tokajni PUBLIC toka::jni)

add_library(tokajni_log STATIC src/jni/jni_log.cpp)
target_link_libraries(tokajni_log PUBLIC tokajni xfoundation)
