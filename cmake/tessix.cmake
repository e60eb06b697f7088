# TessiX: the cache object, the module functions and the Java natives of libTessiX.so.
#
#   tessix_impl    tessi::TessiGeneric, Tessi_Value, the tessix__ module functions and the
#                  binding helpers (over the table templates of tessix_table)
#   tessix_java    TessiX.jar (com.olm.toka.jni.tessi.TessiJNI and
#                  com.olm.toka.jni.wnfqueue.WNfQueueJNI) and the JNI headers javac
#                  generates from them, which the natives are compiled against
#   TessiX         the deliverable libTessiX.so: exports exactly the Java_ natives of the
#                  classes in the jar (29 + 13) and the C++ symbols of WFileTransport and
#                  WEOFException
#
# Uses the queue facade wnfqueue_impl (cmake/tessix-queue.cmake) and the file transport
# wfiletransport (cmake/filetransport.cmake), both included before this fragment.

add_library(tessix_impl STATIC src/TessiX_impl.cpp)
target_include_directories(tessix_impl PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tessix_impl PUBLIC tessix_table tokajni_log PkgConfig::SNAPPY)

# The deliverable (cmake/jni.cmake): TessiX.jar, the JNI headers and libTessiX.so. The
# version script exports the natives and the file transport's classes; every other symbol
# (the static libraries and the standard library's template instantiations) stays local.
set(_tessix_cxx_exports "")
foreach(class WFileTransport WEOFException)
  list(APPEND _tessix_cxx_exports "${class}::*" "vtable for ${class}" "typeinfo for ${class}"
                                  "typeinfo name for ${class}")
endforeach()
toka_jni_library(TessiX
  CLASSES com.olm.toka.jni.tessi.TessiJNI com.olm.toka.jni.wnfqueue.WNfQueueJNI
  NATIVES src/my_com_olm_toka_jni_tessi_TessiJNI.cpp
          src/my_com_olm_toka_jni_wnfqueue_WNfQueueJNI.cpp
  CXX_EXPORTS ${_tessix_cxx_exports})
# The class is part of the library's interface: all of it goes in, whether or not the
# natives use it, with default visibility so that the version script can export it.
set_target_properties(wfiletransport PROPERTIES CXX_VISIBILITY_PRESET default
                                                VISIBILITY_INLINES_HIDDEN OFF)
target_link_libraries(TessiX PRIVATE wnfqueue_impl "$<LINK_LIBRARY:WHOLE_ARCHIVE,wfiletransport>"
                                     tessix_impl)
