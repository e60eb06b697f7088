package com.olm.toka.jni.sorn;

/**
 * Java face of the SornX key-value store: the native methods of libSornX.so.
 *
 * Loading: the class loads the native library "SornX" itself, once, in its static
 * initialiser (System.loadLibrary, so the library's directory must be on
 * java.library.path). Callers need not load it first.
 *
 * A store is a native object named by a handle (a long): new_SornGeneric creates it,
 * delete_SornGeneric destroys it (0 is ignored), and the caller owns it in between.
 * A zero handle is reported on the native side and answered with 0, false or null; a
 * handle must not be used after delete_SornGeneric, nor closed or deleted while another
 * call on it runs. Keys and string values cross as modified UTF-8 bytes, values come
 * back as fresh arrays or strings (getAsString and popAsString end at the value's first
 * zero byte). Failures never raise Java exceptions: they are answered with 0, false or
 * null and reported on the native side's standard output; only the VM's own errors (an
 * OutOfMemoryError while a result is made) reach the caller, and a pop that fails so
 * leaves its record in the store.
 *
 * Put policies: 1 add, 2 update, 3 add or update; any other policy is refused.
 */
public final class SornJNI {
    static {
        System.loadLibrary("SornX");
    }

    private SornJNI() {
    }

    // Module functions.
    public static native void sornx__setLogLevel(int level);

    public static native int sornx__getLogLevel();

    public static native String sornx__info();

    public static native int sornx__initialize();

    public static native void sornx__uninitialize();

    // Store objects.
    public static native long new_SornGeneric();

    public static native void delete_SornGeneric(long handle);

    public static native boolean SornGeneric_open(long handle, String name, String home,
            String dbname, String dbtype, boolean autoSync, String distribType, int partitions,
            int partMB, long partRecords, String tune, String[] paths);

    public static native void SornGeneric_close(long handle);

    public static native boolean SornGeneric_isOpen(long handle);

    public static native boolean SornGeneric_isContiguous(long handle);

    public static native long SornGeneric_size(long handle);

    public static native void SornGeneric_clear(long handle);

    public static native byte[] SornGeneric_get(long handle, String key);

    public static native boolean SornGeneric_exist(long handle, String key);

    public static native boolean SornGeneric_put(long handle, String key, byte[] value,
            int offset, int length, int policy);

    public static native byte[] SornGeneric_pop(long handle, String key);

    public static native boolean SornGeneric_remove(long handle, String key);

    public static native String SornGeneric_getAsString(long handle, String key);

    public static native boolean SornGeneric_putString(long handle, String key, String value,
            int policy);

    public static native String SornGeneric_popAsString(long handle, String key);
}
