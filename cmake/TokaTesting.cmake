# Test registration helpers. Every test, whatever its language, is a CTest test,
# so one `ctest` run covers all of them. Labels:
#   cpp    GoogleTest binaries (rerun under AddressSanitizer + UBSan in CI)
#   stress GoogleTest concurrency stress tests (rerun under AddressSanitizer + UBSan
#          and under ThreadSanitizer in CI)
# A test carries one label only: gtest_discover_tests cannot pass a list.
#   java   real JVM runs with -Xcheck:jni
#   php    the php CLI loading the built extension
find_package(GTest REQUIRED)
include(GoogleTest)

# toka_add_gtest(<name> SOURCES <src...> LIBS <lib...> [STRESS])
function(toka_add_gtest name)
  cmake_parse_arguments(A "STRESS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  set(labels cpp)
  if(A_STRESS)
    set(labels stress)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${labels}
    DISCOVERY_TIMEOUT 60)
endfunction()

# toka_add_java_test(<name> NATIVE <target> MAIN <class> SOURCES <java...> [CLASSPATH <jar...>]
#                    [ARGS <arg...>])
# Compiles the Java sources and runs <class> on the real JVM with -Xcheck:jni and the
# native library's directory on java.library.path (cmake/TokaJavaTestRun.cmake). The test
# passes when the JVM exits 0 and its output holds no JNI check message; stdout and stderr
# are kept in <build dir>/<name>.stdout and .stderr. The test's own main may start child
# JVMs (java.home, same flags) to check the native side's output after they exit.
function(toka_add_java_test name)
  cmake_parse_arguments(A "" "NATIVE;MAIN" "SOURCES;CLASSPATH;ARGS" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}-classes)
  string(REPLACE ";" ":" cp "${A_CLASSPATH}")
  add_custom_command(OUTPUT ${out}/.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -d ${out} -cp "${cp}" ${A_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E touch ${out}/.stamp
    DEPENDS ${A_SOURCES} ${A_CLASSPATH} VERBATIM)
  add_custom_target(${name}_classes ALL DEPENDS ${out}/.stamp)
  string(REPLACE ";" "|" args "${A_ARGS}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND}
            -DJAVA=${Java_JAVA_EXECUTABLE}
            -DLIBDIR=$<TARGET_FILE_DIR:${A_NATIVE}>
            "-DCLASSPATH=${out}:${cp}"
            -DMAIN=${A_MAIN}
            "-DARGS=${args}"
            -DOUT=${CMAKE_CURRENT_BINARY_DIR}/${name}
            -P ${PROJECT_SOURCE_DIR}/cmake/TokaJavaTestRun.cmake)
  set_tests_properties(${name} PROPERTIES LABELS java TIMEOUT 300)
endfunction()

# toka_add_php_test(<name> EXTENSION <target> SCRIPT <file.php> [ARGS <arg...>])
# Runs the php CLI with only the built extension loaded; passes when php exits 0.
function(toka_add_php_test name)
  cmake_parse_arguments(A "" "EXTENSION;SCRIPT" "ARGS" ${ARGN})
  add_test(NAME ${name}
    COMMAND ${PHP_EXECUTABLE} -n -d extension=$<TARGET_FILE:${A_EXTENSION}> ${A_SCRIPT} ${A_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS php TIMEOUT 300)
endfunction()
