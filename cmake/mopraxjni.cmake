# MopraXJNI: the Java binding of the shared types.
#
#   mopraxjni_java  MopraXJNI.jar (com.olm.toka.jni.moprax.MopraXJNI) and the JNI header
#                   javac generates from it, which the natives are compiled against
#   mopraxjni_conv  the binding's conventions (java/MopraX_jconv) and its exception thrower
#                   and mapping (java/MopraX_jthrow), over the JNI helper layer and the
#                   holders' buffer rules of MopraXJNI's build
#   MopraXJNI       the deliverable libMopraXJNI.so: the native table java/MopraX_wrapwrap
#                   over MopraXJNI's own build of the holders and mopra functions
#                   (mopra_holders_jni: standard allocator, no pooled memory); exports
#                   exactly the 126 Java_ natives

add_library(mopraxjni_conv STATIC java/MopraX_jconv.cpp java/MopraX_jthrow.cpp)
target_include_directories(mopraxjni_conv PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mopraxjni_conv PUBLIC tokajni mopra_holders_jni)

# The deliverable (cmake/jni.cmake): MopraXJNI.jar, the JNI header and libMopraXJNI.so.
toka_jni_library(MopraXJNI
  CLASSES com.olm.toka.jni.moprax.MopraXJNI
  NATIVES java/MopraX_wrapwrap.cpp
  HEADER_DIR ${CMAKE_CURRENT_BINARY_DIR}/gen/jni-moprax)
target_link_libraries(MopraXJNI PRIVATE mopraxjni_conv mopra_holders_jni)
