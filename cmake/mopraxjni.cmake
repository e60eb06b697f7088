# MopraXJNI: the Java binding of the shared types.
#
#   mopraxjni_java  MopraXJNI.jar (com.olm.toka.jni.moprax.MopraXJNI) and the JNI header
#                   javac generates from it, which the natives are compiled against
#   mopraxjni_conv  the binding's conventions (java/MopraX_jconv) and its exception thrower
#                   and mapping (java/MopraX_jthrow), over the JNI helper layer
#   MopraXJNI       the deliverable libMopraXJNI.so: the native table java/MopraX_wrapwrap
#                   over MopraXJNI's own build of the holders and mopra functions
#                   (mopra_holders_jni: standard allocator, no pooled memory); exports
#                   exactly the 126 Java_ natives

set(MOPRAXJNI_JAVA_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/java/com/olm/toka/jni/moprax/MopraXJNI.java)
set(MOPRAXJNI_CLASSES_DIR ${CMAKE_CURRENT_BINARY_DIR}/mopraxjni-classes)
set(MOPRAXJNI_JNI_HEADER_DIR ${CMAKE_CURRENT_BINARY_DIR}/gen/jni-moprax)
set(MOPRAXJNI_JNI_HEADER ${MOPRAXJNI_JNI_HEADER_DIR}/com_olm_toka_jni_moprax_MopraXJNI.h)
set(MOPRAXJNI_JAR ${CMAKE_CURRENT_BINARY_DIR}/MopraXJNI.jar CACHE INTERNAL "MopraXJNI.jar")
add_custom_command(
  OUTPUT ${MOPRAXJNI_JAR} ${MOPRAXJNI_JNI_HEADER}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${MOPRAXJNI_CLASSES_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MOPRAXJNI_CLASSES_DIR} ${MOPRAXJNI_JNI_HEADER_DIR}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror --release 17 -d ${MOPRAXJNI_CLASSES_DIR}
          -h ${MOPRAXJNI_JNI_HEADER_DIR} ${MOPRAXJNI_JAVA_SOURCES}
  COMMAND ${Java_JAR_EXECUTABLE} cf ${MOPRAXJNI_JAR} -C ${MOPRAXJNI_CLASSES_DIR} .
  DEPENDS ${MOPRAXJNI_JAVA_SOURCES}
  COMMENT "javac -h + jar: MopraXJNI.jar"
  VERBATIM)
add_custom_target(mopraxjni_java ALL DEPENDS ${MOPRAXJNI_JAR} ${MOPRAXJNI_JNI_HEADER})

add_library(mopraxjni_conv STATIC java/MopraX_jconv.cpp java/MopraX_jthrow.cpp)
target_include_directories(mopraxjni_conv PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mopraxjni_conv PUBLIC tokajni toka::jni)

# The deliverable. A version script keeps every symbol local but the natives (the static
# libraries, Thrift's and the standard library's template instantiations included).
set(MOPRAXJNI_VERSION_SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/mopraxjni.map)
file(WRITE ${MOPRAXJNI_VERSION_SCRIPT}
     "{\n  global: Java_com_olm_toka_jni_moprax_MopraXJNI_*;\n  local: *;\n};\n")
add_library(MopraXJNI SHARED java/MopraX_wrapwrap.cpp ${MOPRAXJNI_JNI_HEADER})
set_target_properties(MopraXJNI PROPERTIES OUTPUT_NAME MopraXJNI
                                           LINK_DEPENDS ${MOPRAXJNI_VERSION_SCRIPT})
target_include_directories(MopraXJNI PRIVATE ${MOPRAXJNI_JNI_HEADER_DIR})
target_link_libraries(MopraXJNI PRIVATE mopraxjni_conv mopra_holders_jni tokajni toka::jni)
target_link_options(MopraXJNI PRIVATE -Wl,--version-script=${MOPRAXJNI_VERSION_SCRIPT} -Wl,--no-undefined)
add_dependencies(MopraXJNI mopraxjni_java)
