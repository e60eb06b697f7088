# TessiX: the cache object, the module functions and the Java natives of libTessiX.so.
#
#   tessix_impl    tessi::TessiGeneric, Tessi_Value, the tessix__ module functions and the
#                  binding helpers (over the table templates of tessix_table)
#   tessix_java    TessiX.jar (com.olm.toka.jni.tessi.TessiJNI and, when the queue is built,
#                  com.olm.toka.jni.wnfqueue.WNfQueueJNI) and the JNI headers javac
#                  generates from them, which the natives are compiled against
#   TessiX         the deliverable libTessiX.so: exports exactly the Java_ natives of the
#                  classes in the jar (29, or 29 + 13 with the queue) and, when the file
#                  transport is built, the C++ symbols of WFileTransport and WEOFException
#
# Fragments included before this one may provide:
#   wnfqueue_impl, TESSIX_QUEUE_NATIVES, TESSIX_QUEUE_JAVA   the queue (tessix-queue)
#   wfiletransport                                           the file transport (filetransport)

add_library(tessix_impl STATIC src/TessiX_impl.cpp)
target_include_directories(tessix_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tessix_impl PUBLIC tessix_table tokajni_log tokajni xfoundation mopra_enums toka::jni
                                         toka::hashkit PkgConfig::SNAPPY Poco::Foundation)

set(TESSIX_HAVE_QUEUE OFF)
if(TARGET wnfqueue_impl AND DEFINED TESSIX_QUEUE_NATIVES AND DEFINED TESSIX_QUEUE_JAVA)
  set(TESSIX_HAVE_QUEUE ON)
endif()

# The Java classes, their jar and the generated JNI headers.
set(TESSIX_JAVA_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/java/com/olm/toka/jni/tessi/TessiJNI.java)
set(TESSIX_CLASSES_DIR ${CMAKE_CURRENT_BINARY_DIR}/tessix-classes)
set(TESSIX_JNI_HEADER_DIR ${CMAKE_CURRENT_BINARY_DIR}/gen/jni)
set(TESSIX_JNI_HEADER ${TESSIX_JNI_HEADER_DIR}/com_olm_toka_jni_tessi_TessiJNI.h)
set(TESSIX_JNI_HEADERS ${TESSIX_JNI_HEADER})
set(TESSIX_QUEUE_JNI_HEADER "")
if(TESSIX_HAVE_QUEUE)
  list(APPEND TESSIX_JAVA_SOURCES ${TESSIX_QUEUE_JAVA})
  set(TESSIX_QUEUE_JNI_HEADER ${TESSIX_JNI_HEADER_DIR}/com_olm_toka_jni_wnfqueue_WNfQueueJNI.h)
  list(APPEND TESSIX_JNI_HEADERS ${TESSIX_QUEUE_JNI_HEADER})
endif()
set(TESSIX_JAR ${CMAKE_CURRENT_BINARY_DIR}/TessiX.jar CACHE INTERNAL "TessiX.jar")
add_custom_command(
  OUTPUT ${TESSIX_JAR} ${TESSIX_JNI_HEADERS}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TESSIX_CLASSES_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSIX_CLASSES_DIR} ${TESSIX_JNI_HEADER_DIR}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror --release 17 -d ${TESSIX_CLASSES_DIR}
          -h ${TESSIX_JNI_HEADER_DIR} ${TESSIX_JAVA_SOURCES}
  COMMAND ${Java_JAR_EXECUTABLE} cf ${TESSIX_JAR} -C ${TESSIX_CLASSES_DIR} .
  DEPENDS ${TESSIX_JAVA_SOURCES}
  COMMENT "javac -h + jar: TessiX.jar"
  VERBATIM)
add_custom_target(tessix_java ALL DEPENDS ${TESSIX_JAR} ${TESSIX_JNI_HEADERS})

# The deliverable. A version script keeps every symbol local but the natives and the file
# transport's classes (the static libraries and the standard library's template
# instantiations included).
set(TESSIX_VERSION_SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/tessix.map)
set(_tessix_globals "    Java_com_olm_toka_jni_tessi_TessiJNI_*;\n")
if(TESSIX_HAVE_QUEUE)
  string(APPEND _tessix_globals "    Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_*;\n")
endif()
if(TARGET wfiletransport)
  string(APPEND _tessix_globals
    "    extern \"C++\" {\n"
    "      WFileTransport::*;\n"
    "      WEOFException::*;\n"
    "      \"vtable for WFileTransport\";\n"
    "      \"vtable for WEOFException\";\n"
    "      \"typeinfo for WFileTransport\";\n"
    "      \"typeinfo for WEOFException\";\n"
    "      \"typeinfo name for WFileTransport\";\n"
    "      \"typeinfo name for WEOFException\";\n"
    "    };\n")
endif()
file(WRITE ${TESSIX_VERSION_SCRIPT} "{\n  global:\n${_tessix_globals}  local: *;\n};\n")

set(_tessix_natives src/my_com_olm_toka_jni_tessi_TessiJNI.cpp)
if(TESSIX_HAVE_QUEUE)
  list(APPEND _tessix_natives ${TESSIX_QUEUE_NATIVES})
endif()
add_library(TessiX SHARED ${_tessix_natives} ${TESSIX_JNI_HEADERS})
set_target_properties(TessiX PROPERTIES OUTPUT_NAME TessiX
                                        LINK_DEPENDS ${TESSIX_VERSION_SCRIPT})
target_include_directories(TessiX PRIVATE ${TESSIX_JNI_HEADER_DIR})
if(TESSIX_HAVE_QUEUE)
  target_link_libraries(TessiX PRIVATE wnfqueue_impl)
endif()
if(TARGET wfiletransport)
  # The class is part of the library's interface: all of it goes in, whether or not the
  # natives use it, with default visibility so that the version script can export it.
  set_target_properties(wfiletransport PROPERTIES CXX_VISIBILITY_PRESET default
                                                  VISIBILITY_INLINES_HIDDEN OFF)
  target_link_libraries(TessiX PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,wfiletransport>")
endif()
target_link_libraries(TessiX PRIVATE tessix_impl tokajni_log tokajni xfoundation toka::jni)
target_link_options(TessiX PRIVATE -Wl,--version-script=${TESSIX_VERSION_SCRIPT} -Wl,--no-undefined)
add_dependencies(TessiX tessix_java)
