package com.olm.toka.jni.tessi;

/**
 * Java face of the TessiX in-process cache: the native methods of libTessiX.so.
 *
 * Loading: the class loads the native library "TessiX" itself, once, in its static
 * initialiser (System.loadLibrary, so the library's directory must be on
 * java.library.path). Callers need not load it first.
 *
 * A cache is a native object named by a handle (a long): new_TessiGeneric creates it
 * (0 when the sizes are refused: tblSize from 2 to 268435456, lruSize at least 1, or
 * when the table's memory cannot be had),
 * delete_TessiGeneric destroys it (0 is ignored), and the caller owns it in between. A
 * zero handle is reported on the native side and answered with 0, false or null; a handle
 * must not be used after delete_TessiGeneric, nor deleted while another call on it runs.
 * Keys and string values cross as modified UTF-8 bytes; values come back as fresh arrays
 * or strings (getAsString and popAsString end at the value's first zero byte). Failures
 * never raise Java exceptions: they are answered with 0, false, null (or -1 from
 * getItemFlag and getItemTimeExp for an empty key or a missing item) and reported on the
 * native side's standard output.
 *
 * Out of Java heap: when the VM cannot make the array or string of a get or pop result, the
 * call answers null and the VM's own OutOfMemoryError stays pending, to be thrown when the
 * native returns (the binding raises nothing of its own, and does not hide a full heap). A
 * pop that failed so leaves the item in the cache as it was; only when other threads stored
 * the same key during that pop does the item go back as the most recently used one (and not
 * at all when the key was stored again meanwhile: the newer item stays).
 *
 * Put modes: 1 add, 2 update, 3 add or update; any other mode is refused. A put with flag
 * false stores an unreadable item (flags 1). expire: seconds from now, 0 for none.
 * setItemFlag ops: 1 set, 2 and, 3 or, 4 xor, 5 not. Compression: method 1 (snappy)
 * compresses values longer than the threshold; 0 and 2 store them as they are.
 *
 * tessix__uninitialize stops the native allocator for good, and only while no cache or
 * queue is alive; caches made afterwards work on the system allocator.
 */
public final class TessiJNI {
    static {
        System.loadLibrary("TessiX");
    }

    private TessiJNI() {
    }

    // Module functions.
    public static native void tessix__setLogLevel(int level);

    public static native String tessix__info();

    public static native int tessix__initialize(int n);

    public static native void tessix__uninitialize();

    public static native String tessix__memstat(int kind);

    // Cache objects.
    public static native long new_TessiGeneric(long tblSize, long lruSize);

    public static native void delete_TessiGeneric(long handle);

    public static native long TessiGeneric_getTblSize(long handle);

    public static native long TessiGeneric_getLruSize(long handle);

    public static native void TessiGeneric_setExpTime(long handle, int expTime);

    public static native int TessiGeneric_getExpTime(long handle);

    public static native void TessiGeneric_setCompressMed(long handle, int compressMed);

    public static native int TessiGeneric_getCompressMed(long handle);

    public static native void TessiGeneric_setThresholdComp(long handle, int thresholdComp);

    public static native int TessiGeneric_getThresholdComp(long handle);

    public static native long TessiGeneric_size(long handle);

    public static native void TessiGeneric_clear(long handle);

    public static native int TessiGeneric_getItemFlag(long handle, String key);

    public static native boolean TessiGeneric_setItemFlag(long handle, String key, int value,
            int op);

    public static native int TessiGeneric_getItemTimeExp(long handle, String key);

    public static native boolean TessiGeneric_extItemTimeExp(long handle, String key, int delta);

    public static native byte[] TessiGeneric_get(long handle, String key);

    public static native String TessiGeneric_getAsString(long handle, String key);

    public static native byte[] TessiGeneric_pop(long handle, String key);

    public static native String TessiGeneric_popAsString(long handle, String key);

    public static native boolean TessiGeneric_remove(long handle, String key);

    public static native boolean TessiGeneric_exist(long handle, String key, boolean check);

    public static native boolean TessiGeneric_put(long handle, String key, byte[] value,
            int offset, int length, boolean flag, int expire, int mode);

    public static native boolean TessiGeneric_putString(long handle, String key, String value,
            boolean flag, int expire, int mode);
}
