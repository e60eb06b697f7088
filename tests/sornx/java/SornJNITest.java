import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.olm.toka.jni.sorn.SornJNI;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.stream.Stream;

import jsupport.ChildJvm;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * SornJNI on the real JVM (run with -Xcheck:jni): record operations and policies, slice
 * clamping, null/empty/binary data, handles, reopen, the exclusive open, contiguous
 * rollover, the partition-record clamp, 8 threads on one handle; then child JVMs
 * (SornScenario) whose native output (log-level gating, error reports, exit after
 * uninitialize) is checked line by line once they have exited.
 */
class SornJNITest {
    @TempDir
    static Path root;

    @BeforeEach
    void quiet() {
        SornJNI.sornx__setLogLevel(0);
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    private static Path dir(String name) throws IOException {
        return Files.createDirectories(root.resolve(name));
    }

    private static long openUniform(String home, String name, int partitions) {
        long h = SornJNI.new_SornGeneric();
        assertTrue(h != 0, "new_SornGeneric");
        assertTrue(SornJNI.SornGeneric_open(h, name, home, name, null, false, "uniform", partitions, 0,
                0L, null, null), "open uniform " + name);
        return h;
    }

    @Test
    void module() {
        assertTrue(SornJNI.sornx__initialize() == 1, "initialize answers 1");
        String info = SornJNI.sornx__info();
        String head = "Name:         SornX\nVersion:      1.0.0\nDescription:  Sorn for Toka libraries\n"
                + "Build at:     ";
        assertTrue(info != null && info.startsWith(head), "info head: " + info);
        assertTrue(info != null && info.substring(head.length())
                .matches("[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}"),
                "info stamp: " + info);
    }

    @ParameterizedTest(name = "log level {0} reads back")
    @ValueSource(ints = {7, -1, 5, 0})
    void logLevelReadsBack(int level) {
        SornJNI.sornx__setLogLevel(level);
        assertTrue(SornJNI.sornx__getLogLevel() == level, "level " + level);
    }

    @Test
    void recordsAndPolicies() throws IOException {
        String home = dir("records").toString();
        long h = openUniform(home, "rec", 4);
        assertTrue(SornJNI.SornGeneric_isOpen(h), "isOpen");
        assertTrue(!SornJNI.SornGeneric_isContiguous(h), "uniform is not contiguous");
        assertTrue(SornJNI.SornGeneric_get(h, "k1") == null, "get absent");
        assertTrue(!SornJNI.SornGeneric_exist(h, "k1"), "exist absent");
        assertTrue(SornJNI.SornGeneric_remove(h, "k1"), "remove absent answers true (+9)");
        assertTrue(SornJNI.SornGeneric_pop(h, "k1") == null, "pop absent");
        // Policies: 1 add, 2 update, 3 add or update; 0, 4, 7 (and others) refused.
        for (int bad : new int[] {0, 4, 7, -1, Integer.MAX_VALUE}) {
            assertTrue(!SornJNI.SornGeneric_put(h, "k1", ascii("x"), 0, -1, bad), "policy " + bad);
            assertTrue(!SornJNI.SornGeneric_putString(h, "k1", "x", bad), "putString policy " + bad);
        }
        assertTrue(!SornJNI.SornGeneric_exist(h, "k1"), "refused policies stored nothing");
        assertTrue(!SornJNI.SornGeneric_put(h, "k1", ascii("u"), 0, -1, 2), "update of absent");
        assertTrue(SornJNI.SornGeneric_put(h, "k1", ascii("a1"), 0, -1, 1), "add");
        assertTrue(!SornJNI.SornGeneric_put(h, "k1", ascii("a2"), 0, -1, 1), "add of present");
        assertTrue("a1".equals(SornJNI.SornGeneric_getAsString(h, "k1")), "add kept first value");
        assertTrue(SornJNI.SornGeneric_put(h, "k1", ascii("u1"), 0, -1, 2), "update");
        assertTrue("u1".equals(SornJNI.SornGeneric_getAsString(h, "k1")), "updated");
        assertTrue(SornJNI.SornGeneric_putString(h, "k1", "s1", 3), "add or update");
        assertTrue(Arrays.equals(SornJNI.SornGeneric_get(h, "k1"), ascii("s1")), "get bytes");
        assertTrue(SornJNI.SornGeneric_exist(h, "k1"), "exist");
        assertTrue("s1".equals(SornJNI.SornGeneric_popAsString(h, "k1")), "popAsString");
        assertTrue(!SornJNI.SornGeneric_exist(h, "k1"), "popped");
        assertTrue(SornJNI.SornGeneric_putString(h, "k2", "v2", 3), "put k2");
        assertTrue(Arrays.equals(SornJNI.SornGeneric_pop(h, "k2"), ascii("v2")), "pop bytes");
        assertTrue(SornJNI.SornGeneric_pop(h, "k2") == null, "second pop");
        assertTrue(SornJNI.SornGeneric_putString(h, "k3", "v3", 3), "put k3");
        assertTrue(SornJNI.SornGeneric_remove(h, "k3"), "remove");
        assertTrue(!SornJNI.SornGeneric_exist(h, "k3"), "removed");
        // size and clear of the partitioned stores: 0 and no change.
        assertTrue(SornJNI.SornGeneric_putString(h, "k4", "v4", 3), "put k4");
        assertTrue(SornJNI.SornGeneric_size(h) == 0, "size 0");
        SornJNI.SornGeneric_clear(h);
        assertTrue(SornJNI.SornGeneric_exist(h, "k4"), "clear leaves records");
        SornJNI.delete_SornGeneric(h);
    }

    private static byte[] ten() {
        byte[] ten = new byte[10];
        for (int i = 0; i < 10; i++) {
            ten[i] = (byte) i;
        }
        return ten;
    }

    // offset, length, and the slice of 0..9 that is stored: [from, to)
    static Stream<Arguments> slices() {
        return Stream.of(
                Arguments.of(-5, 4, 0, 4), Arguments.of(12, 3, 10, 10), Arguments.of(2, -1, 2, 10),
                Arguments.of(2, Integer.MAX_VALUE, 2, 10),
                Arguments.of(Integer.MAX_VALUE, Integer.MAX_VALUE, 10, 10),
                Arguments.of(Integer.MIN_VALUE, Integer.MIN_VALUE, 0, 10), Arguments.of(9, 2, 9, 10),
                Arguments.of(0, 10, 0, 10), Arguments.of(3, 0, 3, 3));
    }

    @ParameterizedTest(name = "put slice offset {0} length {1} stores [{2}, {3})")
    @MethodSource("slices")
    void sliceClamping(int off, int len, int from, int to) throws IOException {
        String k = "c" + off + "_" + len;
        long h = openUniform(dir("clamp" + k).toString(), "cl", 2);
        byte[] ten = ten();
        byte[] want = Arrays.copyOfRange(ten, from, to);
        assertTrue(SornJNI.SornGeneric_put(h, k, ten, off, len, 3), "put slice " + k);
        assertTrue(Arrays.equals(SornJNI.SornGeneric_get(h, k), want), "slice " + k);
        byte[] copy = ten();
        assertTrue(Arrays.equals(ten, copy), "the Java array is not written");
        SornJNI.delete_SornGeneric(h);
    }

    @Test
    void nullEmptyAndBinaryData() throws IOException {
        String home = dir("clamp").toString();
        long h = openUniform(home, "cl", 2);
        byte[] ten = ten();

        // Null and empty keys: refused without touching the store.
        assertTrue(!SornJNI.SornGeneric_put(h, null, ten, 0, 1, 3), "put null key");
        assertTrue(!SornJNI.SornGeneric_put(h, "", ten, 0, 1, 3), "put empty key");
        assertTrue(!SornJNI.SornGeneric_putString(h, null, "v", 3), "putString null key");
        assertTrue(SornJNI.SornGeneric_get(h, null) == null && SornJNI.SornGeneric_get(h, "") == null,
                "get null/empty key");
        assertTrue(SornJNI.SornGeneric_getAsString(h, "") == null, "getAsString empty key");
        assertTrue(SornJNI.SornGeneric_pop(h, null) == null, "pop null key");
        assertTrue(!SornJNI.SornGeneric_exist(h, "") && !SornJNI.SornGeneric_remove(h, null),
                "exist/remove empty key");
        // Null and empty values: stored as empty values.
        assertTrue(SornJNI.SornGeneric_put(h, "nullArray", null, 3, 7, 3), "put null array");
        byte[] got = SornJNI.SornGeneric_get(h, "nullArray");
        assertTrue(got != null && got.length == 0, "null array stored empty");
        assertTrue(SornJNI.SornGeneric_putString(h, "nullString", null, 3), "putString null value");
        assertTrue("".equals(SornJNI.SornGeneric_getAsString(h, "nullString")), "null string stored empty");
        assertTrue(SornJNI.SornGeneric_put(h, "emptyArray", new byte[0], 0, 0, 3), "put empty array");
        got = SornJNI.SornGeneric_pop(h, "emptyArray");
        assertTrue(got != null && got.length == 0, "pop empty value");

        // Binary values: every byte value, 0x00 and above 0x7f included.
        byte[] all = new byte[256];
        for (int i = 0; i < 256; i++) {
            all[i] = (byte) (255 - i);
        }
        assertTrue(SornJNI.SornGeneric_put(h, "binary", all, 0, -1, 3), "put binary");
        assertTrue(Arrays.equals(SornJNI.SornGeneric_get(h, "binary"), all), "binary round trip");
        byte[] big = new byte[1 << 20];
        for (int i = 0; i < big.length; i++) {
            big[i] = (byte) (i * 31);
        }
        assertTrue(SornJNI.SornGeneric_put(h, "big", big, 0, -1, 3), "put 1 MiB");
        assertTrue(Arrays.equals(SornJNI.SornGeneric_pop(h, "big"), big), "pop 1 MiB");
        // getAsString stops at the first zero byte.
        assertTrue(SornJNI.SornGeneric_put(h, "zero", new byte[] {'a', 'b', 0, 'c', 'd'}, 0, -1, 3),
                "put with NUL");
        assertTrue("ab".equals(SornJNI.SornGeneric_getAsString(h, "zero")), "getAsString cuts at NUL");
        assertTrue(SornJNI.SornGeneric_get(h, "zero").length == 5, "get keeps every byte");
        assertTrue("ab".equals(SornJNI.SornGeneric_popAsString(h, "zero")), "popAsString cuts at NUL");
        // Bytes that are not modified UTF-8 still give a string (no crash, no JNI warning).
        assertTrue(SornJNI.SornGeneric_put(h, "notutf8", new byte[] {'A', (byte) 0xff, (byte) 0x80,
                (byte) 0xc3, 'B', (byte) 0xe4}, 0, -1, 3), "put invalid UTF-8");
        String odd = SornJNI.SornGeneric_getAsString(h, "notutf8");
        assertTrue(odd != null && odd.startsWith("A"), "getAsString of invalid UTF-8: " + odd);
        // Non-ASCII keys and string values cross as modified UTF-8.
        String key = "ключ-\u00e9-\u4e2d";
        String value = "значение \u00ff \u4e2d\u6587";
        assertTrue(SornJNI.SornGeneric_putString(h, key, value, 3), "put non-ASCII");
        assertTrue(value.equals(SornJNI.SornGeneric_getAsString(h, key)), "non-ASCII string value");
        assertTrue(Arrays.equals(SornJNI.SornGeneric_get(h, key), value.getBytes(StandardCharsets.UTF_8)),
                "non-ASCII bytes are UTF-8");
        // Keys around the native side's inline key buffer (85 and 86 characters of 1, 2 and
        // 3 bytes each in modified UTF-8), a long key, and a key holding U+0000 (two bytes in
        // modified UTF-8, so it is not cut there).
        String[] keys = {
            "x".repeat(85), "y".repeat(86), "z".repeat(5000), "\u00e9".repeat(85),
            "\u00e9".repeat(86), "a\u0000b", "\u4e2d".repeat(85), "\u4e2d".repeat(86),
        };
        for (int i = 0; i < keys.length; i++) {
            assertTrue(SornJNI.SornGeneric_putString(h, keys[i], "kv" + i, 1), "put key #" + i);
        }
        for (int i = 0; i < keys.length; i++) {
            assertTrue(("kv" + i).equals(SornJNI.SornGeneric_getAsString(h, keys[i])), "get key #" + i);
            assertTrue(!SornJNI.SornGeneric_putString(h, keys[i], "again", 1), "add again key #" + i);
        }
        assertTrue(SornJNI.SornGeneric_get(h, "x".repeat(84)) == null, "a shorter key is another key");
        assertTrue(SornJNI.SornGeneric_get(h, "a") == null, "U+0000 does not end a key");
        assertTrue("kv5".equals(SornJNI.SornGeneric_popAsString(h, "a\u0000b")), "pop key with U+0000");
        SornJNI.delete_SornGeneric(h);
    }

    /** A put never writes the Java array back: concurrent Java writes to it survive. */
    @Test
    void putNeverWritesTheArrayBack() throws Exception {
        String home = dir("writeback").toString();
        long h = openUniform(home, "wb", 1);
        final byte[] shared = new byte[64 << 10];
        final int rounds = 2000000;
        final java.util.concurrent.atomic.AtomicBoolean done = new java.util.concurrent.atomic.AtomicBoolean();
        Thread putter = new Thread(() -> {
            while (!done.get()) {
                SornJNI.SornGeneric_put(h, "wb", shared, 0, 16, 3);
            }
        });
        putter.start();
        // Read-modify-write of a counter in the first four bytes: a copy-back by a put
        // would set it back to an older value.
        for (int i = 0; i < rounds; i++) {
            int c = (shared[0] & 0xff) | (shared[1] & 0xff) << 8 | (shared[2] & 0xff) << 16
                    | (shared[3] & 0xff) << 24;
            c++;
            shared[0] = (byte) c;
            shared[1] = (byte) (c >> 8);
            shared[2] = (byte) (c >> 16);
            shared[3] = (byte) (c >> 24);
        }
        done.set(true);
        putter.join();
        int c = (shared[0] & 0xff) | (shared[1] & 0xff) << 8 | (shared[2] & 0xff) << 16
                | (shared[3] & 0xff) << 24;
        assertTrue(c == rounds, "Java writes lost to a write-back: " + c + " of " + rounds);
        SornJNI.delete_SornGeneric(h);
    }

    @Test
    void handles() throws IOException {
        // A zero handle answers 0, false or null (the report is checked in a child JVM).
        SornJNI.delete_SornGeneric(0L);
        assertTrue(!SornJNI.SornGeneric_open(0L, "z", root.toString(), "z", null, false, "uniform", 1, 0,
                0L, null, null), "open on 0");
        SornJNI.SornGeneric_close(0L);
        SornJNI.SornGeneric_clear(0L);
        assertTrue(!SornJNI.SornGeneric_isOpen(0L) && !SornJNI.SornGeneric_isContiguous(0L), "is* on 0");
        assertTrue(SornJNI.SornGeneric_size(0L) == 0, "size on 0");
        assertTrue(SornJNI.SornGeneric_get(0L, "k") == null && SornJNI.SornGeneric_pop(0L, "k") == null,
                "get/pop on 0");
        assertTrue(SornJNI.SornGeneric_getAsString(0L, "k") == null
                && SornJNI.SornGeneric_popAsString(0L, "k") == null, "string reads on 0");
        assertTrue(!SornJNI.SornGeneric_put(0L, "k", new byte[1], 0, 1, 3)
                && !SornJNI.SornGeneric_putString(0L, "k", "v", 3), "puts on 0");
        assertTrue(!SornJNI.SornGeneric_exist(0L, "k") && !SornJNI.SornGeneric_remove(0L, "k"),
                "exist/remove on 0");

        // A handle that was never opened, or closed: failures, no crash.
        long h = SornJNI.new_SornGeneric();
        assertTrue(!SornJNI.SornGeneric_isOpen(h), "new object not open");
        assertTrue(SornJNI.SornGeneric_get(h, "k") == null, "get unopened");
        assertTrue(!SornJNI.SornGeneric_put(h, "k", new byte[1], 0, 1, 3), "put unopened");
        // Missing required arguments: false, an open store stays open.
        String home = dir("handles").toString();
        assertTrue(!SornJNI.SornGeneric_open(h, "hd", null, "hd", null, false, "uniform", 1, 0, 0L, null,
                null), "open without home");
        assertTrue(SornJNI.SornGeneric_open(h, "hd", home, "hd", null, false, "contiguous", 2, 0, 0L,
                null, null), "open contiguous");
        assertTrue(SornJNI.SornGeneric_isContiguous(h), "isContiguous");
        assertTrue(SornJNI.SornGeneric_put(h, "key1", ascii("v1"), 0, -1, 3), "contiguous put");
        assertTrue(!SornJNI.SornGeneric_put(h, "k", ascii("v"), 0, -1, 3), "contiguous 1-byte key");
        for (String[] a : new String[][] {{"", "hd", "uniform"}, {home, "", "uniform"},
                {home, "hd", ""}, {home, "hd", null}, {home, null, "uniform"}}) {
            assertTrue(!SornJNI.SornGeneric_open(h, "hd", a[0], a[1], null, false, a[2], 1, 0, 0L, null,
                    null), "open missing argument " + Arrays.toString(a));
            assertTrue(SornJNI.SornGeneric_isOpen(h), "store stays open " + Arrays.toString(a));
        }
        assertTrue(!SornJNI.SornGeneric_open(h, "", home, "x", null, false, "uniform", 1, 0, 0L, null,
                null) && !SornJNI.SornGeneric_open(h, null, home, "x", null, false, "uniform", 1, 0,
                0L, null, null), "open without name");
        assertTrue(SornJNI.SornGeneric_isOpen(h), "store still open");
        SornJNI.SornGeneric_close(h);
        assertTrue(!SornJNI.SornGeneric_isOpen(h), "closed");
        assertTrue(SornJNI.SornGeneric_isContiguous(h), "isContiguous after close");
        assertTrue(SornJNI.SornGeneric_get(h, "key1") == null, "get closed");
        assertTrue(SornJNI.SornGeneric_pop(h, "key1") == null, "pop closed");
        assertTrue(!SornJNI.SornGeneric_put(h, "key2", ascii("v"), 0, -1, 3), "put closed");
        assertTrue(!SornJNI.SornGeneric_exist(h, "key1") && !SornJNI.SornGeneric_remove(h, "key1"),
                "exist/remove closed");
        assertTrue(SornJNI.SornGeneric_size(h) == 0, "size closed");
        SornJNI.SornGeneric_clear(h);
        SornJNI.SornGeneric_close(h);
        // Reopen: the record is still there.
        assertTrue(SornJNI.SornGeneric_open(h, "hd", home, "hd", null, false, "contiguous", 2, 0, 0L,
                null, null), "reopen");
        assertTrue("v1".equals(SornJNI.SornGeneric_getAsString(h, "key1")), "record after reopen");
        // Open again while open over the same files: the old store goes first, nothing lost.
        assertTrue(SornJNI.SornGeneric_put(h, "key2", ascii("v2"), 0, -1, 3), "put key2");
        assertTrue(SornJNI.SornGeneric_open(h, "hd", home, "hd", null, true, "contiguous", 2, 0, 0L,
                null, null), "open while open");
        assertTrue("v1".equals(SornJNI.SornGeneric_getAsString(h, "key1"))
                && "v2".equals(SornJNI.SornGeneric_getAsString(h, "key2")), "records after re-open");
        // Open another store on the same object: the old one is replaced.
        String home2 = dir("handles2").toString();
        assertTrue(SornJNI.SornGeneric_open(h, "u2", home2, "u2", "kch", false, "uniform", 3, 0, 0L,
                "#bnum=1000", null), "switch to a uniform store");
        assertTrue(!SornJNI.SornGeneric_isContiguous(h), "now uniform");
        assertTrue(SornJNI.SornGeneric_get(h, "key1") == null, "other store");
        assertTrue(count(home2, "u2-", ".kch") == 3, "3 uniform partitions");
        SornJNI.delete_SornGeneric(h);
        // The contiguous store is free again (its claim went with the switch).
        long h2 = SornJNI.new_SornGeneric();
        assertTrue(SornJNI.SornGeneric_open(h2, "hd", home, "hd", null, false, "contiguous", 2, 0, 0L,
                null, null), "open after the other handle let go");
        assertTrue("v2".equals(SornJNI.SornGeneric_getAsString(h2, "key2")), "data kept");
        SornJNI.delete_SornGeneric(h2);
    }

    // A reopen of the same files that fails, before or after the old store was closed,
    // answers false and leaves the old store serving its records.
    // HOME is the store's home, BLOCKED a home below a plain file (cannot be made).
    @ParameterizedTest(name = "failed reopen ({3}) keeps the store")
    @CsvSource(nullValues = "null", value = {
        "HOME,    null, bogus,   checked up front",
        "HOME,    xyz,  uniform, store open fails",
        "BLOCKED, null, uniform, home not made",
    })
    void failedReopenKeepsTheStore(String where, String ext, String type, String why)
            throws IOException {
        String home = dir("reopen-" + type + "-" + ext + "-" + where).toString();
        Path blocker = Files.writeString(root.resolve("reopen-blocker-" + where + ext + type), "x");
        String[] c = where.equals("HOME") ? new String[] {home, ext, type, null}
                : new String[] {blocker + "/home", ext, type, home + "/fr-0.kch"};
        long h = openUniform(home, "fr", 2);
        assertTrue(SornJNI.SornGeneric_put(h, "k1", ascii("v1"), 0, -1, 3), "put k1");
        String what = Arrays.toString(c);
        assertTrue(!SornJNI.SornGeneric_open(h, "fr", c[0], "fr", c[1], false, c[2], 2, 0, 0L, null,
                c[3] == null ? null : new String[] {c[3]}), "failed reopen " + what);
        assertTrue(SornJNI.SornGeneric_isOpen(h), "still open " + what);
        assertTrue("v1".equals(SornJNI.SornGeneric_getAsString(h, "k1")), "k1 served " + what);
        assertTrue(SornJNI.SornGeneric_put(h, "k2", ascii("v2"), 0, -1, 3), "put " + what);
        SornJNI.delete_SornGeneric(h);
        long again = openUniform(home, "fr", 2);
        assertTrue("v2".equals(SornJNI.SornGeneric_getAsString(again, "k2")), "records kept");
        SornJNI.delete_SornGeneric(again);
    }

    @Test
    void exclusiveOpen() throws IOException {
        String home = dir("excl").toString();
        long a = openUniform(home, "ex", 2);
        long b = SornJNI.new_SornGeneric();
        assertTrue(SornJNI.SornGeneric_put(a, "k", ascii("from a"), 0, -1, 3), "put through a");
        assertTrue(!SornJNI.SornGeneric_open(b, "ex", home, "ex", null, false, "uniform", 2, 0, 0L, null,
                null), "second handle refused");
        assertTrue(!SornJNI.SornGeneric_open(b, "other", home + "/./", "ex", null, false, "uniform", 2, 0,
                0L, null, null), "same files by another path refused");
        assertTrue(!SornJNI.SornGeneric_open(b, "x", home, "ex-1", null, false, "uniform", 2, 0, 0L, null,
                null), "overlapping file names refused");
        assertTrue(!SornJNI.SornGeneric_open(b, "x", dir("excl-other").toString(), "z", null, false,
                "uniform", 4, 0, 0L, null, new String[] {home + "/ex-1.kch"}),
                "explicit path into the other store refused");
        assertTrue(SornJNI.SornGeneric_open(b, "ex2", home, "ex2", null, false, "uniform", 2, 0, 0L,
                null, null), "another store in the same home");
        SornJNI.SornGeneric_close(b);
        SornJNI.SornGeneric_close(a);
        assertTrue(SornJNI.SornGeneric_open(b, "ex", home, "ex", null, false, "uniform", 2, 0, 0L, null,
                null), "free after close");
        assertTrue("from a".equals(SornJNI.SornGeneric_getAsString(b, "k")), "nothing lost");
        SornJNI.delete_SornGeneric(a);
        SornJNI.delete_SornGeneric(b);
    }

    private static long count(String home, String prefix, String suffix) throws IOException {
        try (Stream<Path> s = Files.list(Path.of(home))) {
            return s.map(p -> p.getFileName().toString())
                    .filter(n -> n.startsWith(prefix) && n.endsWith(suffix)).count();
        }
    }

    @Test
    void contiguousRollover() throws IOException {
        // 10 records per partition, 2 live: 50 ascending keys make 5 partitions, 3 retire.
        String home = dir("roll").toString();
        long h = SornJNI.new_SornGeneric();
        assertTrue(SornJNI.SornGeneric_open(h, "roll", home, "roll", "kch", false, "contiguous", 2, 0,
                10L, null, null), "open contiguous");
        assertTrue(SornJNI.SornGeneric_isContiguous(h), "contiguous");
        for (int i = 0; i < 50; i++) {
            assertTrue(SornJNI.SornGeneric_put(h, String.format("key%04d", i), ascii("v" + i), 0, -1, 3),
                    "put " + i);
        }
        assertTrue(count(home, "roll-", ".obs") == 3, "3 retired partitions");
        assertTrue(count(home, "roll-", ".kch") == 2, "2 live partitions");
        assertTrue(Files.exists(Path.of(home, "roll.kct")), "meta database");
        assertTrue(SornJNI.SornGeneric_get(h, "key0000") == null, "retired keys are gone");
        assertTrue("v49".equals(SornJNI.SornGeneric_getAsString(h, "key0049")), "newest key");
        assertTrue("v30".equals(SornJNI.SornGeneric_getAsString(h, "key0030")), "older live key");
        SornJNI.SornGeneric_close(h);
        // Reopen: the live partitions come back.
        assertTrue(SornJNI.SornGeneric_open(h, "roll", home, "roll", "kch", false, "contiguous", 2, 0,
                10L, null, null), "reopen contiguous");
        assertTrue("v49".equals(SornJNI.SornGeneric_getAsString(h, "key0049")), "after reopen");
        assertTrue("v35".equals(SornJNI.SornGeneric_popAsString(h, "key0035")), "pop after reopen");
        SornJNI.delete_SornGeneric(h);

        // A record limit above 32 bits is clamped, not cut to its low bits (which would be 5).
        String home2 = dir("clamp64").toString();
        h = SornJNI.new_SornGeneric();
        assertTrue(SornJNI.SornGeneric_open(h, "big", home2, "big", null, false, "contiguous", 2, 0,
                (1L << 32) + 5, null, null), "open with 2^32+5 records");
        for (int i = 0; i < 20; i++) {
            assertTrue(SornJNI.SornGeneric_put(h, String.format("key%04d", i), ascii("v"), 0, -1, 3),
                    "put " + i);
        }
        assertTrue(count(home2, "big-", ".kch") == 1, "one partition for 20 records");
        assertTrue(count(home2, "big-", ".obs") == 0, "nothing retired");
        SornJNI.delete_SornGeneric(h);
    }

    @Test
    void explicitPathsArray() throws IOException {
        // Explicit paths with gaps: null and empty elements are skipped.
        String home = dir("paths").toString();
        String elsewhere = dir("paths-elsewhere").toString();
        long h = SornJNI.new_SornGeneric();
        assertTrue(SornJNI.SornGeneric_open(h, "pa", home, "pa", null, false, "uniform", 4, 0, 0L, null,
                new String[] {elsewhere + "/pa-3.kch", null, "", elsewhere + "/pa-1.kch"}),
                "open with paths");
        assertTrue(Files.exists(Path.of(elsewhere, "pa-3.kch")) && Files.exists(Path.of(elsewhere, "pa-1.kch")),
                "explicit partition files");
        assertTrue(!Files.exists(Path.of(home, "pa-3.kch")) && Files.exists(Path.of(home, "pa-0.kch")),
                "other partitions in home");
        SornJNI.delete_SornGeneric(h);
    }

    @Test
    void eightThreadsOnOneHandle() throws Exception {
        String home = dir("threads").toString();
        long h = openUniform(home, "th", 8);
        final int threads = 8;
        final int perThread = 150;
        final int n = threads * perThread;
        List<Thread> list = new ArrayList<>();
        AtomicInteger putFailures = new AtomicInteger();
        for (int t = 0; t < threads; t++) {
            final int base = t * perThread;
            list.add(new Thread(() -> {
                for (int i = base; i < base + perThread; i++) {
                    if (!SornJNI.SornGeneric_put(h, "key" + i, ascii("value" + i), 0, -1, 1)) {
                        putFailures.incrementAndGet();
                    }
                }
            }));
        }
        for (Thread t : list) {
            t.start();
        }
        for (Thread t : list) {
            t.join();
        }
        assertTrue(putFailures.get() == 0, "concurrent puts");
        // Every thread tries to pop every key: each key must come out exactly once.
        AtomicIntegerArray popped = new AtomicIntegerArray(n);
        AtomicInteger wrong = new AtomicInteger();
        list.clear();
        for (int t = 0; t < threads; t++) {
            final int start = t * 997;
            list.add(new Thread(() -> {
                for (int j = 0; j < n; j++) {
                    int i = (start + j) % n;
                    byte[] v = SornJNI.SornGeneric_pop(h, "key" + i);
                    if (v != null) {
                        popped.incrementAndGet(i);
                        if (!Arrays.equals(v, ascii("value" + i))) {
                            wrong.incrementAndGet();
                        }
                    }
                }
            }));
        }
        for (Thread t : list) {
            t.start();
        }
        for (Thread t : list) {
            t.join();
        }
        int notOnce = 0;
        for (int i = 0; i < n; i++) {
            if (popped.get(i) != 1) {
                notOnce++;
            }
        }
        assertTrue(notOnce == 0, notOnce + " keys not popped exactly once");
        assertTrue(wrong.get() == 0, "popped values");
        SornJNI.delete_SornGeneric(h);
    }

    // ---- child JVMs: the native output after exit ------------------------------------

    private static final String UNKNOWN_TYPE =
            "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: Unknown distrib-type";
    private static final String ZERO_HANDLE =
            "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: SornGeneric handle is 0";
    private static final String REFUSED =
            "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: Store files are already opened by another handle";
    private static final String CONTIGUOUS_WARN =
            "[WRN] OpenKCFromConfig: distribType is contiguous while KType is string type!";

    private static List<String> child(List<String> jvmOptions, String... args) throws Exception {
        return ChildJvm.runClean(root, jvmOptions, "SornScenario", args).lines;
    }

    private static void expectLine(List<String> lines, String line, boolean present, String what) {
        assertEquals(present, lines.contains(line),
                () -> what + ": \"" + line + "\" " + (present ? "missing" : "unexpected") + " in\n"
                        + String.join("\n", lines));
    }

    // Each level in a child JVM of its own; the store's listing line
    // "Partition[1]: HOME/lv-1.kch" marks where the scenario's lines begin.
    @ParameterizedTest(name = "log level {0} gates the native lines")
    @ValueSource(ints = {-1, 0, 3, 4, 5, 7})
    void logLevelGating(int level) throws Exception {
        String home = dir("levels" + level).toString();
        List<String> all = child(List.of(), "levels", home, Integer.toString(level));
        int from = all.indexOf("Partition[1]: " + home + "/lv-1.kch");
        int to = all.size();
        String at = "level " + level;
        assertTrue(from >= 0 && to > from, at + ": section markers");
        List<String> lines = all.subList(from, to);
        boolean info = level > 3;
        boolean debug = level > 4;
        expectLine(lines, "[inf] get: key is empty or memory is overflow!", info, at);
        expectLine(lines, "[inf] put: key is empty or memory is overflow!", info, at);
        expectLine(lines, "[inf] popAsString: key is empty or memory is overflow!", info, at);
        expectLine(lines, "[dbg] put: key[1]=\"k\", value[3]=\"abc\"", debug, at);
        expectLine(lines, "[dbg] put: key[1]=\"p\", value[3]=\"xyz\"", debug, at);
        expectLine(lines, "[dbg] put: key[1]=\"n\", value[0]=\"<null>\"", debug, at);
        expectLine(lines, "[dbg] get: key[1]=\"k\"", debug, at);
        expectLine(lines, "[dbg] exist: key[1]=\"k\"", debug, at);
        expectLine(lines, UNKNOWN_TYPE, true, at);
        expectLine(lines, ZERO_HANDLE, true, at);
        long infos = lines.stream()
                .filter(l -> l.equals("[inf] get: key is empty or memory is overflow!")).count();
        assertTrue(infos == (info ? 2 : 0), at + ": empty-key lines for get " + infos);
        assertTrue(debug || lines.stream().noneMatch(l -> l.startsWith("[dbg]")), at + ": no dbg lines");
    }

    @Test
    void childExclusiveOpenReport() throws Exception {
        List<String> lines = child(List.of(), "exclusive", dir("child-excl").toString());
        expectLine(lines, REFUSED, true, "exclusive");
    }

    @Test
    void childPopWithoutHeapKeepsTheRecord() throws Exception {
        List<String> lines = child(List.of("-Xmx24m"), "oom", dir("child-oom").toString());
        expectLine(lines, "oom: pop raised OutOfMemoryError: true", true, "oom");
    }

    @Test
    void childExitAfterUninitialize() throws Exception {
        List<String> lines = child(List.of(), "exit", dir("child-exit").toString());
        expectLine(lines, CONTIGUOUS_WARN, true, "exit");
        expectLine(lines, "scenario exit done", true, "exit");
        expectLine(lines, "[ERR] sornx__uninitialize: 1 SornGeneric objects are alive: the allocator keeps running",
                true, "exit: stop refused under a live store");
        assertTrue(lines.stream().filter(l -> l.startsWith("uninit xallocator")).count() == 3,
                "exit: the allocator stopped once, after the store went");
    }
}
