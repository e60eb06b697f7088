import static org.junit.jupiter.api.Assertions.assertTrue;

import com.olm.toka.jni.tessi.TessiJNI;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Stream;
import java.util.zip.CRC32;

import jsupport.ChildJvm;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.NullAndEmptySource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * TessiJNI on the real JVM (run with -Xcheck:jni): module functions, put modes, flags,
 * expiry, compression, eviction, pop/remove/exist/clear/size, the NUL cut, empty, null and
 * binary data, zero handles, 16 threads on one tiny cache, pops under writers of the same
 * key; then child JVMs (TessiScenario) whose native output (log-level gating, refused sizes,
 * uninitialize, first caches made at once) is checked line by line once they have exited.
 * The module is initialized first.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class TessiJNITest {
    @TempDir
    static Path root;

    @BeforeEach
    void quiet() {
        TessiJNI.tessix__setLogLevel(0);
    }

    static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    static byte[] filled(int n, char c) {
        byte[] b = new byte[n];
        Arrays.fill(b, (byte) c);
        return b;
    }

    static long now() {
        return System.currentTimeMillis() / 1000;
    }

    /** Bytes in use in the normal allocator's pools, from memstat's normal section. */
    static long usedBytes() {
        long used = 0;
        for (String line : TessiJNI.tessix__memstat(1).split("\n")) {
            if (!line.startsWith(" * ")) {
                continue;
            }
            long cls = field(line, "class_size");
            used += (field(line, "total_chunks") - field(line, "free_chunks")) * cls;
        }
        return used;
    }

    static long field(String line, String key) {
        int at = line.indexOf(key + "=");
        int end = line.indexOf(" | ", at);
        return Long.parseLong(line.substring(at + key.length() + 1, end));
    }

    @Test
    @Order(1)
    void module() {
        assertTrue(TessiJNI.tessix__initialize(10000) == 1, "initialize answers 1");
        String info = TessiJNI.tessix__info();
        String head = "Name:         TessiX\nVersion:      1.0.0\n"
                + "Description:  Tessi, WNfQueue for Toka libraries\nBuild at:     ";
        assertTrue(info != null && info.startsWith(head), "info head: " + info);
        assertTrue(info != null && info.substring(head.length())
                .matches("[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}"),
                "info stamp: " + info);
        for (int kind : new int[] {4, -1, 99}) {
            assertTrue("".equals(TessiJNI.tessix__memstat(kind)), "memstat kind " + kind);
        }
        String normal = TessiJNI.tessix__memstat(1);
        String big = TessiJNI.tessix__memstat(2);
        String huge = TessiJNI.tessix__memstat(3);
        for (String s : new String[] {normal, big, huge}) {
            assertTrue(s.startsWith("page_size=") && s.endsWith(" | \n\n"), "section shape: " + s);
            String[] l = s.split("\n", -1);
            assertTrue(l[1].startsWith("class_size_factor="), "slab line: " + l[1]);
            for (int i = 2; i < l.length - 2; i++) {
                assertTrue(l[i].startsWith(" * class_size=") && l[i].endsWith(" | "), "pool line " + l[i]);
            }
        }
        String all = TessiJNI.tessix__memstat(0);
        String[] sections = all.split("\n\n", -1);
        assertTrue(sections.length == 4 && sections[3].isEmpty(), "three sections");
        assertTrue(sections[0].split(" ")[0].equals(huge.split(" ")[0])
                && sections[1].split(" ")[0].equals(big.split(" ")[0])
                && sections[2].split(" ")[0].equals(normal.split(" ")[0]), "huge, big, normal order");
    }

    @Test
    void defaultsAndSettings() {
        long h = TessiJNI.new_TessiGeneric(1000, 100);
        assertTrue(h != 0, "new cache");
        assertTrue(TessiJNI.TessiGeneric_getTblSize(h) == 1000 && TessiJNI.TessiGeneric_getLruSize(h) == 100,
                "sizes");
        assertTrue(TessiJNI.TessiGeneric_getCompressMed(h) == 0, "method 0");
        assertTrue(TessiJNI.TessiGeneric_getThresholdComp(h) == 128, "threshold 128");
        assertTrue(TessiJNI.TessiGeneric_getExpTime(h) == 3600, "expTime 3600");
        TessiJNI.TessiGeneric_setThresholdComp(h, -1);
        TessiJNI.TessiGeneric_setCompressMed(h, 3);
        TessiJNI.TessiGeneric_setCompressMed(h, -1);
        TessiJNI.TessiGeneric_setExpTime(h, -1);
        assertTrue(TessiJNI.TessiGeneric_getThresholdComp(h) == 128 && TessiJNI.TessiGeneric_getCompressMed(h) == 0
                && TessiJNI.TessiGeneric_getExpTime(h) == 3600, "refused settings kept");
        TessiJNI.TessiGeneric_setThresholdComp(h, 0);
        TessiJNI.TessiGeneric_setCompressMed(h, 2);
        TessiJNI.TessiGeneric_setExpTime(h, 0);
        assertTrue(TessiJNI.TessiGeneric_getThresholdComp(h) == 0 && TessiJNI.TessiGeneric_getCompressMed(h) == 2
                && TessiJNI.TessiGeneric_getExpTime(h) == 0, "accepted settings");
        TessiJNI.delete_TessiGeneric(h);
    }

    static Stream<Arguments> refusedSizes() {
        return Stream.of(Arguments.of(0L, 10L), Arguments.of(1L, 10L), Arguments.of(-5L, 10L),
                Arguments.of(Long.MIN_VALUE, 10L), Arguments.of(1L << 40, 10L), Arguments.of(Long.MAX_VALUE, 10L),
                Arguments.of(100L, 0L), Arguments.of(100L, -1L), Arguments.of(100L, Long.MIN_VALUE));
    }

    // Refused sizes give handle 0 (the error line is checked in a child JVM).
    @ParameterizedTest(name = "sizes {0}, {1} are refused")
    @MethodSource("refusedSizes")
    void refusedSizes(long tblSize, long lruSize) {
        assertTrue(TessiJNI.new_TessiGeneric(tblSize, lruSize) == 0, "refused sizes " + tblSize + "," + lruSize);
    }

    @Test
    void smallestSizes() {
        long small = TessiJNI.new_TessiGeneric(2, 1);
        assertTrue(small != 0, "smallest sizes accepted");
        assertTrue(TessiJNI.TessiGeneric_putString(small, "a", "1", true, 0, 3)
                && TessiJNI.TessiGeneric_putString(small, "b", "2", true, 0, 3), "puts");
        assertTrue(TessiJNI.TessiGeneric_size(small) == 1 && "2".equals(TessiJNI.TessiGeneric_getAsString(small, "b")),
                "LRU size 1 keeps the newest");
        TessiJNI.delete_TessiGeneric(small);
    }

    @ParameterizedTest(name = "put mode {0} is refused")
    @ValueSource(ints = {0, 4, -1, 7, Integer.MAX_VALUE})
    void refusedPutModes(int bad) {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        assertTrue(!TessiJNI.TessiGeneric_put(h, "k", ascii("x"), 0, -1, true, 0, bad), "mode " + bad);
        assertTrue(!TessiJNI.TessiGeneric_putString(h, "k", "x", true, 0, bad), "putString mode " + bad);
        assertTrue(!TessiJNI.TessiGeneric_exist(h, "k", false), "refused modes stored nothing");
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void putModes() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        assertTrue(!TessiJNI.TessiGeneric_putString(h, "k", "u", true, 0, 2), "update of missing");
        assertTrue(!TessiJNI.TessiGeneric_exist(h, "k", false), "update stored nothing");
        assertTrue(TessiJNI.TessiGeneric_putString(h, "k", "a1", true, 0, 1), "add");
        assertTrue(!TessiJNI.TessiGeneric_putString(h, "k", "a2", true, 0, 1), "add of present");
        assertTrue("a1".equals(TessiJNI.TessiGeneric_getAsString(h, "k")), "add kept the old value");
        assertTrue(TessiJNI.TessiGeneric_putString(h, "k", "u1", true, 0, 2), "update");
        assertTrue("u1".equals(TessiJNI.TessiGeneric_getAsString(h, "k")), "updated");
        assertTrue(TessiJNI.TessiGeneric_put(h, "k", ascii("s1"), 0, -1, true, 0, 3), "add or update present");
        assertTrue(TessiJNI.TessiGeneric_put(h, "k2", ascii("s2"), 0, -1, true, 0, 3), "add or update missing");
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, "k"), ascii("s1")), "get bytes");
        assertTrue(TessiJNI.TessiGeneric_size(h) == 2, "size 2");
        TessiJNI.delete_TessiGeneric(h);
    }

    // op, value, flags after the op on 0x0F0F
    @ParameterizedTest(name = "flag op {0} with {1} gives {2}")
    @CsvSource({"1, 0x12345, 0x2345", "2, 0x00FF, 0x000F", "3, 0xF000, 0xFF0F", "4, 0x0FF0, 0x00FF",
        "5, 999, 0xF0F0"})
    void flagOps(int op, String value, String after) {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        TessiJNI.TessiGeneric_putString(h, "f", "v", false, 0, 3);
        int v = Integer.decode(value);
        int want = Integer.decode(after);
        assertTrue(TessiJNI.TessiGeneric_setItemFlag(h, "f", 0x0F0F, 1), "reset flags");
        assertTrue(TessiJNI.TessiGeneric_setItemFlag(h, "f", v, op), "op " + op);
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "f") == (short) want,
                "op " + op + " gives " + TessiJNI.TessiGeneric_getItemFlag(h, "f"));
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void flags() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        assertTrue(TessiJNI.TessiGeneric_putString(h, "f", "v", false, 0, 3), "put flag false");
        assertTrue(TessiJNI.TessiGeneric_exist(h, "f", false), "exist without check");
        assertTrue(!TessiJNI.TessiGeneric_exist(h, "f", true), "exist with check: unreadable");
        assertTrue(TessiJNI.TessiGeneric_get(h, "f") == null && TessiJNI.TessiGeneric_getAsString(h, "f") == null,
                "get unreadable");
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "f") == 1, "flags 1");
        assertTrue(TessiJNI.TessiGeneric_setItemFlag(h, "f", 0xFFFC, 2), "C_AND");
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "f") == 0 && "v".equals(TessiJNI.TessiGeneric_getAsString(h, "f")),
                "readable after C_AND 0xFFFC");
        TessiJNI.TessiGeneric_setItemFlag(h, "f", 0xF0F0, 1);
        for (int bad : new int[] {0, 6, -1}) {
            assertTrue(!TessiJNI.TessiGeneric_setItemFlag(h, "f", 0, bad), "op " + bad + " refused");
        }
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "f") == (short) 0xF0F0, "refused ops leave flags");
        TessiJNI.TessiGeneric_setItemFlag(h, "f", 0, 1);
        TessiJNI.TessiGeneric_setItemFlag(h, "f", 0, 5);
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "f") == -1, "all ones read as -1");
        assertTrue(TessiJNI.TessiGeneric_setItemFlag(h, "f", 0x8000, 1)
                && TessiJNI.TessiGeneric_getItemFlag(h, "f") == -32768, "sign widened");
        assertTrue(TessiJNI.TessiGeneric_setItemFlag(h, "f", 2, 1) && !TessiJNI.TessiGeneric_exist(h, "f", true),
                "bit 1 unreadable");
        assertTrue(TessiJNI.TessiGeneric_setItemFlag(h, "f", 4, 1) && TessiJNI.TessiGeneric_exist(h, "f", true),
                "bit 2 readable");
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "missing") == -1, "flag of missing");
        assertTrue(!TessiJNI.TessiGeneric_setItemFlag(h, "missing", 0, 1), "set flag of missing");
        // pop of an unreadable item removes it and answers null.
        assertTrue(TessiJNI.TessiGeneric_putString(h, "u", "v", false, 0, 3), "put unreadable");
        assertTrue(TessiJNI.TessiGeneric_pop(h, "u") == null && !TessiJNI.TessiGeneric_exist(h, "u", false),
                "pop of unreadable");
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void expiry() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        assertTrue(TessiJNI.TessiGeneric_putString(h, "e", "v", true, -1, 3), "put expired");
        assertTrue(TessiJNI.TessiGeneric_exist(h, "e", false), "expired item is still there");
        assertTrue(TessiJNI.TessiGeneric_size(h) == 1, "and counts");
        assertTrue(TessiJNI.TessiGeneric_getItemTimeExp(h, "e") < 0, "negative time left");
        assertTrue(TessiJNI.TessiGeneric_get(h, "e") == null, "get of expired");
        assertTrue(!TessiJNI.TessiGeneric_exist(h, "e", false), "get removed it");
        assertTrue(TessiJNI.TessiGeneric_putString(h, "e", "v", true, -1, 3)
                && !TessiJNI.TessiGeneric_exist(h, "e", true) && !TessiJNI.TessiGeneric_exist(h, "e", false),
                "exist with check removes the expired item");
        assertTrue(TessiJNI.TessiGeneric_putString(h, "e", "v", true, -1, 3)
                && TessiJNI.TessiGeneric_popAsString(h, "e") == null && !TessiJNI.TessiGeneric_exist(h, "e", false),
                "pop of expired: null and gone");
        TessiJNI.delete_TessiGeneric(h);
    }

    // Past 2,147 s the microseconds no longer fit 32 bits: 3600 and beyond must work.
    @ParameterizedTest(name = "expiry of {0} s reads back")
    @ValueSource(ints = {60, 2147, 2148, 3600, 86400 * 365, 2000000000, Integer.MAX_VALUE})
    void longExpiry(int e) {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        assertTrue(TessiJNI.TessiGeneric_putString(h, "l", "v", true, e, 3), "put expire " + e);
        long left = TessiJNI.TessiGeneric_getItemTimeExp(h, "l");
        long want = Math.min(e, 0xFFFFFFFFL - now());
        want = Math.min(want, Integer.MAX_VALUE);
        assertTrue(left <= want && left >= want - 2, "expire " + e + ": left " + left + " want " + want);
        assertTrue("v".equals(TessiJNI.TessiGeneric_getAsString(h, "l")), "readable, expire " + e);
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void extensions() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        assertTrue(TessiJNI.TessiGeneric_putString(h, "l", "v", true, 3600, 3), "put 3600");
        int left = TessiJNI.TessiGeneric_getItemTimeExp(h, "l");
        assertTrue(left == 3600 || left == 3599, "3600 reads back as " + left);
        assertTrue(TessiJNI.TessiGeneric_extItemTimeExp(h, "l", 100), "extend");
        left = TessiJNI.TessiGeneric_getItemTimeExp(h, "l");
        assertTrue(left >= 3698 && left <= 3700, "extended to " + left);
        // Extensions and the time left are 32-bit arithmetic: now + MAX + MAX wraps to now - 2.
        for (int attempt = 0; ; attempt++) {
            long t0 = now();
            assertTrue(TessiJNI.TessiGeneric_putString(h, "w", "v", true, Integer.MAX_VALUE, 3)
                    && TessiJNI.TessiGeneric_extItemTimeExp(h, "w", Integer.MAX_VALUE), "put and extend by MAX");
            int wrapped = TessiJNI.TessiGeneric_getItemTimeExp(h, "w");
            boolean gone = TessiJNI.TessiGeneric_getAsString(h, "w") == null;
            if (now() != t0 && attempt < 5) {
                continue;  // a second passed in between: the figures moved
            }
            assertTrue(wrapped == -2, "wrapped extension leaves " + wrapped);
            assertTrue(gone, "wrapped extension expires the item");
            break;
        }
        assertTrue(!TessiJNI.TessiGeneric_extItemTimeExp(h, "missing", 5), "extend missing");
        assertTrue(TessiJNI.TessiGeneric_getItemTimeExp(h, "missing") == -1, "time of missing");
        // No expiry: minus the current time; a positive extension then makes it expired.
        assertTrue(TessiJNI.TessiGeneric_putString(h, "n", "v", true, 0, 3), "put without expiry");
        long minus = TessiJNI.TessiGeneric_getItemTimeExp(h, "n");
        assertTrue(Math.abs(minus + now()) <= 2, "minus the current time: " + minus);
        assertTrue(TessiJNI.TessiGeneric_extItemTimeExp(h, "n", 0) && "v".equals(TessiJNI.TessiGeneric_getAsString(h, "n")),
                "extension by 0 keeps no expiry");
        assertTrue(TessiJNI.TessiGeneric_extItemTimeExp(h, "n", 60), "extend no-expiry item");
        assertTrue(TessiJNI.TessiGeneric_exist(h, "n", false) && TessiJNI.TessiGeneric_get(h, "n") == null
                && !TessiJNI.TessiGeneric_exist(h, "n", false), "expired and removed by get");
        // Flags and expiry queries do not consult the expiry.
        assertTrue(TessiJNI.TessiGeneric_putString(h, "x", "v", true, -10, 3), "put expired");
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, "x") == 0 && TessiJNI.TessiGeneric_setItemFlag(h, "x", 8, 3),
                "flags of an expired item");
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void compression() {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        // 128 bytes stay as they are (a pooled block); 129 compress to a few bytes, which
        // the string keeps inline: the pools' used bytes tell the two apart.
        long before = usedBytes();
        assertTrue(TessiJNI.TessiGeneric_put(h, "c128", filled(128, 'a'), 0, -1, true, 0, 3), "put 128");
        long raw = usedBytes() - before;
        before = usedBytes();
        assertTrue(TessiJNI.TessiGeneric_put(h, "c129", filled(129, 'a'), 0, -1, true, 0, 3), "put 129");
        long packed = usedBytes() - before;
        assertTrue(raw >= packed + 128, "128 raw (" + raw + " B), 129 compressed (" + packed + " B)");
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, "c129"), filled(129, 'a')), "decompressed bytes");
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, "c128"), filled(128, 'a')), "raw bytes");
        // Methods 0 and 2 store as they are.
        for (int method : new int[] {0, 2}) {
            TessiJNI.TessiGeneric_setCompressMed(h, method);
            before = usedBytes();
            TessiJNI.TessiGeneric_put(h, "m" + method, filled(1000, 'b'), 0, -1, true, 0, 3);
            assertTrue(usedBytes() - before >= 1000, "method " + method + " stores raw");
        }
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        // NUL cut: uncompressed and compressed give the text before the NUL.
        byte[] withNul = filled(300, 'q');
        withNul[10] = 0;
        TessiJNI.TessiGeneric_setCompressMed(h, 0);
        TessiJNI.TessiGeneric_put(h, "nul0", withNul, 0, -1, true, 0, 3);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        TessiJNI.TessiGeneric_put(h, "nul1", withNul, 0, -1, true, 0, 3);
        assertTrue("qqqqqqqqqq".equals(TessiJNI.TessiGeneric_getAsString(h, "nul0")), "NUL cut raw");
        assertTrue("qqqqqqqqqq".equals(TessiJNI.TessiGeneric_getAsString(h, "nul1")), "NUL cut compressed");
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, "nul1"), withNul), "bytes keep the NUL");
        // A stored value keeps its method after the setting changes.
        TessiJNI.TessiGeneric_setCompressMed(h, 0);
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, "c129"), filled(129, 'a')), "method kept");
        TessiJNI.delete_TessiGeneric(h);
    }

    // Lengths whose decompressed size + 4 is a class size: the text's NUL must not land
    // on the next chunk (a later free would crash), and the string ends at the data.
    @ParameterizedTest(name = "{0} compressed bytes read back whole")
    @ValueSource(ints = {129, 133, 167, 210, 278, 365, 500, 4096, 65536, 200000})
    void compressedLengths(int n) {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        byte[] v = filled(n, 'z');
        v[n / 2] = 'y';
        String key = "f3-" + n;
        assertTrue(TessiJNI.TessiGeneric_put(h, key, v, 0, -1, true, 0, 3), "put " + n);
        String s = TessiJNI.TessiGeneric_getAsString(h, key);
        assertTrue(s != null && s.length() == n && s.equals(new String(v, StandardCharsets.US_ASCII)),
                "getAsString " + n);
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, key), v), "get " + n);
        assertTrue(n != 133 || new String(v, StandardCharsets.US_ASCII).equals(
                TessiJNI.TessiGeneric_popAsString(h, key)), "popAsString " + n);
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void evictionAndOps() {
        long h = TessiJNI.new_TessiGeneric(16, 3);
        for (String k : new String[] {"a", "b", "c"}) {
            TessiJNI.TessiGeneric_putString(h, k, k, true, 0, 3);
        }
        assertTrue(TessiJNI.TessiGeneric_getAsString(h, "a") != null, "hit moves a to the head");
        assertTrue(TessiJNI.TessiGeneric_exist(h, "b", false), "exist without check does not move b");
        TessiJNI.TessiGeneric_putString(h, "d", "d", true, 0, 3);
        assertTrue(TessiJNI.TessiGeneric_size(h) == 3, "size stays 3");
        assertTrue(!TessiJNI.TessiGeneric_exist(h, "b", false), "b (least recently used) evicted");
        assertTrue(TessiJNI.TessiGeneric_exist(h, "a", false) && TessiJNI.TessiGeneric_exist(h, "c", false),
                "a and c kept");
        // Every query with an LRU move protects its key.
        TessiJNI.TessiGeneric_getItemFlag(h, "c");
        TessiJNI.TessiGeneric_putString(h, "e", "e", true, 0, 3);
        assertTrue(!TessiJNI.TessiGeneric_exist(h, "a", false) && TessiJNI.TessiGeneric_exist(h, "c", false),
                "getItemFlag moved c, a evicted");
        TessiJNI.TessiGeneric_putString(h, "c", "c2", true, 0, 2);  // an update never evicts
        assertTrue(TessiJNI.TessiGeneric_size(h) == 3, "size after update");
        assertTrue(TessiJNI.TessiGeneric_remove(h, "c") && !TessiJNI.TessiGeneric_remove(h, "c"), "remove");
        assertTrue("d".equals(TessiJNI.TessiGeneric_popAsString(h, "d")) && TessiJNI.TessiGeneric_pop(h, "d") == null,
                "pop once");
        assertTrue(TessiJNI.TessiGeneric_size(h) == 1, "size 1");
        TessiJNI.TessiGeneric_clear(h);
        assertTrue(TessiJNI.TessiGeneric_size(h) == 0 && !TessiJNI.TessiGeneric_exist(h, "e", false), "clear");
        // Empty values are stored and read as null; exist with check says false.
        assertTrue(TessiJNI.TessiGeneric_put(h, "empty", new byte[0], 0, 0, true, 0, 3), "put empty");
        assertTrue(TessiJNI.TessiGeneric_put(h, "null", null, 0, 5, true, 0, 3), "put null array");
        assertTrue(TessiJNI.TessiGeneric_putString(h, "nulls", null, true, 0, 3), "putString null value");
        assertTrue(TessiJNI.TessiGeneric_exist(h, "empty", false) && !TessiJNI.TessiGeneric_exist(h, "empty", true),
                "empty exists, unreadable");
        assertTrue(TessiJNI.TessiGeneric_get(h, "null") == null && TessiJNI.TessiGeneric_getAsString(h, "nulls") == null,
                "empty reads null");
        TessiJNI.delete_TessiGeneric(h);
    }

    // Empty and null keys: not stored, answered null, false or -1.
    @ParameterizedTest(name = "key \"{0}\" is refused")
    @NullAndEmptySource
    void emptyAndNullKeys(String k) {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        assertTrue(!TessiJNI.TessiGeneric_putString(h, k, "v", true, 0, 3), "putString key " + k);
        assertTrue(!TessiJNI.TessiGeneric_put(h, k, ascii("v"), 0, -1, true, 0, 3), "put key " + k);
        assertTrue(TessiJNI.TessiGeneric_get(h, k) == null && TessiJNI.TessiGeneric_getAsString(h, k) == null
                && TessiJNI.TessiGeneric_pop(h, k) == null && TessiJNI.TessiGeneric_popAsString(h, k) == null,
                "reads of key " + k);
        assertTrue(!TessiJNI.TessiGeneric_remove(h, k) && !TessiJNI.TessiGeneric_exist(h, k, false)
                && !TessiJNI.TessiGeneric_exist(h, k, true), "remove/exist key " + k);
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(h, k) == -1 && TessiJNI.TessiGeneric_getItemTimeExp(h, k) == -1,
                "flag/time of key " + k);
        assertTrue(!TessiJNI.TessiGeneric_setItemFlag(h, k, 0, 1) && !TessiJNI.TessiGeneric_extItemTimeExp(h, k, 1),
                "set flag/extend key " + k);
        assertTrue(TessiJNI.TessiGeneric_size(h) == 0, "nothing stored");
        TessiJNI.delete_TessiGeneric(h);
    }

    static byte[] everyByte() {
        byte[] all = new byte[256];
        for (int i = 0; i < 256; i++) {
            all[i] = (byte) i;
        }
        return all;
    }

    static Stream<String> binaryKeys() {
        return Stream.of("k\u00e9y", "\u4e2d\u6587", "nul\u0000key", "x".repeat(300));
    }

    // Binary values: every byte value, and keys beyond ASCII (modified UTF-8).
    @ParameterizedTest(name = "binary value under key {index}")
    @MethodSource("binaryKeys")
    void binaryValues(String k) {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        byte[] all = everyByte();
        assertTrue(TessiJNI.TessiGeneric_put(h, k, all, 0, -1, true, 0, 3), "put binary " + k.length());
        assertTrue(Arrays.equals(TessiJNI.TessiGeneric_get(h, k), all), "binary round trip " + k.length());
        TessiJNI.delete_TessiGeneric(h);
    }

    @Test
    void modifiedUtf8() {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        TessiJNI.TessiGeneric_put(h, "nul\u0000key", everyByte(), 0, -1, true, 0, 3);
        assertTrue(TessiJNI.TessiGeneric_get(h, "nul") == null, "the key is the whole modified UTF-8");
        assertTrue("caf\u00e9 \u4e2d".equals(putGet(h, "caf\u00e9 \u4e2d")), "non-ASCII string value");
        TessiJNI.delete_TessiGeneric(h);
    }

    // offset, length, and the text stored from '0'..'9' (null: nothing readable)
    static Stream<Arguments> slices() {
        return Stream.of(Arguments.of(-5, 4, "0123"), Arguments.of(12, 3, null), Arguments.of(3, -1, "3456789"),
                Arguments.of(4, 100, "456789"), Arguments.of(Integer.MAX_VALUE, Integer.MAX_VALUE, null),
                Arguments.of(9, Integer.MAX_VALUE, "9"),
                Arguments.of(Integer.MIN_VALUE, Integer.MIN_VALUE, "0123456789"));
    }

    // Slices: clamped to the array.
    @ParameterizedTest(name = "put slice offset {0} length {1} stores \"{2}\"")
    @MethodSource("slices")
    void sliceClamping(int off, int len, String want) {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        byte[] ten = new byte[10];
        for (int i = 0; i < 10; i++) {
            ten[i] = (byte) ('0' + i);
        }
        assertTrue(TessiJNI.TessiGeneric_put(h, "s", ten, off, len, true, 0, 3), "slice put");
        assertTrue(java.util.Objects.equals(TessiJNI.TessiGeneric_getAsString(h, "s"), want),
                "slice " + off + "," + len + " gives " + TessiJNI.TessiGeneric_getAsString(h, "s"));
        TessiJNI.delete_TessiGeneric(h);
    }

    static String putGet(long h, String v) {
        TessiJNI.TessiGeneric_putString(h, "pg", v, true, 0, 3);
        return TessiJNI.TessiGeneric_getAsString(h, "pg");
    }

    @Test
    void zeroHandles() {
        // Reported on the native side (lines checked in a child JVM); no crash, failure answers.
        TessiJNI.delete_TessiGeneric(0);
        assertTrue(TessiJNI.TessiGeneric_get(0, "k") == null && TessiJNI.TessiGeneric_getAsString(0, "k") == null
                && TessiJNI.TessiGeneric_pop(0, "k") == null && TessiJNI.TessiGeneric_popAsString(0, "k") == null,
                "reads");
        assertTrue(!TessiJNI.TessiGeneric_put(0, "k", ascii("v"), 0, -1, true, 0, 3)
                && !TessiJNI.TessiGeneric_putString(0, "k", "v", true, 0, 3), "puts");
        assertTrue(!TessiJNI.TessiGeneric_remove(0, "k") && !TessiJNI.TessiGeneric_exist(0, "k", true), "remove, exist");
        assertTrue(TessiJNI.TessiGeneric_getItemFlag(0, "k") == 0 && TessiJNI.TessiGeneric_getItemTimeExp(0, "k") == 0,
                "flag and time answer 0 on a failure");
        assertTrue(!TessiJNI.TessiGeneric_setItemFlag(0, "k", 1, 1) && !TessiJNI.TessiGeneric_extItemTimeExp(0, "k", 1),
                "set flag, extend");
        assertTrue(TessiJNI.TessiGeneric_size(0) == 0 && TessiJNI.TessiGeneric_getTblSize(0) == 0
                && TessiJNI.TessiGeneric_getLruSize(0) == 0 && TessiJNI.TessiGeneric_getExpTime(0) == 0
                && TessiJNI.TessiGeneric_getCompressMed(0) == 0 && TessiJNI.TessiGeneric_getThresholdComp(0) == 0,
                "getters");
        TessiJNI.TessiGeneric_clear(0);
        TessiJNI.TessiGeneric_setExpTime(0, 1);
        TessiJNI.TessiGeneric_setCompressMed(0, 1);
        TessiJNI.TessiGeneric_setThresholdComp(0, 1);
    }

    /** 16 threads mixing every operation over 1,000 keys on a tiny LRU; checksummed values. */
    @Test
    void sixteenThreadsOnATinyCache() throws Exception {
        long h = TessiJNI.new_TessiGeneric(16, 8);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        AtomicInteger bad = new AtomicInteger();
        List<Thread> threads = new ArrayList<>();
        int[] lengths = {1, 100, 129, 133, 167, 210, 278, 1000};
        for (int t = 0; t < 16; t++) {
            final int seed = t;
            threads.add(new Thread(() -> {
                java.util.Random r = new java.util.Random(seed);
                for (int i = 0; i < 3000; i++) {
                    int k = r.nextInt(1000);
                    String key = "key" + k;
                    switch (r.nextInt(9)) {
                        case 0: case 1:
                            TessiJNI.TessiGeneric_put(h, key, value(k, lengths[r.nextInt(lengths.length)]), 0, -1,
                                    true, r.nextInt(4) == 0 ? -1 : 0, 1 + r.nextInt(3));
                            break;
                        case 2: case 3:
                            if (!valid(k, TessiJNI.TessiGeneric_get(h, key))) {
                                bad.incrementAndGet();
                            }
                            break;
                        case 4:
                            if (!valid(k, TessiJNI.TessiGeneric_pop(h, key))) {
                                bad.incrementAndGet();
                            }
                            break;
                        case 5:
                            TessiJNI.TessiGeneric_exist(h, key, r.nextBoolean());
                            TessiJNI.TessiGeneric_remove(h, key);
                            break;
                        case 6:
                            TessiJNI.TessiGeneric_setItemFlag(h, key, 4, 3);
                            TessiJNI.TessiGeneric_getItemFlag(h, key);
                            break;
                        case 7:
                            TessiJNI.TessiGeneric_extItemTimeExp(h, key, 10);
                            TessiJNI.TessiGeneric_getItemTimeExp(h, key);
                            break;
                        default:
                            String s = TessiJNI.TessiGeneric_getAsString(h, key);
                            if (s != null && !valid(k, s.getBytes(StandardCharsets.ISO_8859_1))) {
                                bad.incrementAndGet();
                            }
                            if (r.nextInt(200) == 0) {
                                TessiJNI.TessiGeneric_clear(h);
                            }
                    }
                }
            }));
        }
        for (Thread t : threads) {
            t.start();
        }
        for (Thread t : threads) {
            t.join();
        }
        assertTrue(bad.get() == 0, bad.get() + " values did not match their key");
        assertTrue(TessiJNI.TessiGeneric_size(h) <= 8, "LRU bound after the run");
        TessiJNI.delete_TessiGeneric(h);
    }

    /**
     * 3 writers store 64 KiB compressed values under one key, back to back, while this thread
     * pops it until 100 pops have found it: every value popped is exactly one a writer stored,
     * and no pop makes more than two Java results (its thread's heap allocation per pop stays
     * within two values).
     */
    @Test
    void popUnderWritersOfTheSameKey() throws Exception {
        final int size = 64 << 10;
        long h = TessiJNI.new_TessiGeneric(1024, 64);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        AtomicBoolean stop = new AtomicBoolean();
        List<Thread> writers = new ArrayList<>();
        for (int w = 0; w < 3; w++) {
            final int writer = w;
            writers.add(new Thread(() -> {
                byte[][] values = new byte[4][];
                for (int n = 0; n < values.length; n++) {
                    values[n] = writerValue(size, writer, n);
                }
                for (int n = 0; !stop.get(); n++) {
                    TessiJNI.TessiGeneric_put(h, "k", values[n % values.length], 0, size, true, 0, 3);
                }
            }));
        }
        writers.forEach(Thread::start);
        com.sun.management.ThreadMXBean mx =
                (com.sun.management.ThreadMXBean) java.lang.management.ManagementFactory.getThreadMXBean();
        try {
            for (int popped = 0; popped < 100;) {
                long before = mx.getCurrentThreadAllocatedBytes();
                byte[] b = TessiJNI.TessiGeneric_pop(h, "k");
                long made = mx.getCurrentThreadAllocatedBytes() - before;
                assertTrue(made <= 2L * (size + 64) + 4096, "a pop allocated " + made + " bytes: more than two results");
                if (b != null) {
                    popped++;
                    assertTrue(isWriterValue(b, size), "a popped value is not one a writer stored");
                }
            }
        } finally {
            stop.set(true);
            for (Thread t : writers) {
                t.join();
            }
            TessiJNI.delete_TessiGeneric(h);
        }
    }

    /** Writer w's value number n: the two numbers, then runs of 1 KiB of one letter each. */
    static byte[] writerValue(int size, int w, int n) {
        byte[] v = new byte[size];
        java.nio.ByteBuffer.wrap(v).putInt(0, w).putInt(4, n);
        for (int i = 8; i < size; i++) {
            v[i] = (byte) ('a' + (w * 7 + n + i / 1024) % 26);
        }
        return v;
    }

    static boolean isWriterValue(byte[] v, int size) {
        if (v.length != size) {
            return false;
        }
        int w = java.nio.ByteBuffer.wrap(v).getInt(0);
        int n = java.nio.ByteBuffer.wrap(v).getInt(4);
        return w >= 0 && w < 3 && n >= 0 && n < 4 && Arrays.equals(v, writerValue(size, w, n));
    }

    /** A value that embeds its key and a CRC of its body; letters only (no NUL, Latin-1 safe). */
    static byte[] value(int key, int n) {
        byte[] v = new byte[Math.max(n, 20)];
        String head = String.format("%04d", key);
        for (int i = 0; i < v.length; i++) {
            v[i] = (byte) ('a' + (key * 7 + i) % 26);
        }
        System.arraycopy(ascii(head), 0, v, 0, 4);
        CRC32 crc = new CRC32();
        crc.update(v, 0, v.length - 10);
        System.arraycopy(ascii(String.format("%010d", crc.getValue() % 10000000000L)), 0, v, v.length - 10, 10);
        return v;
    }

    static boolean valid(int key, byte[] v) {
        if (v == null) {
            return true;
        }
        if (v.length < 20 || !new String(v, 0, 4, StandardCharsets.ISO_8859_1).equals(String.format("%04d", key))) {
            return false;
        }
        CRC32 crc = new CRC32();
        crc.update(v, 0, v.length - 10);
        return new String(v, v.length - 10, 10, StandardCharsets.ISO_8859_1)
                .equals(String.format("%010d", crc.getValue() % 10000000000L));
    }

    // ---- child JVMs: the native output after exit ------------------------------------

    static final String RUNTIME = "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: ";
    static final String ZERO_HANDLE = RUNTIME + "TessiGeneric handle is 0";

    private static ChildJvm.Output child(String... args) throws Exception {
        return ChildJvm.runClean(root, List.of(), "TessiScenario", args);
    }

    private static void expect(ChildJvm.Output o, String line, long times, String what) {
        ChildJvm.assertLineCount(o, line, times, what);
    }

    // Each level in a child JVM of its own.
    @ParameterizedTest(name = "log level {0} gates the native lines")
    @ValueSource(ints = {-1, 0, 1, 2, 3, 4, 5, 7})
    void logLevelGating(int level) throws Exception {
        String[] keyPlaces = {"get", "getAsString", "pop", "popAsString", "remove", "exist", "getItemFlag",
            "setItemFlag", "getItemTimeExp", "extItemTimeExp", "put", "putString"};
        ChildJvm.Output lines = child("levels", Integer.toString(level));
        String at = "level " + level;
        long info = level > 3 ? 1 : 0;
        long debug = level > 4 ? 1 : 0;
        long error = level > 1 ? 1 : 0;
        for (String p : keyPlaces) {
            expect(lines, "[inf] " + p + ": key is empty or memory is overflow!", 2 * info, at);
        }
        expect(lines, "[inf] put: \"k\" Already exist!", info, at);
        expect(lines, "[inf] put: \"zz\" Not exist!", info, at);
        expect(lines, "[inf] put: \"k\" Invalid parameter!", info, at);
        expect(lines, "[dbg] put: key[1]=\"k\", value[3]=\"abc\"", debug, at);
        expect(lines, "[dbg] put: key[1]=\"n\", value[0]=\"<null>\"", debug, at);
        expect(lines, "[dbg] putString: key[1]=\"s\", value[3]=\"xyz\"", debug, at);
        for (String p : new String[] {"get", "getAsString", "pop", "popAsString", "remove", "exist"}) {
            expect(lines, "[dbg] " + p + ": key[1]=\"k\"", debug, at);
        }
        expect(lines, "[ERR] setExpTime: value is negative!", error, at);
        expect(lines, "[ERR] setCompressMed: value is not valid!", error, at);
        expect(lines, "[ERR] setThresholdComp: value is negative!", error, at);
        // At every level: the binding's reports and the refused stop.
        expect(lines, ZERO_HANDLE, 2, at);
        expect(lines, RUNTIME + "tblSize must be between 2 and 268435456", 2, at);
        expect(lines, RUNTIME + "lruSize must be at least 1", 1, at);
        expect(lines, "[ERR] tessix__uninitialize: 1 caches or queues are still alive: the allocator keeps running",
                1, at);
        assertTrue(level > 4 || lines.lines.stream().noneMatch(l -> l.startsWith("[dbg]")), at + ": no dbg lines");
        assertTrue(level > 3 || lines.lines.stream().noneMatch(l -> l.startsWith("[inf] ") && !l.contains("INIT_POOL")),
                at + ": no inf lines");
        expect(lines, "scenario levels done", 1, at);
    }

    @Test
    void lifecycle() throws Exception {
        ChildJvm.Output lines = child("lifecycle");
        expect(lines, "scenario lifecycle done", 1, "lifecycle");
        assertTrue(lines.lines.stream().noneMatch(l -> l.startsWith("[ERR]")), "lifecycle: no error line\n" + lines.lines);
        assertTrue(lines.lines.stream().anyMatch(l -> l.startsWith("uninit xallocator")), "lifecycle: the allocator stopped");
    }

    // Three runs: the first caches race each run anew.
    @ParameterizedTest(name = "16 first caches at once, run {0}")
    @ValueSource(ints = {0, 1, 2})
    void firstCaches(int run) throws Exception {
        ChildJvm.Output lines = child("firstcaches");
        expect(lines, "global_locks: mutexs_array was already constructed", 15, "16 first caches");
        assertTrue(lines.lines.stream().filter(l -> l.startsWith("[inf] xtable_item::INIT_POOL: class_size=")).count() == 1,
                "one entry pool:\n" + String.join("\n", lines.lines));
        expect(lines, "scenario firstcaches done", 1, "firstcaches");
    }
}
