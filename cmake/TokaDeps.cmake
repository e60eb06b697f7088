# Finds the Debian-installed dependencies and exposes each as an imported target.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(KYOTO REQUIRED IMPORTED_TARGET kyotocabinet)
pkg_check_modules(THRIFT REQUIRED IMPORTED_TARGET thrift)
pkg_check_modules(SNAPPY REQUIRED IMPORTED_TARGET snappy)
pkg_check_modules(LZF REQUIRED IMPORTED_TARGET liblzf)
find_package(Poco REQUIRED COMPONENTS Foundation Util)
find_package(Boost 1.74 REQUIRED)
find_package(ZLIB REQUIRED)
find_program(THRIFT_COMPILER thrift REQUIRED)

# libhashkit ships no pkg-config file.
find_path(HASHKIT_INCLUDE_DIR libhashkit-1.0/hashkit.h REQUIRED)
find_library(HASHKIT_LIBRARY hashkit REQUIRED)
add_library(toka::hashkit UNKNOWN IMPORTED)
set_target_properties(toka::hashkit PROPERTIES
  IMPORTED_LOCATION ${HASHKIT_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${HASHKIT_INCLUDE_DIR})

# JNI and the Java tools: pinned to the JDK 17 even when another JDK is present.
if(NOT DEFINED ENV{JAVA_HOME} OR NOT EXISTS "$ENV{JAVA_HOME}/bin/javac")
  set(ENV{JAVA_HOME} /usr/lib/jvm/java-17-openjdk-amd64)
endif()
set(JAVA_HOME $ENV{JAVA_HOME} CACHE PATH "JDK used for JNI headers and Java tests")
set(ENV{JAVA_HOME} ${JAVA_HOME})
set(Java_JAVAC_EXECUTABLE ${JAVA_HOME}/bin/javac CACHE FILEPATH "" FORCE)
set(Java_JAVA_EXECUTABLE ${JAVA_HOME}/bin/java CACHE FILEPATH "" FORCE)
set(Java_JAR_EXECUTABLE ${JAVA_HOME}/bin/jar CACHE FILEPATH "" FORCE)
find_package(Java 17 EXACT REQUIRED COMPONENTS Development Runtime)
find_package(JNI REQUIRED)
add_library(toka::jni INTERFACE IMPORTED)
set_target_properties(toka::jni PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${JNI_INCLUDE_DIRS}")

# PHP 8.2 development headers and CLI.
find_program(PHP_CONFIG NAMES php-config8.2 php-config REQUIRED)
find_program(PHP_EXECUTABLE NAMES php8.2 php REQUIRED)
execute_process(COMMAND ${PHP_CONFIG} --include-dir OUTPUT_VARIABLE PHP_INCLUDE_DIR
                OUTPUT_STRIP_TRAILING_WHITESPACE)
add_library(toka::php INTERFACE IMPORTED)
set_target_properties(toka::php PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
  "${PHP_INCLUDE_DIR};${PHP_INCLUDE_DIR}/main;${PHP_INCLUDE_DIR}/TSRM;${PHP_INCLUDE_DIR}/Zend;${PHP_INCLUDE_DIR}/ext")
