# SornX: opening a store from configuration, the storage binding and its Java natives.
#
#   wdbkc_open    wdb::OpenKCFromConfig over the uniform and contiguous stores
#   sornx_impl    sorn::SornGeneric, the sornx__ module functions and the binding helpers
#   sornx_java    SornX.jar (com.olm.toka.jni.sorn.SornJNI) and the JNI header javac
#                 generates from it, which the natives are compiled against
#   SornX         the deliverable libSornX.so: exports exactly the 21 Java_ natives

add_library(wdbkc_open STATIC src/wdb/kc/OpenKCFromConfig.cpp)
target_include_directories(wdbkc_open PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wdbkc_open PUBLIC wdbkc_uni wdbkc_cont wdbkc xfoundation mopra_enums
                                        Poco::Foundation Poco::Util PkgConfig::KYOTO)

add_library(sornx_impl STATIC src/SornX_impl.cpp)
target_include_directories(sornx_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(sornx_impl PUBLIC wdbkc_open tokajni_log tokajni xfoundation mopra_enums toka::jni
                                        Poco::Foundation Poco::Util)

# The Java class, its jar and the generated JNI header.
set(SORNX_JAVA_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/java/com/olm/toka/jni/sorn/SornJNI.java)
set(SORNX_CLASSES_DIR ${CMAKE_CURRENT_BINARY_DIR}/sornx-classes)
set(SORNX_JNI_HEADER_DIR ${CMAKE_CURRENT_BINARY_DIR}/gen/jni)
set(SORNX_JNI_HEADER ${SORNX_JNI_HEADER_DIR}/com_olm_toka_jni_sorn_SornJNI.h)
set(SORNX_JAR ${CMAKE_CURRENT_BINARY_DIR}/SornX.jar CACHE INTERNAL "SornX.jar")
add_custom_command(
  OUTPUT ${SORNX_JAR} ${SORNX_JNI_HEADER}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SORNX_CLASSES_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SORNX_CLASSES_DIR} ${SORNX_JNI_HEADER_DIR}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror --release 17 -d ${SORNX_CLASSES_DIR}
          -h ${SORNX_JNI_HEADER_DIR} ${SORNX_JAVA_SOURCES}
  COMMAND ${Java_JAR_EXECUTABLE} cf ${SORNX_JAR} -C ${SORNX_CLASSES_DIR} .
  DEPENDS ${SORNX_JAVA_SOURCES}
  COMMENT "javac -h + jar: SornX.jar"
  VERBATIM)
add_custom_target(sornx_java ALL DEPENDS ${SORNX_JAR} ${SORNX_JNI_HEADER})

# The deliverable. A version script keeps every symbol local but the natives (the static
# libraries and the template instantiations of the standard library included).
set(SORNX_VERSION_SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/sornx.map)
file(WRITE ${SORNX_VERSION_SCRIPT} "{\n  global: Java_com_olm_toka_jni_sorn_SornJNI_*;\n  local: *;\n};\n")
add_library(SornX SHARED src/my_com_olm_toka_jni_sorn_SornJNI.cpp ${SORNX_JNI_HEADER})
set_target_properties(SornX PROPERTIES OUTPUT_NAME SornX
                                       LINK_DEPENDS ${SORNX_VERSION_SCRIPT})
target_include_directories(SornX PRIVATE ${SORNX_JNI_HEADER_DIR})
target_link_libraries(SornX PRIVATE sornx_impl wdbkc_open wdbkc_uni wdbkc_cont wdbkc kcext
                                    tokajni_log tokajni xfoundation toka::jni)
target_link_options(SornX PRIVATE -Wl,--version-script=${SORNX_VERSION_SCRIPT} -Wl,--no-undefined)
add_dependencies(SornX sornx_java)
