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
#   wnfqueue_impl, TESSIX_QUEUE_NATIVES, TESSIX_QUEUE_CLASS  the queue (tessix-queue)
#   wfiletransport                                           the file transport (filetransport)

add_library(tessix_impl STATIC src/TessiX_impl.cpp)
target_include_directories(tessix_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tessix_impl PUBLIC tessix_table tokajni_log tokajni xfoundation mopra_enums toka::jni
                                         toka::hashkit PkgConfig::SNAPPY Poco::Foundation)

set(TESSIX_HAVE_QUEUE OFF)
if(TARGET wnfqueue_impl AND DEFINED TESSIX_QUEUE_NATIVES AND DEFINED TESSIX_QUEUE_CLASS)
  set(TESSIX_HAVE_QUEUE ON)
endif()

# The deliverable (cmake/jni.cmake): TessiX.jar, the JNI headers and libTessiX.so. The
# version script exports the natives and the file transport's classes; every other symbol
# (the static libraries and the standard library's template instantiations) stays local.
set(_tessix_classes com.olm.toka.jni.tessi.TessiJNI)
set(_tessix_natives src/my_com_olm_toka_jni_tessi_TessiJNI.cpp)
if(TESSIX_HAVE_QUEUE)
  list(APPEND _tessix_classes ${TESSIX_QUEUE_CLASS})
  list(APPEND _tessix_natives ${TESSIX_QUEUE_NATIVES})
endif()
set(_tessix_cxx_exports "")
if(TARGET wfiletransport)
  foreach(class WFileTransport WEOFException)
    list(APPEND _tessix_cxx_exports "${class}::*" "vtable for ${class}" "typeinfo for ${class}"
                                    "typeinfo name for ${class}")
  endforeach()
endif()
toka_jni_library(TessiX
  CLASSES ${_tessix_classes}
  NATIVES ${_tessix_natives}
  CXX_EXPORTS ${_tessix_cxx_exports})
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
