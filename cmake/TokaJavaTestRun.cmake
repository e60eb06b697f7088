# Runs one Java test (cmake -P): the JVM with -Xcheck:jni, its standard output and error
# captured to files next to the test (the native side's output is block-buffered, so it is
# only complete once the JVM has exited). Fails when the JVM exits non-zero or when either
# stream holds a JNI check message: -Xcheck:jni only warns, and no warning is allowed.
# Variables: JAVA, LIBDIR, CLASSPATH, MAIN, OUT (file prefix), CHECKS (the JNI check
# messages), ARGS and JVMARGS (optional); the lists are |-separated.
string(REPLACE "|" ";" ARGS "${ARGS}")
string(REPLACE "|" ";" JVMARGS "${JVMARGS}")
string(REPLACE "|" ";" CHECKS "${CHECKS}")
if(NOT CHECKS)
  message(FATAL_ERROR "no JNI check messages given (CHECKS)")
endif()
execute_process(
  COMMAND ${JAVA} -Xcheck:jni -Djava.library.path=${LIBDIR} ${JVMARGS} -cp ${CLASSPATH} ${MAIN}
          ${ARGS}
  OUTPUT_FILE ${OUT}.stdout
  ERROR_FILE ${OUT}.stderr
  RESULT_VARIABLE rc)
file(READ ${OUT}.stdout out)
file(READ ${OUT}.stderr err)
message("---- stdout (${OUT}.stdout)\n${out}---- stderr (${OUT}.stderr)\n${err}----")
foreach(pattern ${CHECKS})
  string(FIND "${out}${err}" "${pattern}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "JNI check message in the output: ${pattern}")
  endif()
endforeach()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "java exited with ${rc}")
endif()
