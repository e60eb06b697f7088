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
# Every binary links the shared C++ test support (tests/support).
function(toka_add_gtest name)
  cmake_parse_arguments(A "STRESS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} toka_test_support GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  set(labels cpp)
  if(A_STRESS)
    set(labels stress)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${labels}
    DISCOVERY_TIMEOUT 60)
endfunction()

# The messages of -Xcheck:jni that fail a Java test wherever they appear: in the test JVM's
# output (cmake/TokaJavaTestRun.cmake) and in a child JVM's (tests/jsupport, through the
# system property toka.jni.checks, comma-separated).
set(TOKA_JNI_CHECK_MESSAGES "WARNING in native method" "FATAL ERROR in native method"
    "JNI WARNING" "JNI local refs")
string(REPLACE ";" "|" TOKA_JNI_CHECKS "${TOKA_JNI_CHECK_MESSAGES}")
string(REPLACE ";" "," TOKA_JNI_CHECKS_PROPERTY "${TOKA_JNI_CHECK_MESSAGES}")

# JUnit 5 (Debian's junit5): the API jars the test classes compile against, and the console
# launcher, which brings the engines and runs them.
set(_junit_jars "")
foreach(jar junit-jupiter-api junit-jupiter-params junit-platform-commons opentest4j
            apiguardian-api junit-platform-console-standalone)
  string(TOUPPER ${jar} var)
  string(REPLACE "-" "_" var ${var})
  find_file(TOKA_${var}_JAR ${jar}.jar PATHS /usr/share/java NO_DEFAULT_PATH REQUIRED)
  list(APPEND _junit_jars ${TOKA_${var}_JAR})
endforeach()
list(REMOVE_ITEM _junit_jars ${TOKA_JUNIT_PLATFORM_CONSOLE_STANDALONE_JAR})
set(TOKA_JUNIT_API_JARS ${_junit_jars})

# The shared Java test support (tests/jsupport: child JVMs and the checks on their output),
# compiled once against the JUnit API.
set(TOKA_JSUPPORT_CLASSES ${PROJECT_BINARY_DIR}/tests/jsupport-classes)
file(GLOB _jsupport_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/jsupport/*.java)
string(REPLACE ";" ":" _junit_cp "${TOKA_JUNIT_API_JARS}")
add_custom_command(OUTPUT ${TOKA_JSUPPORT_CLASSES}/.stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TOKA_JSUPPORT_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TOKA_JSUPPORT_CLASSES}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror --release 17 -d ${TOKA_JSUPPORT_CLASSES}
          -cp ${_junit_cp} ${_jsupport_sources}
  COMMAND ${CMAKE_COMMAND} -E touch ${TOKA_JSUPPORT_CLASSES}/.stamp
  DEPENDS ${_jsupport_sources} VERBATIM)
add_custom_target(toka_jsupport ALL DEPENDS ${TOKA_JSUPPORT_CLASSES}/.stamp)

# Registers the CTest test <name>: <main> with <args> on the real JVM
# (cmake/TokaJavaTestRun.cmake) with -Xcheck:jni, <jvmargs>, the native library's directory
# on java.library.path and the JNI check messages in toka.jni.checks.
function(_toka_java_run name libdir classpath main args jvmargs)
  string(REPLACE ";" "|" args "${args}")
  string(REPLACE ";" "|" jvmargs "-Dtoka.jni.checks=${TOKA_JNI_CHECKS_PROPERTY};${jvmargs}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND}
            -DJAVA=${Java_JAVA_EXECUTABLE}
            -DLIBDIR=${libdir}
            "-DCLASSPATH=${classpath}"
            -DMAIN=${main}
            "-DARGS=${args}"
            "-DJVMARGS=${jvmargs}"
            "-DCHECKS=${TOKA_JNI_CHECKS}"
            -DOUT=${CMAKE_CURRENT_BINARY_DIR}/${name}
            -P ${PROJECT_SOURCE_DIR}/cmake/TokaJavaTestRun.cmake)
  set_tests_properties(${name} PROPERTIES LABELS java TIMEOUT 300)
endfunction()

# Compiles Java sources into <build dir>/<name>-classes (target <name>_classes), again when
# a source, a jar of the class path or a file of <depends> changes.
function(_toka_javac name sources classpath depends)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}-classes)
  string(REPLACE ";" ":" cp "${classpath}")
  add_custom_command(OUTPUT ${out}/.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -d ${out} -cp "${cp}" ${sources}
    COMMAND ${CMAKE_COMMAND} -E touch ${out}/.stamp
    DEPENDS ${sources} ${depends} VERBATIM)
  add_custom_target(${name}_classes ALL DEPENDS ${out}/.stamp)
endfunction()

# toka_add_java_test(<name> NATIVE <target> MAIN <class> SOURCES <java...> [CLASSPATH <jar...>]
#                    [ARGS <arg...>])
# Compiles the Java sources and runs <class>'s main. The test passes when the JVM exits 0
# and its output holds no JNI check message; stdout and stderr are kept in
# <build dir>/<name>.stdout and .stderr. The test's own main may start child JVMs
# (java.home, same flags) to check the native side's output after they exit.
function(toka_add_java_test name)
  cmake_parse_arguments(A "" "NATIVE;MAIN" "SOURCES;CLASSPATH;ARGS" ${ARGN})
  _toka_javac(${name} "${A_SOURCES}" "${A_CLASSPATH}" "${A_CLASSPATH}")
  string(REPLACE ";" ":" cp "${A_CLASSPATH}")
  _toka_java_run(${name} $<TARGET_FILE_DIR:${A_NATIVE}>
                 "${CMAKE_CURRENT_BINARY_DIR}/${name}-classes:${cp}"
                 ${A_MAIN} "${A_ARGS}" "")
endfunction()

# toka_add_junit_test(<name> [NATIVE <target>] SOURCES <java...> [CLASSPATH <jar...>]
#                     [JVM_ARGS <-Dkey=value...>] [DEPENDS <target...>])
# Compiles the JUnit 5 test classes in SOURCES against CLASSPATH (the library's jar), the
# JUnit API and tests/jsupport, and runs every test class among them (any class name) with
# the console launcher (--fail-if-no-tests, a tree of the cases). Passes when every case
# passes and no output holds a JNI check message; a failure names its case and message in
# <build dir>/<name>.stdout. NATIVE: the library whose directory is java.library.path.
# DEPENDS: what must be built before the classes (the binding's jar, test libraries).
function(toka_add_junit_test name)
  cmake_parse_arguments(A "" "NATIVE" "SOURCES;CLASSPATH;JVM_ARGS;DEPENDS" ${ARGN})
  set(classes ${CMAKE_CURRENT_BINARY_DIR}/${name}-classes)
  set(compile_cp ${A_CLASSPATH} ${TOKA_JUNIT_API_JARS} ${TOKA_JSUPPORT_CLASSES})
  _toka_javac(${name} "${A_SOURCES}" "${compile_cp}"
              "${A_CLASSPATH};${TOKA_JSUPPORT_CLASSES}/.stamp")
  add_dependencies(${name}_classes toka_jsupport ${A_NATIVE} ${A_DEPENDS})
  set(run_cp ${classes} ${TOKA_JSUPPORT_CLASSES} ${A_CLASSPATH}
      ${TOKA_JUNIT_PLATFORM_CONSOLE_STANDALONE_JAR})
  string(REPLACE ";" ":" run_cp "${run_cp}")
  set(libdir "")
  if(A_NATIVE)
    set(libdir $<TARGET_FILE_DIR:${A_NATIVE}>)
  endif()
  set(launcher_args --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests
      --include-classname=.* --scan-classpath ${classes})
  _toka_java_run(${name} "${libdir}" "${run_cp}" org.junit.platform.console.ConsoleLauncher
                 "${launcher_args}" "${A_JVM_ARGS}")
endfunction()
