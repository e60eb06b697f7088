import static jsupport.JniAssert.assertRaises;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.olm.toka.jni.moprax.MopraXJNI;

import java.nio.charset.StandardCharsets;
import java.util.stream.Stream;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * MopraXJNI on the real JVM: every container, holder and mopra-function native with its
 * exception cases, the null checks in their order, byte arrays and string results.
 */
class MopraXJNITest {
    static void eq(String what, Object expected, Object actual) {
        if (expected instanceof byte[]) {
            assertArrayEquals((byte[]) expected, (byte[]) actual, what);
        } else {
            assertEquals(expected, actual, what);
        }
    }

    static void ok(String what, boolean cond) {
        assertTrue(cond, what);
    }

    /** body must raise exactly cls with message. */
    static void raises(String what, Class<? extends Throwable> cls, String message, Executable body) {
        assertRaises(what, cls, message, body);
    }

    static final String NPE_N1 = "mopra::StrHolder & reference is null";
    static final String NPE_N2 = "mopra::StrHolder const & reference is null";
    static final String NPE_N3 = "std::vector< std::string > const & reference is null";
    static final String NPE_N4 = "std::vector< std::string > & reference is null";
    static final String NPE_N5 = "mopra::IntegralHolder & reference is null";
    static final Class<NullPointerException> NPE = NullPointerException.class;
    static final Class<IndexOutOfBoundsException> IOOBE = IndexOutOfBoundsException.class;
    static final Class<RuntimeException> RTE = RuntimeException.class;

    static long str(String s) {
        long h = MopraXJNI.new_mopra__StrHolder();
        MopraXJNI.mopra__StrHolder_setVal(h, null, s);
        return h;
    }

    static long bin(byte[] b) {
        long h = MopraXJNI.new_mopra__StrHolder();
        MopraXJNI.mopra__StrHolder_setBinVal(h, null, b, 0, b.length);
        return h;
    }

    static byte[] binOf(long h) {
        byte[] b = new byte[MopraXJNI.mopra__StrHolder_getLength(h, null)];
        eq("getBinVal count", b.length, MopraXJNI.mopra__StrHolder_getBinVal(h, null, b, 0));
        return b;
    }

    static String val(long h) {
        return MopraXJNI.mopra__StrHolder_getVal(h, null);
    }

    @Test
    void intVector() {
        long v = MopraXJNI.new_std__vectorT_int_t__SWIG_0();
        ok("int vector new", v != 0);
        ok("int vector empty", MopraXJNI.std__vectorT_int_t_is_empty(v, null));
        MopraXJNI.std__vectorT_int_t_add(v, null, 7);
        MopraXJNI.std__vectorT_int_t_add(v, null, -9);
        eq("int vector size", 2L, MopraXJNI.std__vectorT_int_t_size(v, null));
        eq("int vector get", -9, MopraXJNI.std__vectorT_int_t_get(v, null, 1));
        MopraXJNI.std__vectorT_int_t_set(v, null, 0, 42);
        eq("int vector set", 42, MopraXJNI.std__vectorT_int_t_get(v, null, 0));
        MopraXJNI.std__vectorT_int_t_reserve(v, null, 100);
        ok("int vector capacity", MopraXJNI.std__vectorT_int_t_capacity(v, null) >= 100);
        raises("int vector reserve -1", RTE, "vector::reserve",
                () -> MopraXJNI.std__vectorT_int_t_reserve(v, null, -1));
        eq("int vector unchanged", 2L, MopraXJNI.std__vectorT_int_t_size(v, null));
        MopraXJNI.std__vectorT_int_t_clear(v, null);
        ok("int vector cleared", MopraXJNI.std__vectorT_int_t_is_empty(v, null));
        MopraXJNI.delete_std__vectorT_int_t(v);
        MopraXJNI.delete_std__vectorT_int_t(0);

        long n = MopraXJNI.new_std__vectorT_int_t__SWIG_1(5);
        eq("int vector of 5", 5L, MopraXJNI.std__vectorT_int_t_size(n, null));
        eq("int vector default", 0, MopraXJNI.std__vectorT_int_t_get(n, null, 4));
        MopraXJNI.delete_std__vectorT_int_t(n);
        raises("int vector of -1", RTE, "cannot create std::vector larger than max_size()",
                () -> MopraXJNI.new_std__vectorT_int_t__SWIG_1(-1));
    }

    @ParameterizedTest(name = "int vector get and set at {0}")
    @ValueSource(ints = {-1, 2, Integer.MIN_VALUE})
    void intVectorOutOfRange(int i) {
        long v = MopraXJNI.new_std__vectorT_int_t__SWIG_0();
        MopraXJNI.std__vectorT_int_t_add(v, null, 7);
        MopraXJNI.std__vectorT_int_t_add(v, null, -9);
        raises("int vector get " + i, IOOBE, "vector index out of range",
                () -> MopraXJNI.std__vectorT_int_t_get(v, null, i));
        raises("int vector set " + i, IOOBE, "vector index out of range",
                () -> MopraXJNI.std__vectorT_int_t_set(v, null, i, 1));
        eq("int vector unchanged", 2L, MopraXJNI.std__vectorT_int_t_size(v, null));
        eq("int vector element 1 unchanged", -9, MopraXJNI.std__vectorT_int_t_get(v, null, 1));
        MopraXJNI.delete_std__vectorT_int_t(v);
    }

    static final String INT_VECTOR_SELF = "std::vector< int > self is null";

    /** A named call for a table of cases. */
    static Arguments call(String name, Executable call) {
        return Arguments.of(name, call);
    }

    static Stream<Arguments> intVectorZeroSelf() {
        return Stream.of(
            call("size", () -> MopraXJNI.std__vectorT_int_t_size(0, null)),
            call("capacity", () -> MopraXJNI.std__vectorT_int_t_capacity(0, null)),
            call("is_empty", () -> MopraXJNI.std__vectorT_int_t_is_empty(0, null)),
            call("get", () -> MopraXJNI.std__vectorT_int_t_get(0, null, 0)),
            call("add", () -> MopraXJNI.std__vectorT_int_t_add(0, null, 1)),
            call("set", () -> MopraXJNI.std__vectorT_int_t_set(0, null, 0, 1)),
            call("clear", () -> MopraXJNI.std__vectorT_int_t_clear(0, null)),
            call("reserve", () -> MopraXJNI.std__vectorT_int_t_reserve(0, null, 1)));
    }

    @ParameterizedTest(name = "int vector {0} on handle 0")
    @MethodSource("intVectorZeroSelf")
    void intVectorZeroSelf(String name, Executable call) {
        raises("int vector " + name + " 0", NPE, INT_VECTOR_SELF, call);
    }

    @Test
    void stringVector() {
        long v = MopraXJNI.new_std__vectorT_std__string_t__SWIG_1(3);
        eq("string vector of 3", 3L, MopraXJNI.std__vectorT_std__string_t_size(v, null));
        eq("string vector default", "", MopraXJNI.std__vectorT_std__string_t_get(v, null, 2));
        MopraXJNI.std__vectorT_std__string_t_set(v, null, 1, "h\u00e9llo \u4e16\ud83d\ude00");
        eq("string vector set/get", "h\u00e9llo \u4e16\ud83d\ude00", MopraXJNI.std__vectorT_std__string_t_get(v, null, 1));
        MopraXJNI.std__vectorT_std__string_t_add(v, null, "x");
        eq("string vector add", "x", MopraXJNI.std__vectorT_std__string_t_get(v, null, 3));
        raises("string vector add null", NPE, "null string",
                () -> MopraXJNI.std__vectorT_std__string_t_add(v, null, null));
        raises("string vector set null", NPE, "null string",
                () -> MopraXJNI.std__vectorT_std__string_t_set(v, null, 0, null));
        eq("string vector after nulls", 4L, MopraXJNI.std__vectorT_std__string_t_size(v, null));
        raises("string vector get 4", IOOBE, "vector index out of range",
                () -> String.valueOf(MopraXJNI.std__vectorT_std__string_t_get(v, null, 4)).replace("null", "<null>"));
        ok("string vector get out of range is null", getOrNull(v, 4) == null);
        raises("string vector size 0", NPE, "std::vector< std::string > self is null",
                () -> MopraXJNI.std__vectorT_std__string_t_size(0, null));
        // A value holding a zero byte comes back cut at that byte.
        long items = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        long h = bin(new byte[] {'a', 0, 'b'});
        MopraXJNI.list_add_strholder(items, null, h, null);
        long ser = MopraXJNI.new_mopra__StrHolder();
        eq("serialize", 0, MopraXJNI.mopra__serialize(ser, null, items, null, 0));
        long back = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        eq("deserialize", 0, MopraXJNI.mopra__deserialize(back, null, ser, null));
        eq("deserialized count", 1L, MopraXJNI.std__vectorT_std__string_t_size(back, null));
        eq("deserialized item cut at zero", "a", MopraXJNI.std__vectorT_std__string_t_get(back, null, 0));
        eq("the item's bytes through a holder", 0, MopraXJNI.list_get_strholder(h, null, back, null, 0));
        eq("list_get_strholder keeps the zero byte", new byte[] {'a', 0, 'b'}, binOf(h));
        MopraXJNI.std__vectorT_std__string_t_reserve(v, null, 50);
        ok("string vector capacity", MopraXJNI.std__vectorT_std__string_t_capacity(v, null) >= 50);
        raises("string vector reserve -1", RTE, "vector::reserve",
                () -> MopraXJNI.std__vectorT_std__string_t_reserve(v, null, -1));
        raises("string vector set 4", IOOBE, "vector index out of range",
                () -> MopraXJNI.std__vectorT_std__string_t_set(v, null, 4, "x"));
        ok("string vector not empty", !MopraXJNI.std__vectorT_std__string_t_is_empty(v, null));
        MopraXJNI.std__vectorT_std__string_t_clear(v, null);
        ok("string vector cleared", MopraXJNI.std__vectorT_std__string_t_is_empty(v, null));
        MopraXJNI.delete_std__vectorT_std__string_t(0);
        for (long x : new long[] {v, items, back}) {
            MopraXJNI.delete_std__vectorT_std__string_t(x);
        }
        MopraXJNI.delete_mopra__StrHolder(h);
        MopraXJNI.delete_mopra__StrHolder(ser);
    }

    static String getOrNull(long v, int i) {
        try {
            return MopraXJNI.std__vectorT_std__string_t_get(v, null, i);
        } catch (IndexOutOfBoundsException e) {
            return null;
        }
    }

    @Test
    void intStringMap() {
        // std::map<int, std::string>
        long a = MopraXJNI.new_std__mapT_int_std__string_t__SWIG_0();
        ok("int-string empty", MopraXJNI.std__mapT_int_std__string_t_is_empty(a, null));
        MopraXJNI.std__mapT_int_std__string_t_set(a, null, 3, "three");
        MopraXJNI.std__mapT_int_std__string_t_set(a, null, 3, "drei");
        MopraXJNI.std__mapT_int_std__string_t_set(a, null, -1, "minus");
        eq("int-string size", 2L, MopraXJNI.std__mapT_int_std__string_t_size(a, null));
        eq("int-string get", "drei", MopraXJNI.std__mapT_int_std__string_t_get(a, null, 3));
        ok("int-string has", MopraXJNI.std__mapT_int_std__string_t_has_key(a, null, -1));
        ok("int-string has not", !MopraXJNI.std__mapT_int_std__string_t_has_key(a, null, 4));
        raises("int-string get missing", IOOBE, "key not found",
                () -> MopraXJNI.std__mapT_int_std__string_t_get(a, null, 4));
        raises("int-string del missing", IOOBE, "key not found",
                () -> MopraXJNI.std__mapT_int_std__string_t_del(a, null, 4));
        raises("int-string set null", NPE, "null string",
                () -> MopraXJNI.std__mapT_int_std__string_t_set(a, null, 9, null));
        long ac = MopraXJNI.new_std__mapT_int_std__string_t__SWIG_1(a, null);
        MopraXJNI.std__mapT_int_std__string_t_del(a, null, 3);
        eq("int-string del", 1L, MopraXJNI.std__mapT_int_std__string_t_size(a, null));
        eq("int-string copy is separate", "drei", MopraXJNI.std__mapT_int_std__string_t_get(ac, null, 3));
        MopraXJNI.std__mapT_int_std__string_t_clear(ac, null);
        ok("int-string clear", MopraXJNI.std__mapT_int_std__string_t_is_empty(ac, null));
        MopraXJNI.delete_std__mapT_int_std__string_t(a);
        MopraXJNI.delete_std__mapT_int_std__string_t(ac);
        MopraXJNI.delete_std__mapT_int_std__string_t(0);
    }

    @Test
    void stringStringMap() {
        // std::map<std::string, std::string>: the key is converted and checked first.
        long b = MopraXJNI.new_std__mapT_std__string_std__string_t__SWIG_0();
        MopraXJNI.std__mapT_std__string_std__string_t_set(b, null, "k", "v");
        raises("string-string set null value", NPE, "null string",
                () -> MopraXJNI.std__mapT_std__string_std__string_t_set(b, null, "k", null));
        raises("string-string set null key", NPE, "null string",
                () -> MopraXJNI.std__mapT_std__string_std__string_t_set(b, null, null, "w"));
        raises("string-string set 0", NPE, "std::map< std::string,std::string > self is null",
                () -> MopraXJNI.std__mapT_std__string_std__string_t_set(0, null, null, null));
        eq("string-string unchanged", "v", MopraXJNI.std__mapT_std__string_std__string_t_get(b, null, "k"));
        eq("string-string size", 1L, MopraXJNI.std__mapT_std__string_std__string_t_size(b, null));
        raises("string-string has null", NPE, "null string",
                () -> MopraXJNI.std__mapT_std__string_std__string_t_has_key(b, null, null));
        long bc = MopraXJNI.new_std__mapT_std__string_std__string_t__SWIG_1(b, null);
        eq("string-string copy", "v", MopraXJNI.std__mapT_std__string_std__string_t_get(bc, null, "k"));
        MopraXJNI.std__mapT_std__string_std__string_t_del(bc, null, "k");
        ok("string-string del", !MopraXJNI.std__mapT_std__string_std__string_t_has_key(bc, null, "k"));
        MopraXJNI.delete_std__mapT_std__string_std__string_t(b);
        MopraXJNI.delete_std__mapT_std__string_std__string_t(bc);
    }

    @Test
    void stringIntMap() {
        // std::map<std::string, int>
        long c = MopraXJNI.new_std__mapT_std__string_int_t__SWIG_0();
        raises("string-int get missing", IOOBE, "key not found",
                () -> MopraXJNI.std__mapT_std__string_int_t_get(c, null, "nope"));
        raises("string-int set null key", NPE, "null string",
                () -> MopraXJNI.std__mapT_std__string_int_t_set(c, null, null, 1));
        ok("string-int unchanged", MopraXJNI.std__mapT_std__string_int_t_is_empty(c, null));
        MopraXJNI.std__mapT_std__string_int_t_set(c, null, "one", 1);
        MopraXJNI.std__mapT_std__string_int_t_set(c, null, "two", 2);
        eq("string-int get", 2, MopraXJNI.std__mapT_std__string_int_t_get(c, null, "two"));
        long cc = MopraXJNI.new_std__mapT_std__string_int_t__SWIG_1(c, null);
        MopraXJNI.std__mapT_std__string_int_t_clear(c, null);
        eq("string-int copy size", 2L, MopraXJNI.std__mapT_std__string_int_t_size(cc, null));
        ok("string-int has", MopraXJNI.std__mapT_std__string_int_t_has_key(cc, null, "one"));
        MopraXJNI.std__mapT_std__string_int_t_del(cc, null, "one");
        raises("string-int del again", IOOBE, "key not found",
                () -> MopraXJNI.std__mapT_std__string_int_t_del(cc, null, "one"));
        MopraXJNI.delete_std__mapT_std__string_int_t(c);
        MopraXJNI.delete_std__mapT_std__string_int_t(cc);
    }

    @Test
    void intIntMap() {
        // std::map<int, int>
        long d = MopraXJNI.new_std__mapT_int_int_t__SWIG_0();
        MopraXJNI.std__mapT_int_int_t_set(d, null, 1, 10);
        MopraXJNI.std__mapT_int_int_t_set(d, null, 1, 11);
        eq("int-int get", 11, MopraXJNI.std__mapT_int_int_t_get(d, null, 1));
        ok("int-int has", MopraXJNI.std__mapT_int_int_t_has_key(d, null, 1));
        MopraXJNI.std__mapT_int_int_t_del(d, null, 1);
        ok("int-int empty", MopraXJNI.std__mapT_int_int_t_is_empty(d, null));
        raises("int-int get missing", IOOBE, "key not found", () -> MopraXJNI.std__mapT_int_int_t_get(d, null, 1));
        raises("int-int size 0", NPE, "std::map< int,int > self is null",
                () -> MopraXJNI.std__mapT_int_int_t_size(0, null));
        MopraXJNI.delete_std__mapT_int_int_t(d);
    }

    // Copies from a zero handle.
    static Stream<Arguments> mapCopiesFromZero() {
        return Stream.of(
            zero("copy int-string 0", "std::map< int,std::string > const & reference is null",
                    () -> MopraXJNI.new_std__mapT_int_std__string_t__SWIG_1(0, null)),
            zero("copy string-string 0", "std::map< std::string,std::string > const & reference is null",
                    () -> MopraXJNI.new_std__mapT_std__string_std__string_t__SWIG_1(0, null)),
            zero("copy string-int 0", "std::map< std::string,int > const & reference is null",
                    () -> MopraXJNI.new_std__mapT_std__string_int_t__SWIG_1(0, null)),
            zero("copy int-int 0", "std::map< int,int > const & reference is null",
                    () -> MopraXJNI.new_std__mapT_int_int_t__SWIG_1(0, null)));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("mapCopiesFromZero")
    void mapCopyFromZero(String name, String message, Executable call) {
        raises(name, NPE, message, call);
    }

    static Stream<Arguments> stringHolderKinds() {
        return Stream.of(Arguments.of("mopra::StrHolder", false), Arguments.of("mopra_StringHolder", true));
    }

    // The same nine natives on both string holders, through one table of calls.
    @ParameterizedTest(name = "{0}")
    @MethodSource("stringHolderKinds")
    void strHolders(String kind, boolean sh) {
        String p = sh ? "StringHolder " : "StrHolder ";
        long h = sh ? MopraXJNI.new_mopra_StringHolder() : MopraXJNI.new_mopra__StrHolder();
        java.util.function.Function<Long, Integer> len = x -> sh
                ? MopraXJNI.mopra_StringHolder_getLength(x, null) : MopraXJNI.mopra__StrHolder_getLength(x, null);
        java.util.function.Function<Long, String> get = x -> sh
                ? MopraXJNI.mopra_StringHolder_getVal(x, null) : MopraXJNI.mopra__StrHolder_getVal(x, null);
        java.util.function.Function<Long, String> vget = x -> sh
                ? MopraXJNI.mopra_StringHolder_value_get(x, null) : MopraXJNI.mopra__StrHolder_value_get(x, null);
        interface Set3 { void run(long x, byte[] b, int off, int n); }
        interface Get2 { int run(long x, byte[] b, int off); }
        interface SetS { void run(long x, String s); }
        Set3 setBin = sh ? (x, b, o, n) -> MopraXJNI.mopra_StringHolder_setBinVal(x, null, b, o, n)
                : (x, b, o, n) -> MopraXJNI.mopra__StrHolder_setBinVal(x, null, b, o, n);
        Get2 getBin = sh ? (x, b, o) -> MopraXJNI.mopra_StringHolder_getBinVal(x, null, b, o)
                : (x, b, o) -> MopraXJNI.mopra__StrHolder_getBinVal(x, null, b, o);
        SetS setVal = sh ? (x, s) -> MopraXJNI.mopra_StringHolder_setVal(x, null, s)
                : (x, s) -> MopraXJNI.mopra__StrHolder_setVal(x, null, s);
        SetS valueSet = sh ? (x, s) -> MopraXJNI.mopra_StringHolder_value_set(x, null, s)
                : (x, s) -> MopraXJNI.mopra__StrHolder_value_set(x, null, s);
        String self = sh ? "mopra_StringHolder self is null" : "mopra::StrHolder self is null";

        eq(p + "new empty", "", get.apply(h));
        eq(p + "new length", 0, len.apply(h));
        setVal.run(h, "caf\u00e9");
        eq(p + "setVal/getVal", "caf\u00e9", get.apply(h));
        eq(p + "value_get", "caf\u00e9", vget.apply(h));
        eq(p + "length in bytes", 5, len.apply(h));
        valueSet.run(h, "v");
        eq(p + "value_set", "v", get.apply(h));
        valueSet.run(0, "ignored");  // a zero holder is ignored
        raises(p + "value_set null", NPE, "null string", () -> valueSet.run(h, null));
        raises(p + "setVal null", NPE, "null string", () -> setVal.run(h, null));
        eq(p + "after null strings", "v", get.apply(h));

        // Binary values: a zero byte and bytes above 0x7f survive setBinVal/getBinVal.
        byte[] all = new byte[256];
        for (int i = 0; i < 256; ++i) {
            all[i] = (byte) i;
        }
        setBin.run(h, all, 0, 256);
        eq(p + "binary length", 256, len.apply(h));
        byte[] out = new byte[256];
        eq(p + "getBinVal count", 256, getBin.run(h, out, 0));
        eq(p + "binary round trip", all, out);
        eq(p + "string of binary cut at zero", "", get.apply(h));
        // Offsets: 10 bytes, offset 8, length 5 keep the last 2.
        byte[] ten = "0123456789".getBytes(StandardCharsets.US_ASCII);
        setBin.run(h, ten, 8, 5);
        eq(p + "offset 8 len 5", "89", get.apply(h));
        setBin.run(h, ten, 0, -1);
        eq(p + "negative len keeps", "89", get.apply(h));
        setBin.run(h, ten, -1, 3);
        eq(p + "negative offset keeps", "89", get.apply(h));
        setBin.run(h, ten, 10, 3);
        eq(p + "offset at end clears", 0, len.apply(h));
        setBin.run(h, ten, 2, 3);
        eq(p + "slice", "234", get.apply(h));
        setBin.run(h, ten, 2, 0);
        eq(p + "len 0 clears", 0, len.apply(h));
        setBin.run(h, ten, 0, 10);
        byte[] four = new byte[] {9, 9, 9, 9};
        eq(p + "getBinVal at offset 1", 3, getBin.run(h, four, 1));
        eq(p + "copied bytes reach the array", new byte[] {9, '0', '1', '2'}, four);
        eq(p + "getBinVal at offset 4", 0, getBin.run(h, four, 4));
        eq(p + "getBinVal at offset -1", -1, getBin.run(h, four, -1));
        // An empty array is an empty buffer, not a missing one.
        byte[] none = new byte[0];
        eq(p + "getBinVal into an empty array", 0, getBin.run(h, none, 0));
        eq(p + "getBinVal into an empty array at -1", -1, getBin.run(h, none, -1));
        setBin.run(h, none, -1, 1);
        eq(p + "empty array, negative offset keeps", 10, len.apply(h));
        setBin.run(h, none, 0, 1);
        eq(p + "empty array clears", 0, len.apply(h));
        setBin.run(h, ten, 0, 10);
        raises(p + "setBinVal null array", NPE, "null array", () -> setBin.run(h, null, 0, 1));
        raises(p + "getBinVal null array", NPE, "null array", () -> getBin.run(h, null, 0));
        eq(p + "after null arrays", "0123456789", get.apply(h));

        // String results are valid modified UTF-8: text unchanged, invalid bytes U+FFFD.
        String[][] utf = {
            {"68c3a96c6c6f", "h\u00e9llo"},
            {"e4b896", "\u4e16"},
            {"f09f9880", "\ud83d\ude00"},           // standard 4-byte UTF-8
            {"eda0bdedb880", "\ud83d\ude00"},       // modified UTF-8's surrogate pair
            {"c080", "\u0000"},
            {"ff41", "\ufffdA"},
            {"c3", "\ufffd"},
            {"e4b8", "\ufffd"},
            {"80c1bf41", "\ufffd\ufffdA"},
            {"e08080", "\ufffd\ufffd\ufffd"},  // overlong: each byte on its own
            {"f4908080", "\ufffd\ufffd\ufffd\ufffd"},  // above U+10FFFF
            {"61006263", "a"},
        };
        for (String[] c : utf) {
            byte[] b = java.util.HexFormat.of().parseHex(c[0]);
            setBin.run(h, b, 0, b.length);
            eq(p + "text of " + c[0], c[1], get.apply(h));
            eq(p + "value_get of " + c[0], c[1], vget.apply(h));
        }

        raises(p + "getVal 0", NPE, self, () -> get.apply(0L));
        raises(p + "value_get 0", NPE, self, () -> vget.apply(0L));
        raises(p + "getLength 0", NPE, self, () -> len.apply(0L));
        raises(p + "setVal 0", NPE, self, () -> setVal.run(0, "x"));
        raises(p + "setBinVal 0", NPE, self, () -> setBin.run(0, ten, 0, 1));
        raises(p + "setBinVal 0 null array", NPE, self, () -> setBin.run(0, null, 0, 1));
        raises(p + "getBinVal 0", NPE, self, () -> getBin.run(0, four, 0));
        if (sh) {
            MopraXJNI.delete_mopra_StringHolder(h);
            MopraXJNI.delete_mopra_StringHolder(0);
        } else {
            MopraXJNI.delete_mopra__StrHolder(h);
            MopraXJNI.delete_mopra__StrHolder(0);
        }
    }

    @Test
    void integralHolder() {
        long h = MopraXJNI.new_mopra__IntegralHolder();
        eq("integral new", 0L, MopraXJNI.mopra__IntegralHolder_getVal(h, null));
        MopraXJNI.mopra__IntegralHolder_setVal(h, null, Long.MIN_VALUE);
        eq("integral setVal", Long.MIN_VALUE, MopraXJNI.mopra__IntegralHolder_value_get(h, null));
        MopraXJNI.mopra__IntegralHolder_value_set(h, null, 77);
        eq("integral value_set", 77L, MopraXJNI.mopra__IntegralHolder_getVal(h, null));
        MopraXJNI.mopra__IntegralHolder_value_set(0, null, 1);
        String self = "mopra::IntegralHolder self is null";
        raises("integral getVal 0", NPE, self, () -> MopraXJNI.mopra__IntegralHolder_getVal(0, null));
        raises("integral value_get 0", NPE, self, () -> MopraXJNI.mopra__IntegralHolder_value_get(0, null));
        raises("integral setVal 0", NPE, self, () -> MopraXJNI.mopra__IntegralHolder_setVal(0, null, 1));
        MopraXJNI.delete_mopra__IntegralHolder(h);
        MopraXJNI.delete_mopra__IntegralHolder(0);
    }

    @Test
    void opHandleHolder() {
        long h = MopraXJNI.new_mopra__OpHandleHolder();
        ok("op new isNull", MopraXJNI.mopra__OpHandleHolder_isNull(h, null));
        String npe = "mopra__AutoPtr: null pointer";
        raises("op getAuth empty", RTE, npe, () -> MopraXJNI.mopra__OpHandleHolder_getAuth(h, null));
        raises("op getSource empty", RTE, npe, () -> MopraXJNI.mopra__OpHandleHolder_getSource(h, null));
        raises("op getFwseq empty", RTE, npe, () -> MopraXJNI.mopra__OpHandleHolder_getFwseq(h, null));
        raises("op getReason empty", RTE, npe, () -> MopraXJNI.mopra__OpHandleHolder_getReason(h, null));
        raises("op getSeq empty", RTE, npe, () -> MopraXJNI.mopra__OpHandleHolder_getSeq(h, null));
        raises("op getSession empty", RTE, npe, () -> MopraXJNI.mopra__OpHandleHolder_getSession(h, null));
        MopraXJNI.mopra__OpHandleHolder_setSeq(h, null, 5);
        eq("op getAuth after setSeq", "", MopraXJNI.mopra__OpHandleHolder_getAuth(h, null));
        ok("op owned after setSeq", !MopraXJNI.mopra__OpHandleHolder_isNull(h, null));
        MopraXJNI.mopra__OpHandleHolder_setAuth(h, null, "auth-\u00e9");
        MopraXJNI.mopra__OpHandleHolder_setSource(h, null, "src");
        MopraXJNI.mopra__OpHandleHolder_setFwseq(h, null, -3);
        MopraXJNI.mopra__OpHandleHolder_setReason(h, null, 4);
        MopraXJNI.mopra__OpHandleHolder_setSession(h, null, 1L << 40);
        eq("op auth", "auth-\u00e9", MopraXJNI.mopra__OpHandleHolder_getAuth(h, null));
        eq("op source", "src", MopraXJNI.mopra__OpHandleHolder_getSource(h, null));
        eq("op fwseq", -3, MopraXJNI.mopra__OpHandleHolder_getFwseq(h, null));
        eq("op reason", 4, MopraXJNI.mopra__OpHandleHolder_getReason(h, null));
        eq("op seq", 5L, MopraXJNI.mopra__OpHandleHolder_getSeq(h, null));
        eq("op session", 1L << 40, MopraXJNI.mopra__OpHandleHolder_getSession(h, null));
        raises("op setAuth null", NPE, "null string", () -> MopraXJNI.mopra__OpHandleHolder_setAuth(h, null, null));
        eq("op auth kept", "auth-\u00e9", MopraXJNI.mopra__OpHandleHolder_getAuth(h, null));
        MopraXJNI.mopra__OpHandleHolder_selfClone(h, null);  // already owner: nothing
        eq("op selfClone on owner", 5L, MopraXJNI.mopra__OpHandleHolder_getSeq(h, null));
        ok("op releaseIfNotOwner on owner", !MopraXJNI.mopra__OpHandleHolder_releaseIfNotOwner(h, null));
        eq("op survives", "src", MopraXJNI.mopra__OpHandleHolder_getSource(h, null));
        MopraXJNI.mopra__OpHandleHolder_release(h, null);
        ok("op released", MopraXJNI.mopra__OpHandleHolder_isNull(h, null));
        ok("op releaseIfNotOwner when empty", MopraXJNI.mopra__OpHandleHolder_releaseIfNotOwner(h, null));
        MopraXJNI.mopra__OpHandleHolder_ctor(h, null);
        ok("op ctor", !MopraXJNI.mopra__OpHandleHolder_isNull(h, null));
        eq("op ctor default seq", 0L, MopraXJNI.mopra__OpHandleHolder_getSeq(h, null));
        String self = "mopra::OpHandleHolder self is null";
        raises("op isNull 0", NPE, self, () -> MopraXJNI.mopra__OpHandleHolder_isNull(0, null));
        raises("op getAuth 0", NPE, self, () -> MopraXJNI.mopra__OpHandleHolder_getAuth(0, null));
        raises("op ctor 0", NPE, self, () -> MopraXJNI.mopra__OpHandleHolder_ctor(0, null));
        raises("op setSeq 0", NPE, self, () -> MopraXJNI.mopra__OpHandleHolder_setSeq(0, null, 1));
        raises("op setSource 0", NPE, self, () -> MopraXJNI.mopra__OpHandleHolder_setSource(0, null, "x"));
        MopraXJNI.delete_mopra__OpHandleHolder(h);
        MopraXJNI.delete_mopra__OpHandleHolder(0);
        // A holder deleted while it owns a handle frees it (no leak under the sanitizers).
        long o = MopraXJNI.new_mopra__OpHandleHolder();
        MopraXJNI.mopra__OpHandleHolder_setAuth(o, null, "x");
        MopraXJNI.delete_mopra__OpHandleHolder(o);
    }

    // String holders a test makes through holder() and bytes(), deleted after it.
    private final java.util.List<Long> made = new java.util.ArrayList<>();

    long holder(String s) {
        long h = s == null ? MopraXJNI.new_mopra__StrHolder() : str(s);
        made.add(h);
        return h;
    }

    long bytes(byte[] b) {
        long h = bin(b);
        made.add(h);
        return h;
    }

    @AfterEach
    void deleteMade() {
        for (long h : made) {
            MopraXJNI.delete_mopra__StrHolder(h);
        }
    }

    @Test
    void info() {
        String info = MopraXJNI.mopra__info();
        ok("info prefix", info.startsWith("Name:\t\t\tMopraX\nVersion:\t\t1.2.0\n"
                + "Description:\tShared types, util functions for Toka libraries\nBuild at:\t\t"));
        ok("info build time", info.matches("(?s).*Build at:\t\t[A-Z][a-z]{2} [ 0-9]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d\n"));
        eq("info stable", info, MopraXJNI.mopra__info());
    }

    @Test
    void hexing() {
        long in = holder("abc");
        long out = holder(null);
        eq("hexing", 0, MopraXJNI.mopra__hexing(out, null, in, null, 0));
        eq("hexing abc", "616263", val(out));
        long bytes = bytes(new byte[] {0, 0x0f, (byte) 0xf0, (byte) 0xff, (byte) 0x9a});
        eq("hexing binary", 0, MopraXJNI.mopra__hexing(out, null, bytes, null, 10));
        eq("hexing binary text", "000ff0ff9a", val(out));
        long back = holder(null);
        eq("unhexing", 0, MopraXJNI.mopra__unhexing(back, null, out, null, 0));
        eq("unhexing bytes", new byte[] {0, 0x0f, (byte) 0xf0, (byte) 0xff, (byte) 0x9a}, binOf(back));
        eq("unhexing odd", -11, MopraXJNI.mopra__unhexing(back, null, in, null, 0));
        // Aliasing: the same holder as output and input hexes the original input.
        long alias = holder("abc");
        eq("hexing aliased", 0, MopraXJNI.mopra__hexing(alias, null, alias, null, 0));
        eq("hexing aliased text", "616263", val(alias));
    }

    @Test
    void base64() {
        long in = holder("abc");
        long out = holder(null);
        long back = holder(null);
        eq("base64_encode", 0, MopraXJNI.mopra__base64_encode(out, null, in, null, 0));
        eq("base64 abc", "OM9Z", val(out));
        MopraXJNI.mopra__StrHolder_setVal(in, null, "ab");
        eq("base64_encode ab", 0, MopraXJNI.mopra__base64_encode(out, null, in, null, 0));
        eq("base64 ab unpadded", "OM8", val(out));
        eq("base64_decode", 0, MopraXJNI.mopra__base64_decode(back, null, out, null, 0));
        eq("base64_decode ab", "ab", val(back));
        long bad = holder("01*3");
        eq("base64_decode bad", -7, MopraXJNI.mopra__base64_decode(back, null, bad, null, 0));
    }

    @Test
    void hash() {
        // hash: kind 3 is Jenkins in the low 32 bits; unknown kinds give -1.
        long hashIn = holder("Four score and seven years ago");
        int h3 = MopraXJNI.mopra__hash(hashIn, null, 3);
        eq("hash 3 is the low half of hash64 3", h3, (int) MopraXJNI.mopra__hash64(hashIn, null, 3));
        eq("hash 3 is Jenkins", MopraXJNI.mopra__hash(hashIn, null, 1), h3);
        eq("hash 9", -1, MopraXJNI.mopra__hash(hashIn, null, 9));
        eq("hash64 9", -1L, MopraXJNI.mopra__hash64(hashIn, null, 9));
        ok("hash64 3 has Murmur above", (MopraXJNI.mopra__hash64(hashIn, null, 3) >>> 32) != 0);
    }

    @Test
    void compress() {
        // compress / decompress round trip (method 0: LZF).
        byte[] text = "abcabcabcabcabcabcabcabcabcabcabcabcabcabc".getBytes(StandardCharsets.US_ASCII);
        long plain = bytes(text);
        long packed = holder(null);
        long back = holder(null);
        eq("compress", 0, MopraXJNI.mopra__compress(packed, null, plain, null, 0, 0));
        ok("compress shrinks", MopraXJNI.mopra__StrHolder_getLength(packed, null) < text.length);
        eq("decompress", 0, MopraXJNI.mopra__decompress(back, null, packed, null, 0, 0));
        eq("decompress bytes", text, binOf(back));
        eq("decompress garbage", -5, MopraXJNI.mopra__decompress(back, null, holder("ab"), null, 0, 0));
    }

    @Test
    void noise() {
        // noise: 3 bytes or less are only Base64-encoded.
        long n = holder("ab");
        eq("noise ab", 0, MopraXJNI.mopra__noise(n, null));
        eq("noise ab text", "OM8", val(n));
        eq("denoise", 0, MopraXJNI.mopra__denoise(n, null));
        eq("denoise ab", "ab", val(n));
        long n2 = holder("a longer secret value");
        eq("noise long", 0, MopraXJNI.mopra__noise(n2, null));
        ok("noise long changed", !val(n2).equals("a longer secret value"));
        eq("denoise long", 0, MopraXJNI.mopra__denoise(n2, null));
        eq("denoise long back", "a longer secret value", val(n2));
        long bad = holder("01*3");
        eq("denoise bad", -7, MopraXJNI.mopra__denoise(bad, null));
        eq("denoise bad unchanged", "01*3", val(bad));
    }

    @Test
    void noise64() {
        long tok = holder(null);
        long ih = MopraXJNI.new_mopra__IntegralHolder();
        eq("noise64", 0, MopraXJNI.mopra__noise64(tok, null, -77, 123456789L));
        eq("noise64 length", 20, MopraXJNI.mopra__StrHolder_getLength(tok, null));
        eq("denoise64", 0, MopraXJNI.mopra__denoise64(ih, null, tok, null, 123456789L));
        eq("denoise64 value", -77L, MopraXJNI.mopra__IntegralHolder_getVal(ih, null));
        long len21 = holder("012345678901234567890");
        MopraXJNI.mopra__IntegralHolder_setVal(ih, null, 9);
        eq("denoise64 21 chars", -3, MopraXJNI.mopra__denoise64(ih, null, len21, null, 1));
        eq("denoise64 21 chars unchanged", 9L, MopraXJNI.mopra__IntegralHolder_getVal(ih, null));
        MopraXJNI.delete_mopra__IntegralHolder(ih);
    }

    @ParameterizedTest(name = "envelope round trip, padding {0}")
    @ValueSource(ints = {0, 1})
    void envelope(int pad) {
        long parts = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        MopraXJNI.std__vectorT_std__string_t_add(parts, null, "user-42");
        MopraXJNI.std__vectorT_std__string_t_add(parts, null, "session");
        long secret = holder("s3cret");
        long env = holder(null);
        long got = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        int rc = pad == 1 ? MopraXJNI.mopra__wma_encode_withpadding(env, null, parts, null, secret, null, 0, 0)
                : MopraXJNI.mopra__wma_encode(env, null, parts, null, secret, null, 0, 0);
        eq("wma_encode " + pad, 0, rc);
        ok("wma_encode text", MopraXJNI.mopra__StrHolder_getLength(env, null) > 0);
        eq("wma_decode " + pad, 0, MopraXJNI.mopra__wma_decode(got, null, env, null, secret, null, 0, -1));
        eq("wma parts", 2L, MopraXJNI.std__vectorT_std__string_t_size(got, null));
        eq("wma part 1", "session", MopraXJNI.std__vectorT_std__string_t_get(got, null, 1));
        long wrong = holder("other");
        ok("wma_decode wrong secret", MopraXJNI.mopra__wma_decode(got, null, env, null, wrong, null, 0, -1) < 0);
        for (long x : new long[] {parts, got}) {
            MopraXJNI.delete_std__vectorT_std__string_t(x);
        }
    }

    @Test
    void listFunctions() {
        long in = holder("ab");
        long hashIn = holder("Four score and seven years ago");
        long out = holder(null);
        long list = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        MopraXJNI.list_add_strholder(list, null, in, null);
        eq("list_add", "ab", MopraXJNI.std__vectorT_std__string_t_get(list, null, 0));
        eq("list_set", 0, MopraXJNI.list_set_strholder(list, null, hashIn, null, 0));
        eq("list_set value", "Four score and seven years ago", MopraXJNI.std__vectorT_std__string_t_get(list, null, 0));
        eq("list_set 1", -1, MopraXJNI.list_set_strholder(list, null, in, null, 1));
        eq("list_set -1", -1, MopraXJNI.list_set_strholder(list, null, in, null, -1));
        MopraXJNI.mopra__StrHolder_setVal(out, null, "keep");
        eq("list_get 1", -1, MopraXJNI.list_get_strholder(out, null, list, null, 1));
        eq("list_get 1 keeps", "keep", val(out));
        eq("list_get 0", 0, MopraXJNI.list_get_strholder(out, null, list, null, 0));
        eq("list_get 0 value", "Four score and seven years ago", val(out));
        MopraXJNI.delete_std__vectorT_std__string_t(list);
    }

    // Objects for the zero-handle cases: valid arguments before the zero one.
    static long out;
    static long in;
    static long list;
    static long ih;
    static long parts;
    static long got;
    static long env;

    @BeforeAll
    static void makeArguments() {
        out = MopraXJNI.new_mopra__StrHolder();
        in = str("ab");
        env = MopraXJNI.new_mopra__StrHolder();
        ih = MopraXJNI.new_mopra__IntegralHolder();
        list = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        MopraXJNI.list_add_strholder(list, null, in, null);
        parts = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        got = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
    }

    @AfterAll
    static void deleteArguments() {
        for (long x : new long[] {out, in, env}) {
            MopraXJNI.delete_mopra__StrHolder(x);
        }
        MopraXJNI.delete_mopra__IntegralHolder(ih);
        for (long x : new long[] {list, parts, got}) {
            MopraXJNI.delete_std__vectorT_std__string_t(x);
        }
    }

    // Zero reference handles: NullPointerException with the first failing check's text, in
    // argument order, and the answer 0.
    static Arguments zero(String name, String message, Executable call) {
        return Arguments.of(name, message, call);
    }

    static Stream<Arguments> zeroReferences() {
        return Stream.of(
            zero("hexing out", NPE_N1, () -> MopraXJNI.mopra__hexing(0, null, 0, null, 0)),
            zero("hexing in", NPE_N2, () -> MopraXJNI.mopra__hexing(out, null, 0, null, 0)),
            zero("unhexing out", NPE_N1, () -> MopraXJNI.mopra__unhexing(0, null, in, null, 0)),
            zero("unhexing in", NPE_N2, () -> MopraXJNI.mopra__unhexing(out, null, 0, null, 0)),
            zero("serialize out", NPE_N1, () -> MopraXJNI.mopra__serialize(0, null, 0, null, 0)),
            zero("serialize list", NPE_N3, () -> MopraXJNI.mopra__serialize(out, null, 0, null, 0)),
            zero("deserialize list", NPE_N4, () -> MopraXJNI.mopra__deserialize(0, null, 0, null)),
            zero("deserialize in", NPE_N2, () -> MopraXJNI.mopra__deserialize(list, null, 0, null)),
            zero("hash", NPE_N2, () -> MopraXJNI.mopra__hash(0, null, 1)),
            zero("hash64", NPE_N2, () -> MopraXJNI.mopra__hash64(0, null, 1)),
            zero("compress out", NPE_N1, () -> MopraXJNI.mopra__compress(0, null, 0, null, 0, 0)),
            zero("compress in", NPE_N2, () -> MopraXJNI.mopra__compress(out, null, 0, null, 0, 0)),
            zero("decompress out", NPE_N1, () -> MopraXJNI.mopra__decompress(0, null, 0, null, 0, 0)),
            zero("decompress in", NPE_N2, () -> MopraXJNI.mopra__decompress(out, null, 0, null, 0, 0)),
            zero("base64_encode out", NPE_N1, () -> MopraXJNI.mopra__base64_encode(0, null, 0, null, 0)),
            zero("base64_encode in", NPE_N2, () -> MopraXJNI.mopra__base64_encode(out, null, 0, null, 0)),
            zero("base64_decode out", NPE_N1, () -> MopraXJNI.mopra__base64_decode(0, null, 0, null, 0)),
            zero("base64_decode in", NPE_N2, () -> MopraXJNI.mopra__base64_decode(out, null, 0, null, 0)),
            zero("noise", NPE_N1, () -> MopraXJNI.mopra__noise(0, null)),
            zero("denoise", NPE_N1, () -> MopraXJNI.mopra__denoise(0, null)),
            zero("noise64", NPE_N1, () -> MopraXJNI.mopra__noise64(0, null, 1, 2)),
            zero("denoise64 out", NPE_N5, () -> MopraXJNI.mopra__denoise64(0, null, 0, null, 2)),
            zero("denoise64 in", NPE_N2, () -> MopraXJNI.mopra__denoise64(ih, null, 0, null, 2)),
            zero("wma_encode_withpadding out", NPE_N1,
                    () -> MopraXJNI.mopra__wma_encode_withpadding(0, null, 0, null, 0, null, 0, 0)),
            zero("wma_encode_withpadding parts", NPE_N3,
                    () -> MopraXJNI.mopra__wma_encode_withpadding(out, null, 0, null, 0, null, 0, 0)),
            zero("wma_encode_withpadding secret", NPE_N2,
                    () -> MopraXJNI.mopra__wma_encode_withpadding(out, null, parts, null, 0, null, 0, 0)),
            zero("wma_encode out", NPE_N1, () -> MopraXJNI.mopra__wma_encode(0, null, 0, null, 0, null, 0, 0)),
            zero("wma_encode parts", NPE_N3, () -> MopraXJNI.mopra__wma_encode(out, null, 0, null, 0, null, 0, 0)),
            zero("wma_encode secret", NPE_N2, () -> MopraXJNI.mopra__wma_encode(out, null, parts, null, 0, null, 0, 0)),
            zero("wma_decode parts", NPE_N4, () -> MopraXJNI.mopra__wma_decode(0, null, 0, null, 0, null, 0, 0)),
            zero("wma_decode in", NPE_N2, () -> MopraXJNI.mopra__wma_decode(got, null, 0, null, 0, null, 0, 0)),
            zero("wma_decode secret", NPE_N2, () -> MopraXJNI.mopra__wma_decode(got, null, env, null, 0, null, 0, 0)),
            zero("list_set list", NPE_N4, () -> MopraXJNI.list_set_strholder(0, null, 0, null, 0)),
            zero("list_set holder", NPE_N2, () -> MopraXJNI.list_set_strholder(list, null, 0, null, 0)),
            zero("list_get out", NPE_N1, () -> MopraXJNI.list_get_strholder(0, null, 0, null, 0)),
            zero("list_get list", NPE_N3, () -> MopraXJNI.list_get_strholder(out, null, 0, null, 0)),
            zero("list_add list", NPE_N4, () -> MopraXJNI.list_add_strholder(0, null, 0, null)),
            zero("list_add holder", NPE_N2, () -> MopraXJNI.list_add_strholder(list, null, 0, null)));
    }

    @ParameterizedTest(name = "zero handle {0}")
    @MethodSource("zeroReferences")
    void zeroReference(String name, String message, Executable call) {
        raises("zero handle " + name, NPE, message, call);
        eq("list unchanged by failures", 1L, MopraXJNI.std__vectorT_std__string_t_size(list, null));
    }

    /** Many objects made and destroyed: handles are distinct while alive. */
    @Test
    void lifecycle() {
        long[] hs = new long[1000];
        java.util.HashSet<Long> seen = new java.util.HashSet<>();
        for (int i = 0; i < hs.length; ++i) {
            hs[i] = MopraXJNI.new_mopra__StrHolder();
            MopraXJNI.mopra__StrHolder_setVal(hs[i], null, "v" + i);
            seen.add(hs[i]);
        }
        eq("distinct live handles", hs.length, seen.size());
        eq("values stay apart", "v999", val(hs[999]));
        for (long h : hs) {
            MopraXJNI.delete_mopra__StrHolder(h);
        }
    }
}
