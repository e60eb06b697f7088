import com.olm.toka.jni.tessi.TessiJNI;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.zip.CRC32;

/**
 * TessiJNI on the real JVM (run with -Xcheck:jni): module functions, put modes, flags,
 * expiry, compression, eviction, pop/remove/exist/clear/size, the NUL cut, empty, null and
 * binary data, zero handles, 16 threads on one tiny cache; then child JVMs (TessiScenario)
 * whose native output (log-level gating, refused sizes, uninitialize, first caches made at
 * once) is checked line by line once they have exited. Exits non-zero on any failure.
 */
public final class TessiJNITest {
    private static int failures = 0;
    private static int checks = 0;
    private static Path root;

    static void check(boolean ok, String what) {
        checks++;
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
            new Throwable().printStackTrace();
        }
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

    private static void testModule() {
        check(TessiJNI.tessix__initialize(10000) == 1, "initialize answers 1");
        String info = TessiJNI.tessix__info();
        String head = "Name:         TessiX\nVersion:      1.0.0\n"
                + "Description:  Tessi, WNfQueue for Toka libraries\nBuild at:     ";
        check(info != null && info.startsWith(head), "info head: " + info);
        check(info != null && info.substring(head.length())
                .matches("[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}"),
                "info stamp: " + info);
        for (int kind : new int[] {4, -1, 99}) {
            check("".equals(TessiJNI.tessix__memstat(kind)), "memstat kind " + kind);
        }
        String normal = TessiJNI.tessix__memstat(1);
        String big = TessiJNI.tessix__memstat(2);
        String huge = TessiJNI.tessix__memstat(3);
        for (String s : new String[] {normal, big, huge}) {
            check(s.startsWith("page_size=") && s.endsWith(" | \n\n"), "section shape: " + s);
            String[] l = s.split("\n", -1);
            check(l[1].startsWith("class_size_factor="), "slab line: " + l[1]);
            for (int i = 2; i < l.length - 2; i++) {
                check(l[i].startsWith(" * class_size=") && l[i].endsWith(" | "), "pool line " + l[i]);
            }
        }
        String all = TessiJNI.tessix__memstat(0);
        String[] sections = all.split("\n\n", -1);
        check(sections.length == 4 && sections[3].isEmpty(), "three sections");
        check(sections[0].split(" ")[0].equals(huge.split(" ")[0])
                && sections[1].split(" ")[0].equals(big.split(" ")[0])
                && sections[2].split(" ")[0].equals(normal.split(" ")[0]), "huge, big, normal order");
    }

    private static void testDefaultsAndSettings() {
        long h = TessiJNI.new_TessiGeneric(1000, 100);
        check(h != 0, "new cache");
        check(TessiJNI.TessiGeneric_getTblSize(h) == 1000 && TessiJNI.TessiGeneric_getLruSize(h) == 100,
                "sizes");
        check(TessiJNI.TessiGeneric_getCompressMed(h) == 0, "method 0");
        check(TessiJNI.TessiGeneric_getThresholdComp(h) == 128, "threshold 128");
        check(TessiJNI.TessiGeneric_getExpTime(h) == 3600, "expTime 3600");
        TessiJNI.TessiGeneric_setThresholdComp(h, -1);
        TessiJNI.TessiGeneric_setCompressMed(h, 3);
        TessiJNI.TessiGeneric_setCompressMed(h, -1);
        TessiJNI.TessiGeneric_setExpTime(h, -1);
        check(TessiJNI.TessiGeneric_getThresholdComp(h) == 128 && TessiJNI.TessiGeneric_getCompressMed(h) == 0
                && TessiJNI.TessiGeneric_getExpTime(h) == 3600, "refused settings kept");
        TessiJNI.TessiGeneric_setThresholdComp(h, 0);
        TessiJNI.TessiGeneric_setCompressMed(h, 2);
        TessiJNI.TessiGeneric_setExpTime(h, 0);
        check(TessiJNI.TessiGeneric_getThresholdComp(h) == 0 && TessiJNI.TessiGeneric_getCompressMed(h) == 2
                && TessiJNI.TessiGeneric_getExpTime(h) == 0, "accepted settings");
        TessiJNI.delete_TessiGeneric(h);
        // Refused sizes give handle 0 (the error line is checked in a child JVM).
        long[][] refused = {{0, 10}, {1, 10}, {-5, 10}, {Long.MIN_VALUE, 10}, {1L << 40, 10},
            {Long.MAX_VALUE, 10}, {100, 0}, {100, -1}, {100, Long.MIN_VALUE}};
        for (long[] r : refused) {
            check(TessiJNI.new_TessiGeneric(r[0], r[1]) == 0, "refused sizes " + r[0] + "," + r[1]);
        }
        long small = TessiJNI.new_TessiGeneric(2, 1);
        check(small != 0, "smallest sizes accepted");
        check(TessiJNI.TessiGeneric_putString(small, "a", "1", true, 0, 3)
                && TessiJNI.TessiGeneric_putString(small, "b", "2", true, 0, 3), "puts");
        check(TessiJNI.TessiGeneric_size(small) == 1 && "2".equals(TessiJNI.TessiGeneric_getAsString(small, "b")),
                "LRU size 1 keeps the newest");
        TessiJNI.delete_TessiGeneric(small);
    }

    private static void testPutModes() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        for (int bad : new int[] {0, 4, -1, 7, Integer.MAX_VALUE}) {
            check(!TessiJNI.TessiGeneric_put(h, "k", ascii("x"), 0, -1, true, 0, bad), "mode " + bad);
            check(!TessiJNI.TessiGeneric_putString(h, "k", "x", true, 0, bad), "putString mode " + bad);
        }
        check(!TessiJNI.TessiGeneric_exist(h, "k", false), "refused modes stored nothing");
        check(!TessiJNI.TessiGeneric_putString(h, "k", "u", true, 0, 2), "update of missing");
        check(!TessiJNI.TessiGeneric_exist(h, "k", false), "update stored nothing");
        check(TessiJNI.TessiGeneric_putString(h, "k", "a1", true, 0, 1), "add");
        check(!TessiJNI.TessiGeneric_putString(h, "k", "a2", true, 0, 1), "add of present");
        check("a1".equals(TessiJNI.TessiGeneric_getAsString(h, "k")), "add kept the old value");
        check(TessiJNI.TessiGeneric_putString(h, "k", "u1", true, 0, 2), "update");
        check("u1".equals(TessiJNI.TessiGeneric_getAsString(h, "k")), "updated");
        check(TessiJNI.TessiGeneric_put(h, "k", ascii("s1"), 0, -1, true, 0, 3), "add or update present");
        check(TessiJNI.TessiGeneric_put(h, "k2", ascii("s2"), 0, -1, true, 0, 3), "add or update missing");
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "k"), ascii("s1")), "get bytes");
        check(TessiJNI.TessiGeneric_size(h) == 2, "size 2");
        TessiJNI.delete_TessiGeneric(h);
    }

    private static void testFlags() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        check(TessiJNI.TessiGeneric_putString(h, "f", "v", false, 0, 3), "put flag false");
        check(TessiJNI.TessiGeneric_exist(h, "f", false), "exist without check");
        check(!TessiJNI.TessiGeneric_exist(h, "f", true), "exist with check: unreadable");
        check(TessiJNI.TessiGeneric_get(h, "f") == null && TessiJNI.TessiGeneric_getAsString(h, "f") == null,
                "get unreadable");
        check(TessiJNI.TessiGeneric_getItemFlag(h, "f") == 1, "flags 1");
        check(TessiJNI.TessiGeneric_setItemFlag(h, "f", 0xFFFC, 2), "C_AND");
        check(TessiJNI.TessiGeneric_getItemFlag(h, "f") == 0 && "v".equals(TessiJNI.TessiGeneric_getAsString(h, "f")),
                "readable after C_AND 0xFFFC");
        int[][] ops = { // op, value, flags after the op on 0x0F0F
            {1, 0x12345, 0x2345}, {2, 0x00FF, 0x000F}, {3, 0xF000, 0xFF0F}, {4, 0x0FF0, 0x00FF},
            {5, 999, 0xF0F0},
        };
        for (int[] op : ops) {
            check(TessiJNI.TessiGeneric_setItemFlag(h, "f", 0x0F0F, 1), "reset flags");
            check(TessiJNI.TessiGeneric_setItemFlag(h, "f", op[1], op[0]), "op " + op[0]);
            check(TessiJNI.TessiGeneric_getItemFlag(h, "f") == (short) op[2],
                    "op " + op[0] + " gives " + TessiJNI.TessiGeneric_getItemFlag(h, "f"));
        }
        for (int bad : new int[] {0, 6, -1}) {
            check(!TessiJNI.TessiGeneric_setItemFlag(h, "f", 0, bad), "op " + bad + " refused");
        }
        check(TessiJNI.TessiGeneric_getItemFlag(h, "f") == (short) 0xF0F0, "refused ops leave flags");
        TessiJNI.TessiGeneric_setItemFlag(h, "f", 0, 1);
        TessiJNI.TessiGeneric_setItemFlag(h, "f", 0, 5);
        check(TessiJNI.TessiGeneric_getItemFlag(h, "f") == -1, "all ones read as -1");
        check(TessiJNI.TessiGeneric_setItemFlag(h, "f", 0x8000, 1)
                && TessiJNI.TessiGeneric_getItemFlag(h, "f") == -32768, "sign widened");
        check(TessiJNI.TessiGeneric_setItemFlag(h, "f", 2, 1) && !TessiJNI.TessiGeneric_exist(h, "f", true),
                "bit 1 unreadable");
        check(TessiJNI.TessiGeneric_setItemFlag(h, "f", 4, 1) && TessiJNI.TessiGeneric_exist(h, "f", true),
                "bit 2 readable");
        check(TessiJNI.TessiGeneric_getItemFlag(h, "missing") == -1, "flag of missing");
        check(!TessiJNI.TessiGeneric_setItemFlag(h, "missing", 0, 1), "set flag of missing");
        // pop of an unreadable item removes it and answers null.
        check(TessiJNI.TessiGeneric_putString(h, "u", "v", false, 0, 3), "put unreadable");
        check(TessiJNI.TessiGeneric_pop(h, "u") == null && !TessiJNI.TessiGeneric_exist(h, "u", false),
                "pop of unreadable");
        TessiJNI.delete_TessiGeneric(h);
    }

    private static void testExpiry() {
        long h = TessiJNI.new_TessiGeneric(100, 100);
        check(TessiJNI.TessiGeneric_putString(h, "e", "v", true, -1, 3), "put expired");
        check(TessiJNI.TessiGeneric_exist(h, "e", false), "expired item is still there");
        check(TessiJNI.TessiGeneric_size(h) == 1, "and counts");
        check(TessiJNI.TessiGeneric_getItemTimeExp(h, "e") < 0, "negative time left");
        check(TessiJNI.TessiGeneric_get(h, "e") == null, "get of expired");
        check(!TessiJNI.TessiGeneric_exist(h, "e", false), "get removed it");
        check(TessiJNI.TessiGeneric_putString(h, "e", "v", true, -1, 3)
                && !TessiJNI.TessiGeneric_exist(h, "e", true) && !TessiJNI.TessiGeneric_exist(h, "e", false),
                "exist with check removes the expired item");
        check(TessiJNI.TessiGeneric_putString(h, "e", "v", true, -1, 3)
                && TessiJNI.TessiGeneric_popAsString(h, "e") == null && !TessiJNI.TessiGeneric_exist(h, "e", false),
                "pop of expired: null and gone");
        // Past 2,147 s the microseconds no longer fit 32 bits: 3600 and beyond must work.
        int[] longs = {60, 2147, 2148, 3600, 86400 * 365, 2000000000, Integer.MAX_VALUE};
        for (int e : longs) {
            check(TessiJNI.TessiGeneric_putString(h, "l", "v", true, e, 3), "put expire " + e);
            long left = TessiJNI.TessiGeneric_getItemTimeExp(h, "l");
            long want = Math.min(e, 0xFFFFFFFFL - now());
            want = Math.min(want, Integer.MAX_VALUE);
            check(left <= want && left >= want - 2, "expire " + e + ": left " + left + " want " + want);
            check("v".equals(TessiJNI.TessiGeneric_getAsString(h, "l")), "readable, expire " + e);
        }
        check(TessiJNI.TessiGeneric_putString(h, "l", "v", true, 3600, 3), "put 3600");
        int left = TessiJNI.TessiGeneric_getItemTimeExp(h, "l");
        check(left == 3600 || left == 3599, "3600 reads back as " + left);
        check(TessiJNI.TessiGeneric_extItemTimeExp(h, "l", 100), "extend");
        left = TessiJNI.TessiGeneric_getItemTimeExp(h, "l");
        check(left >= 3698 && left <= 3700, "extended to " + left);
        // Extensions and the time left are 32-bit arithmetic: now + MAX + MAX wraps to now - 2.
        for (int attempt = 0; ; attempt++) {
            long t0 = now();
            check(TessiJNI.TessiGeneric_putString(h, "w", "v", true, Integer.MAX_VALUE, 3)
                    && TessiJNI.TessiGeneric_extItemTimeExp(h, "w", Integer.MAX_VALUE), "put and extend by MAX");
            int wrapped = TessiJNI.TessiGeneric_getItemTimeExp(h, "w");
            boolean gone = TessiJNI.TessiGeneric_getAsString(h, "w") == null;
            if (now() != t0 && attempt < 5) {
                continue;  // a second passed in between: the figures moved
            }
            check(wrapped == -2, "wrapped extension leaves " + wrapped);
            check(gone, "wrapped extension expires the item");
            break;
        }
        check(!TessiJNI.TessiGeneric_extItemTimeExp(h, "missing", 5), "extend missing");
        check(TessiJNI.TessiGeneric_getItemTimeExp(h, "missing") == -1, "time of missing");
        // No expiry: minus the current time; a positive extension then makes it expired.
        check(TessiJNI.TessiGeneric_putString(h, "n", "v", true, 0, 3), "put without expiry");
        long minus = TessiJNI.TessiGeneric_getItemTimeExp(h, "n");
        check(Math.abs(minus + now()) <= 2, "minus the current time: " + minus);
        check(TessiJNI.TessiGeneric_extItemTimeExp(h, "n", 0) && "v".equals(TessiJNI.TessiGeneric_getAsString(h, "n")),
                "extension by 0 keeps no expiry");
        check(TessiJNI.TessiGeneric_extItemTimeExp(h, "n", 60), "extend no-expiry item");
        check(TessiJNI.TessiGeneric_exist(h, "n", false) && TessiJNI.TessiGeneric_get(h, "n") == null
                && !TessiJNI.TessiGeneric_exist(h, "n", false), "expired and removed by get");
        // Flags and expiry queries do not consult the expiry.
        check(TessiJNI.TessiGeneric_putString(h, "x", "v", true, -10, 3), "put expired");
        check(TessiJNI.TessiGeneric_getItemFlag(h, "x") == 0 && TessiJNI.TessiGeneric_setItemFlag(h, "x", 8, 3),
                "flags of an expired item");
        TessiJNI.delete_TessiGeneric(h);
    }

    private static void testCompression() {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        // 128 bytes stay as they are (a pooled block); 129 compress to a few bytes, which
        // the string keeps inline: the pools' used bytes tell the two apart.
        long before = usedBytes();
        check(TessiJNI.TessiGeneric_put(h, "c128", filled(128, 'a'), 0, -1, true, 0, 3), "put 128");
        long raw = usedBytes() - before;
        before = usedBytes();
        check(TessiJNI.TessiGeneric_put(h, "c129", filled(129, 'a'), 0, -1, true, 0, 3), "put 129");
        long packed = usedBytes() - before;
        check(raw >= packed + 128, "128 raw (" + raw + " B), 129 compressed (" + packed + " B)");
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "c129"), filled(129, 'a')), "decompressed bytes");
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "c128"), filled(128, 'a')), "raw bytes");
        // Methods 0 and 2 store as they are.
        for (int method : new int[] {0, 2}) {
            TessiJNI.TessiGeneric_setCompressMed(h, method);
            before = usedBytes();
            TessiJNI.TessiGeneric_put(h, "m" + method, filled(1000, 'b'), 0, -1, true, 0, 3);
            check(usedBytes() - before >= 1000, "method " + method + " stores raw");
        }
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        // Lengths whose decompressed size + 4 is a class size: the text's NUL must not land
        // on the next chunk (a later free would crash), and the string ends at the data.
        int[] lengths = {129, 133, 167, 210, 278, 365, 500, 4096, 65536, 200000};
        for (int n : lengths) {
            byte[] v = filled(n, 'z');
            v[n / 2] = 'y';
            String key = "f3-" + n;
            check(TessiJNI.TessiGeneric_put(h, key, v, 0, -1, true, 0, 3), "put " + n);
            String s = TessiJNI.TessiGeneric_getAsString(h, key);
            check(s != null && s.length() == n && s.equals(new String(v, StandardCharsets.US_ASCII)),
                    "getAsString " + n);
            check(Arrays.equals(TessiJNI.TessiGeneric_get(h, key), v), "get " + n);
            check(n != 133 || new String(v, StandardCharsets.US_ASCII).equals(
                    TessiJNI.TessiGeneric_popAsString(h, key)), "popAsString " + n);
        }
        // NUL cut: uncompressed and compressed give the text before the NUL.
        byte[] withNul = filled(300, 'q');
        withNul[10] = 0;
        TessiJNI.TessiGeneric_setCompressMed(h, 0);
        TessiJNI.TessiGeneric_put(h, "nul0", withNul, 0, -1, true, 0, 3);
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        TessiJNI.TessiGeneric_put(h, "nul1", withNul, 0, -1, true, 0, 3);
        check("qqqqqqqqqq".equals(TessiJNI.TessiGeneric_getAsString(h, "nul0")), "NUL cut raw");
        check("qqqqqqqqqq".equals(TessiJNI.TessiGeneric_getAsString(h, "nul1")), "NUL cut compressed");
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "nul1"), withNul), "bytes keep the NUL");
        // A stored value keeps its method after the setting changes.
        TessiJNI.TessiGeneric_setCompressMed(h, 0);
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "c129"), filled(129, 'a')), "method kept");
        TessiJNI.delete_TessiGeneric(h);
    }

    private static void testEvictionAndOps() {
        long h = TessiJNI.new_TessiGeneric(16, 3);
        for (String k : new String[] {"a", "b", "c"}) {
            TessiJNI.TessiGeneric_putString(h, k, k, true, 0, 3);
        }
        check(TessiJNI.TessiGeneric_getAsString(h, "a") != null, "hit moves a to the head");
        check(TessiJNI.TessiGeneric_exist(h, "b", false), "exist without check does not move b");
        TessiJNI.TessiGeneric_putString(h, "d", "d", true, 0, 3);
        check(TessiJNI.TessiGeneric_size(h) == 3, "size stays 3");
        check(!TessiJNI.TessiGeneric_exist(h, "b", false), "b (least recently used) evicted");
        check(TessiJNI.TessiGeneric_exist(h, "a", false) && TessiJNI.TessiGeneric_exist(h, "c", false),
                "a and c kept");
        // Every query with an LRU move protects its key.
        TessiJNI.TessiGeneric_getItemFlag(h, "c");
        TessiJNI.TessiGeneric_putString(h, "e", "e", true, 0, 3);
        check(!TessiJNI.TessiGeneric_exist(h, "a", false) && TessiJNI.TessiGeneric_exist(h, "c", false),
                "getItemFlag moved c, a evicted");
        TessiJNI.TessiGeneric_putString(h, "c", "c2", true, 0, 2);  // an update never evicts
        check(TessiJNI.TessiGeneric_size(h) == 3, "size after update");
        check(TessiJNI.TessiGeneric_remove(h, "c") && !TessiJNI.TessiGeneric_remove(h, "c"), "remove");
        check("d".equals(TessiJNI.TessiGeneric_popAsString(h, "d")) && TessiJNI.TessiGeneric_pop(h, "d") == null,
                "pop once");
        check(TessiJNI.TessiGeneric_size(h) == 1, "size 1");
        TessiJNI.TessiGeneric_clear(h);
        check(TessiJNI.TessiGeneric_size(h) == 0 && !TessiJNI.TessiGeneric_exist(h, "e", false), "clear");
        // Empty values are stored and read as null; exist with check says false.
        check(TessiJNI.TessiGeneric_put(h, "empty", new byte[0], 0, 0, true, 0, 3), "put empty");
        check(TessiJNI.TessiGeneric_put(h, "null", null, 0, 5, true, 0, 3), "put null array");
        check(TessiJNI.TessiGeneric_putString(h, "nulls", null, true, 0, 3), "putString null value");
        check(TessiJNI.TessiGeneric_exist(h, "empty", false) && !TessiJNI.TessiGeneric_exist(h, "empty", true),
                "empty exists, unreadable");
        check(TessiJNI.TessiGeneric_get(h, "null") == null && TessiJNI.TessiGeneric_getAsString(h, "nulls") == null,
                "empty reads null");
        TessiJNI.delete_TessiGeneric(h);
    }

    private static void testKeysAndData() {
        long h = TessiJNI.new_TessiGeneric(1000, 1000);
        // Empty and null keys: not stored, answered null, false or -1.
        for (String k : new String[] {"", null}) {
            check(!TessiJNI.TessiGeneric_putString(h, k, "v", true, 0, 3), "putString key " + k);
            check(!TessiJNI.TessiGeneric_put(h, k, ascii("v"), 0, -1, true, 0, 3), "put key " + k);
            check(TessiJNI.TessiGeneric_get(h, k) == null && TessiJNI.TessiGeneric_getAsString(h, k) == null
                    && TessiJNI.TessiGeneric_pop(h, k) == null && TessiJNI.TessiGeneric_popAsString(h, k) == null,
                    "reads of key " + k);
            check(!TessiJNI.TessiGeneric_remove(h, k) && !TessiJNI.TessiGeneric_exist(h, k, false)
                    && !TessiJNI.TessiGeneric_exist(h, k, true), "remove/exist key " + k);
            check(TessiJNI.TessiGeneric_getItemFlag(h, k) == -1 && TessiJNI.TessiGeneric_getItemTimeExp(h, k) == -1,
                    "flag/time of key " + k);
            check(!TessiJNI.TessiGeneric_setItemFlag(h, k, 0, 1) && !TessiJNI.TessiGeneric_extItemTimeExp(h, k, 1),
                    "set flag/extend key " + k);
        }
        check(TessiJNI.TessiGeneric_size(h) == 0, "nothing stored");
        // Binary values: every byte value, and keys beyond ASCII (modified UTF-8).
        byte[] all = new byte[256];
        for (int i = 0; i < 256; i++) {
            all[i] = (byte) i;
        }
        String[] keys = {"k\u00e9y", "\u4e2d\u6587", "nul\u0000key", "x".repeat(300)};
        for (String k : keys) {
            check(TessiJNI.TessiGeneric_put(h, k, all, 0, -1, true, 0, 3), "put binary " + k.length());
            check(Arrays.equals(TessiJNI.TessiGeneric_get(h, k), all), "binary round trip " + k.length());
        }
        check(TessiJNI.TessiGeneric_get(h, "nul") == null, "the key is the whole modified UTF-8");
        check("caf\u00e9 \u4e2d".equals(putGet(h, "caf\u00e9 \u4e2d")), "non-ASCII string value");
        // Slices: clamped to the array.
        byte[] ten = new byte[10];
        for (int i = 0; i < 10; i++) {
            ten[i] = (byte) ('0' + i);
        }
        Object[][] cases = {{-5, 4, "0123"}, {12, 3, null}, {3, -1, "3456789"}, {4, 100, "456789"},
            {Integer.MAX_VALUE, Integer.MAX_VALUE, null}, {9, Integer.MAX_VALUE, "9"},
            {Integer.MIN_VALUE, Integer.MIN_VALUE, "0123456789"}};
        for (Object[] c : cases) {
            check(TessiJNI.TessiGeneric_put(h, "s", ten, (Integer) c[0], (Integer) c[1], true, 0, 3), "slice put");
            check(java.util.Objects.equals(TessiJNI.TessiGeneric_getAsString(h, "s"), c[2]),
                    "slice " + c[0] + "," + c[1] + " gives " + TessiJNI.TessiGeneric_getAsString(h, "s"));
        }
        TessiJNI.delete_TessiGeneric(h);
    }

    static String putGet(long h, String v) {
        TessiJNI.TessiGeneric_putString(h, "pg", v, true, 0, 3);
        return TessiJNI.TessiGeneric_getAsString(h, "pg");
    }

    private static void testZeroHandles() {
        // Reported on the native side (lines checked in a child JVM); no crash, failure answers.
        TessiJNI.delete_TessiGeneric(0);
        check(TessiJNI.TessiGeneric_get(0, "k") == null && TessiJNI.TessiGeneric_getAsString(0, "k") == null
                && TessiJNI.TessiGeneric_pop(0, "k") == null && TessiJNI.TessiGeneric_popAsString(0, "k") == null,
                "reads");
        check(!TessiJNI.TessiGeneric_put(0, "k", ascii("v"), 0, -1, true, 0, 3)
                && !TessiJNI.TessiGeneric_putString(0, "k", "v", true, 0, 3), "puts");
        check(!TessiJNI.TessiGeneric_remove(0, "k") && !TessiJNI.TessiGeneric_exist(0, "k", true), "remove, exist");
        check(TessiJNI.TessiGeneric_getItemFlag(0, "k") == 0 && TessiJNI.TessiGeneric_getItemTimeExp(0, "k") == 0,
                "flag and time answer 0 on a failure");
        check(!TessiJNI.TessiGeneric_setItemFlag(0, "k", 1, 1) && !TessiJNI.TessiGeneric_extItemTimeExp(0, "k", 1),
                "set flag, extend");
        check(TessiJNI.TessiGeneric_size(0) == 0 && TessiJNI.TessiGeneric_getTblSize(0) == 0
                && TessiJNI.TessiGeneric_getLruSize(0) == 0 && TessiJNI.TessiGeneric_getExpTime(0) == 0
                && TessiJNI.TessiGeneric_getCompressMed(0) == 0 && TessiJNI.TessiGeneric_getThresholdComp(0) == 0,
                "getters");
        TessiJNI.TessiGeneric_clear(0);
        TessiJNI.TessiGeneric_setExpTime(0, 1);
        TessiJNI.TessiGeneric_setCompressMed(0, 1);
        TessiJNI.TessiGeneric_setThresholdComp(0, 1);
    }

    /** 16 threads mixing every operation over 1,000 keys on a tiny LRU; checksummed values. */
    private static void testThreads() throws Exception {
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
        check(bad.get() == 0, bad.get() + " values did not match their key");
        check(TessiJNI.TessiGeneric_size(h) <= 8, "LRU bound after the run");
        TessiJNI.delete_TessiGeneric(h);
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

    private static List<String> child(String... args) throws Exception {
        List<String> cmd = new ArrayList<>();
        cmd.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        cmd.add("-Xcheck:jni");
        cmd.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        cmd.add("-cp");
        cmd.add(System.getProperty("java.class.path"));
        cmd.add("TessiScenario");
        cmd.addAll(Arrays.asList(args));
        File out = File.createTempFile("tessi-child", ".out", root.toFile());
        File err = File.createTempFile("tessi-child", ".err", root.toFile());
        Process p = new ProcessBuilder(cmd).redirectOutput(out).redirectError(err).start();
        int rc = p.waitFor();
        List<String> lines = Files.readAllLines(out.toPath(), StandardCharsets.UTF_8);
        String errText = Files.readString(err.toPath(), StandardCharsets.UTF_8);
        String all = String.join("\n", lines) + "\n" + errText;
        check(rc == 0, "child " + Arrays.toString(args) + " exit " + rc + ":\n" + all);
        check(!all.contains("WARNING in native method") && !all.contains("FATAL ERROR in native method")
                && !all.contains("JNI local refs"), "child JNI warnings:\n" + all);
        return lines;
    }

    static long count(List<String> lines, String line) {
        return lines.stream().filter(l -> l.equals(line)).count();
    }

    private static void expect(List<String> lines, String line, long times, String what) {
        check(count(lines, line) == times, what + ": \"" + line + "\" " + count(lines, line)
                + " times, expected " + times + " in\n" + String.join("\n", lines));
    }

    private static void testLevels() throws Exception {
        String[] keyPlaces = {"get", "getAsString", "pop", "popAsString", "remove", "exist", "getItemFlag",
            "setItemFlag", "getItemTimeExp", "extItemTimeExp", "put", "putString"};
        for (int level : new int[] {-1, 0, 1, 2, 3, 4, 5, 7}) {
            List<String> lines = child("levels", Integer.toString(level));
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
            check(level > 4 || lines.stream().noneMatch(l -> l.startsWith("[dbg]")), at + ": no dbg lines");
            check(level > 3 || lines.stream().noneMatch(l -> l.startsWith("[inf] ") && !l.contains("INIT_POOL")),
                    at + ": no inf lines");
            expect(lines, "scenario levels done", 1, at);
        }
    }

    private static void testLifecycleAndFirstCaches() throws Exception {
        List<String> lines = child("lifecycle");
        expect(lines, "scenario lifecycle done", 1, "lifecycle");
        check(lines.stream().noneMatch(l -> l.startsWith("[ERR]")), "lifecycle: no error line\n" + lines);
        check(lines.stream().anyMatch(l -> l.startsWith("uninit xallocator")), "lifecycle: the allocator stopped");
        for (int run = 0; run < 3; run++) {
            lines = child("firstcaches");
            expect(lines, "global_locks: mutexs_array was already constructed", 15, "16 first caches");
            check(lines.stream().filter(l -> l.startsWith("[inf] xtable_item::INIT_POOL: class_size=")).count() == 1,
                    "one entry pool:\n" + String.join("\n", lines));
            expect(lines, "scenario firstcaches done", 1, "firstcaches");
        }
    }

    private interface Step {
        void run() throws Exception;
    }

    public static void main(String[] args) throws Exception {
        root = Files.createTempDirectory("tessijni-test");
        try {
            Step[] steps = {
                TessiJNITest::testModule, TessiJNITest::testDefaultsAndSettings, TessiJNITest::testPutModes,
                TessiJNITest::testFlags, TessiJNITest::testExpiry, TessiJNITest::testCompression,
                TessiJNITest::testEvictionAndOps, TessiJNITest::testKeysAndData, TessiJNITest::testZeroHandles,
                TessiJNITest::testThreads, TessiJNITest::testLevels, TessiJNITest::testLifecycleAndFirstCaches,
            };
            for (Step step : steps) {
                long t0 = System.nanoTime();
                TessiJNI.tessix__setLogLevel(0);
                step.run();
                System.err.printf("step %d: %d ms%n", checks, (System.nanoTime() - t0) / 1000000);
            }
        } finally {
            for (File f : root.toFile().listFiles()) {
                f.delete();
            }
            root.toFile().delete();
        }
        System.err.println("TessiJNITest: " + checks + " checks, " + failures + " failures");
        System.exit(failures == 0 ? 0 : 1);
    }
}
