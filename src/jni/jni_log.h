// The log side of the JNI helper layer, for the bindings that report through log lines
// (SornX and TessiX): debug dumps of keys and values, and the error line of a failure report.
// Each binding's own helpers (sorn::dumpKey, tessi::jThrowException, ...) forward here.
//
// Prints through logutil (standard output, one line per call, no level filtering: callers
// test their module level first, except for the error line, which is printed at every level).
// Thread-safe; takes no lock of its own; allocates nothing.
#ifndef TOKA_SRC_JNI_JNI_LOG_H
#define TOKA_SRC_JNI_JNI_LOG_H

#include <jni.h>

namespace tjni {

// "[dbg] <place>: key[<len>]="<bytes>"" ("<null>" for a null buffer; a negative length
// prints no bytes). The same for values, and both in one line.
void dumpKey(const char* place, const char* key, int keyLen);
void dumpValue(const char* place, const char* value, int valueLen);
void dumpKeyValue(const char* place, const char* key, int keyLen, const char* value,
                  int valueLen);

// "[ERR] jThrowException: Exception <clsName> occurred: <message>", or the line saying that
// nothing could be reported when jenv or clsName is null. Nothing is thrown into Java.
void logThrow(JNIEnv* jenv, const char* clsName, const char* message);

}  // namespace tjni

#endif  // TOKA_SRC_JNI_JNI_LOG_H
