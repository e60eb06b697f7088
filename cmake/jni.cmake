# The JNI helper layer shared by every Java binding (src/jni). Each deliverable links its
# own copy (static libraries, hidden visibility).
#   tokajni      handle casts, scoped string and array access, slice clamping, the catch-all
#                boundary; needs nothing but the JNI headers (MopraXJNI links it alone)
#   tokajni_log  the log side: key/value dumps, the error line of a failure report and
#                the module state (log level, information text)
#                (SornX and TessiX); needs the foundation's log printer
add_library(tokajni STATIC src/jni/jni_util.cpp)
target_include_directories(tokajni PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tokajni PUBLIC toka::jni)

add_library(tokajni_log STATIC src/jni/jni_log.cpp src/jni/jni_module.cpp)
target_link_libraries(tokajni_log PUBLIC tokajni xfoundation)

# toka_jni_library(<target> CLASSES <java class...> NATIVES <source...>
#                  [HEADER_DIR <dir>] [CXX_EXPORTS <C++ symbol pattern...>])
# One Java binding: <target>.jar of the declaring classes (java/<package path>.java), built
# by target <target lowercase>_java with the JNI headers `javac -h` generates from them, and
# the shared library lib<target>.so of the natives, compiled against those headers. A
# version script (<target lowercase>.map) keeps every symbol local but the classes' Java_
# natives and the CXX_EXPORTS patterns (demangled names). The caller links the library's
# dependencies.
# Sets <TARGET>_JAR (also cached, for the tests and demos), <TARGET>_JNI_HEADERS and
# <TARGET>_JNI_HEADER (the first class's header).
function(toka_jni_library target)
  cmake_parse_arguments(A "" "HEADER_DIR" "CLASSES;NATIVES;CXX_EXPORTS" ${ARGN})
  string(TOLOWER ${target} lower)
  string(TOUPPER ${target} upper)
  if(NOT A_HEADER_DIR)
    set(A_HEADER_DIR ${CMAKE_CURRENT_BINARY_DIR}/gen/jni)
  endif()
  set(classes_dir ${CMAKE_CURRENT_BINARY_DIR}/${lower}-classes)
  set(jar ${CMAKE_CURRENT_BINARY_DIR}/${target}.jar)
  set(sources "")
  set(headers "")
  set(globals "")
  foreach(class ${A_CLASSES})
    # JNI escapes '_' in class names; none of ours has one.
    if(class MATCHES "[_$]")
      message(FATAL_ERROR "toka_jni_library: class name ${class} needs JNI escapes")
    endif()
    string(REPLACE "." "/" path ${class})
    string(REPLACE "." "_" mangled ${class})
    list(APPEND sources ${PROJECT_SOURCE_DIR}/java/${path}.java)
    list(APPEND headers ${A_HEADER_DIR}/${mangled}.h)
    string(APPEND globals "    Java_${mangled}_*;\n")
  endforeach()
  if(A_CXX_EXPORTS)
    string(APPEND globals "    extern \"C++\" {\n")
    foreach(pattern ${A_CXX_EXPORTS})
      if(pattern MATCHES " ")
        set(pattern "\"${pattern}\"")
      endif()
      string(APPEND globals "      ${pattern};\n")
    endforeach()
    string(APPEND globals "    };\n")
  endif()

  add_custom_command(
    OUTPUT ${jar} ${headers}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${classes_dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${classes_dir} ${A_HEADER_DIR}
    COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror --release 17 -d ${classes_dir}
            -h ${A_HEADER_DIR} ${sources}
    COMMAND ${Java_JAR_EXECUTABLE} cf ${jar} -C ${classes_dir} .
    DEPENDS ${sources}
    COMMENT "javac -h + jar: ${target}.jar"
    VERBATIM)
  add_custom_target(${lower}_java ALL DEPENDS ${jar} ${headers})

  set(version_script ${CMAKE_CURRENT_BINARY_DIR}/${lower}.map)
  file(WRITE ${version_script} "{\n  global:\n${globals}  local: *;\n};\n")
  add_library(${target} SHARED ${A_NATIVES} ${headers})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${target} LINK_DEPENDS ${version_script})
  target_include_directories(${target} PRIVATE ${A_HEADER_DIR})
  target_link_options(${target} PRIVATE -Wl,--version-script=${version_script} -Wl,--no-undefined)
  add_dependencies(${target} ${lower}_java)

  set(${upper}_JAR ${jar} CACHE INTERNAL "${target}.jar")
  set(${upper}_JNI_HEADERS ${headers} PARENT_SCOPE)
  list(GET headers 0 first)
  set(${upper}_JNI_HEADER ${first} PARENT_SCOPE)
endfunction()
