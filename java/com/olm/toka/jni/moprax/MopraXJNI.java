package com.olm.toka.jni.moprax;

/**
 * Java face of the shared types: the native methods of libMopraXJNI.so over standard
 * containers, the holders and the mopra codec functions.
 *
 * Loading: the class loads the native library "MopraXJNI" itself, once, in its static
 * initialiser (System.loadLibrary, so the library's directory must be on java.library.path).
 *
 * Objects: every native object is named by a handle (a long). new_X creates one, delete_X
 * destroys it (0 is ignored), and the caller owns it in between; a handle must not be used
 * after its delete_X, nor deleted while another call on it runs. A native that takes an
 * object receives the handle and the Java object that wraps it (jargN_, ignored by the
 * native side; null is fine). Nothing is thread-safe: serialise the calls on one object.
 *
 * Values: Strings cross as modified UTF-8 and end at the first zero byte; string results
 * made from binary values turn invalid sequences into U+FFFD, so binary values travel
 * through setBinVal/getBinVal (byte arrays, copied in and out during the call; the array is
 * never pinned). A string result longer than any String (more than Integer.MAX_VALUE
 * characters) is null; one with a character above U+00FF and more than 2^30 - 1 characters,
 * which the VM cannot store, raises OutOfMemoryError. getLength of a value longer than
 * Integer.MAX_VALUE bytes answers Integer.MAX_VALUE.
 *
 * Failures: a null String raises NullPointerException "null string", a null byte[]
 * NullPointerException "null array", a zero handle NullPointerException (a zero object
 * handle "... self is null", a zero argument handle "... reference is null"; value_set
 * ignores a zero holder). An index or key that is not there raises
 * IndexOutOfBoundsException, any other native failure RuntimeException (or UnknownError);
 * the native then returns 0, false or null. Codec failures are not exceptions: the mopra
 * functions return their negative codes.
 */
public final class MopraXJNI {
    static {
        System.loadLibrary("MopraXJNI");
    }

    private MopraXJNI() {
    }

    // Vectors: std::vector<int> and std::vector<std::string>.
    public static native long new_std__vectorT_int_t__SWIG_0();
    public static native long new_std__vectorT_int_t__SWIG_1(long jarg1);
    public static native long std__vectorT_int_t_size(long jarg1, Object jarg1_);
    public static native long std__vectorT_int_t_capacity(long jarg1, Object jarg1_);
    public static native void std__vectorT_int_t_reserve(long jarg1, Object jarg1_, long jarg2);
    public static native boolean std__vectorT_int_t_is_empty(long jarg1, Object jarg1_);
    public static native void std__vectorT_int_t_clear(long jarg1, Object jarg1_);
    public static native void std__vectorT_int_t_add(long jarg1, Object jarg1_, int jarg2);
    public static native int std__vectorT_int_t_get(long jarg1, Object jarg1_, int jarg2);
    public static native void std__vectorT_int_t_set(long jarg1, Object jarg1_, int jarg2, int jarg3);
    public static native void delete_std__vectorT_int_t(long jarg1);
    public static native long new_std__vectorT_std__string_t__SWIG_0();
    public static native long new_std__vectorT_std__string_t__SWIG_1(long jarg1);
    public static native long std__vectorT_std__string_t_size(long jarg1, Object jarg1_);
    public static native long std__vectorT_std__string_t_capacity(long jarg1, Object jarg1_);
    public static native void std__vectorT_std__string_t_reserve(long jarg1, Object jarg1_, long jarg2);
    public static native boolean std__vectorT_std__string_t_is_empty(long jarg1, Object jarg1_);
    public static native void std__vectorT_std__string_t_clear(long jarg1, Object jarg1_);
    public static native void std__vectorT_std__string_t_add(long jarg1, Object jarg1_, String jarg2);
    public static native String std__vectorT_std__string_t_get(long jarg1, Object jarg1_, int jarg2);
    public static native void std__vectorT_std__string_t_set(long jarg1, Object jarg1_, int jarg2, String jarg3);
    public static native void delete_std__vectorT_std__string_t(long jarg1);

    // Maps: std::map<int, std::string>, <std::string, std::string>, <std::string, int>, <int, int>.
    public static native long new_std__mapT_int_std__string_t__SWIG_0();
    public static native long new_std__mapT_int_std__string_t__SWIG_1(long jarg1, Object jarg1_);
    public static native long std__mapT_int_std__string_t_size(long jarg1, Object jarg1_);
    public static native boolean std__mapT_int_std__string_t_is_empty(long jarg1, Object jarg1_);
    public static native void std__mapT_int_std__string_t_clear(long jarg1, Object jarg1_);
    public static native String std__mapT_int_std__string_t_get(long jarg1, Object jarg1_, int jarg2);
    public static native void std__mapT_int_std__string_t_set(long jarg1, Object jarg1_, int jarg2, String jarg3);
    public static native void std__mapT_int_std__string_t_del(long jarg1, Object jarg1_, int jarg2);
    public static native boolean std__mapT_int_std__string_t_has_key(long jarg1, Object jarg1_, int jarg2);
    public static native void delete_std__mapT_int_std__string_t(long jarg1);
    public static native long new_std__mapT_std__string_std__string_t__SWIG_0();
    public static native long new_std__mapT_std__string_std__string_t__SWIG_1(long jarg1, Object jarg1_);
    public static native long std__mapT_std__string_std__string_t_size(long jarg1, Object jarg1_);
    public static native boolean std__mapT_std__string_std__string_t_is_empty(long jarg1, Object jarg1_);
    public static native void std__mapT_std__string_std__string_t_clear(long jarg1, Object jarg1_);
    public static native String std__mapT_std__string_std__string_t_get(long jarg1, Object jarg1_, String jarg2);
    public static native void std__mapT_std__string_std__string_t_set(long jarg1, Object jarg1_, String jarg2, String jarg3);
    public static native void std__mapT_std__string_std__string_t_del(long jarg1, Object jarg1_, String jarg2);
    public static native boolean std__mapT_std__string_std__string_t_has_key(long jarg1, Object jarg1_, String jarg2);
    public static native void delete_std__mapT_std__string_std__string_t(long jarg1);
    public static native long new_std__mapT_std__string_int_t__SWIG_0();
    public static native long new_std__mapT_std__string_int_t__SWIG_1(long jarg1, Object jarg1_);
    public static native long std__mapT_std__string_int_t_size(long jarg1, Object jarg1_);
    public static native boolean std__mapT_std__string_int_t_is_empty(long jarg1, Object jarg1_);
    public static native void std__mapT_std__string_int_t_clear(long jarg1, Object jarg1_);
    public static native int std__mapT_std__string_int_t_get(long jarg1, Object jarg1_, String jarg2);
    public static native void std__mapT_std__string_int_t_set(long jarg1, Object jarg1_, String jarg2, int jarg3);
    public static native void std__mapT_std__string_int_t_del(long jarg1, Object jarg1_, String jarg2);
    public static native boolean std__mapT_std__string_int_t_has_key(long jarg1, Object jarg1_, String jarg2);
    public static native void delete_std__mapT_std__string_int_t(long jarg1);
    public static native long new_std__mapT_int_int_t__SWIG_0();
    public static native long new_std__mapT_int_int_t__SWIG_1(long jarg1, Object jarg1_);
    public static native long std__mapT_int_int_t_size(long jarg1, Object jarg1_);
    public static native boolean std__mapT_int_int_t_is_empty(long jarg1, Object jarg1_);
    public static native void std__mapT_int_int_t_clear(long jarg1, Object jarg1_);
    public static native int std__mapT_int_int_t_get(long jarg1, Object jarg1_, int jarg2);
    public static native void std__mapT_int_int_t_set(long jarg1, Object jarg1_, int jarg2, int jarg3);
    public static native void std__mapT_int_int_t_del(long jarg1, Object jarg1_, int jarg2);
    public static native boolean std__mapT_int_int_t_has_key(long jarg1, Object jarg1_, int jarg2);
    public static native void delete_std__mapT_int_int_t(long jarg1);

    // String holders: mopra_StringHolder and mopra::StrHolder.
    public static native void mopra_StringHolder_value_set(long jarg1, Object jarg1_, String jarg2);
    public static native String mopra_StringHolder_value_get(long jarg1, Object jarg1_);
    public static native String mopra_StringHolder_getVal(long jarg1, Object jarg1_);
    public static native void mopra_StringHolder_setVal(long jarg1, Object jarg1_, String jarg2);
    public static native void mopra_StringHolder_setBinVal(long jarg1, Object jarg1_, byte[] jarg2, int jarg3, int jarg4);
    public static native int mopra_StringHolder_getBinVal(long jarg1, Object jarg1_, byte[] jarg2, int jarg3);
    public static native int mopra_StringHolder_getLength(long jarg1, Object jarg1_);
    public static native long new_mopra_StringHolder();
    public static native void delete_mopra_StringHolder(long jarg1);
    public static native void mopra__StrHolder_value_set(long jarg1, Object jarg1_, String jarg2);
    public static native String mopra__StrHolder_value_get(long jarg1, Object jarg1_);
    public static native String mopra__StrHolder_getVal(long jarg1, Object jarg1_);
    public static native void mopra__StrHolder_setVal(long jarg1, Object jarg1_, String jarg2);
    public static native void mopra__StrHolder_setBinVal(long jarg1, Object jarg1_, byte[] jarg2, int jarg3, int jarg4);
    public static native int mopra__StrHolder_getBinVal(long jarg1, Object jarg1_, byte[] jarg2, int jarg3);
    public static native int mopra__StrHolder_getLength(long jarg1, Object jarg1_);
    public static native long new_mopra__StrHolder();
    public static native void delete_mopra__StrHolder(long jarg1);

    // mopra::IntegralHolder.
    public static native void mopra__IntegralHolder_value_set(long jarg1, Object jarg1_, long jarg2);
    public static native long mopra__IntegralHolder_value_get(long jarg1, Object jarg1_);
    public static native long mopra__IntegralHolder_getVal(long jarg1, Object jarg1_);
    public static native void mopra__IntegralHolder_setVal(long jarg1, Object jarg1_, long jarg2);
    public static native long new_mopra__IntegralHolder();
    public static native void delete_mopra__IntegralHolder(long jarg1);

    // mopra::OpHandleHolder.
    public static native long new_mopra__OpHandleHolder();
    public static native void delete_mopra__OpHandleHolder(long jarg1);
    public static native void mopra__OpHandleHolder_ctor(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_selfClone(long jarg1, Object jarg1_);
    public static native boolean mopra__OpHandleHolder_isNull(long jarg1, Object jarg1_);
    public static native boolean mopra__OpHandleHolder_releaseIfNotOwner(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_release(long jarg1, Object jarg1_);
    public static native String mopra__OpHandleHolder_getAuth(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_setAuth(long jarg1, Object jarg1_, String jarg2);
    public static native int mopra__OpHandleHolder_getFwseq(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_setFwseq(long jarg1, Object jarg1_, int jarg2);
    public static native int mopra__OpHandleHolder_getReason(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_setReason(long jarg1, Object jarg1_, int jarg2);
    public static native long mopra__OpHandleHolder_getSeq(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_setSeq(long jarg1, Object jarg1_, long jarg2);
    public static native long mopra__OpHandleHolder_getSession(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_setSession(long jarg1, Object jarg1_, long jarg2);
    public static native String mopra__OpHandleHolder_getSource(long jarg1, Object jarg1_);
    public static native void mopra__OpHandleHolder_setSource(long jarg1, Object jarg1_, String jarg2);

    // The mopra functions.
    public static native String mopra__info();
    public static native int mopra__hexing(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
    public static native int mopra__unhexing(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
    public static native int mopra__serialize(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
    public static native int mopra__deserialize(long jarg1, Object jarg1_, long jarg2, Object jarg2_);
    public static native int mopra__hash(long jarg1, Object jarg1_, int jarg2);
    public static native long mopra__hash64(long jarg1, Object jarg1_, int jarg2);
    public static native int mopra__compress(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3, int jarg4);
    public static native int mopra__decompress(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3, int jarg4);
    public static native int mopra__base64_encode(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
    public static native int mopra__base64_decode(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
    public static native int mopra__noise(long jarg1, Object jarg1_);
    public static native int mopra__denoise(long jarg1, Object jarg1_);
    public static native int mopra__noise64(long jarg1, Object jarg1_, long jarg2, long jarg3);
    public static native int mopra__denoise64(long jarg1, Object jarg1_, long jarg2, Object jarg2_, long jarg3);
    public static native int mopra__wma_encode_withpadding(long jarg1, Object jarg1_, long jarg2, Object jarg2_, long jarg3, Object jarg3_, int jarg4, int jarg5);
    public static native int mopra__wma_encode(long jarg1, Object jarg1_, long jarg2, Object jarg2_, long jarg3, Object jarg3_, int jarg4, int jarg5);
    public static native int mopra__wma_decode(long jarg1, Object jarg1_, long jarg2, Object jarg2_, long jarg3, Object jarg3_, int jarg4, int jarg5);
    public static native void list_add_strholder(long jarg1, Object jarg1_, long jarg2, Object jarg2_);
    public static native int list_set_strholder(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
    public static native int list_get_strholder(long jarg1, Object jarg1_, long jarg2, Object jarg2_, int jarg3);
}
