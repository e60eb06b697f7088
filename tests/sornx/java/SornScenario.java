import com.olm.toka.jni.sorn.SornJNI;

import java.nio.charset.StandardCharsets;

/**
 * Child JVM of SornJNITest: runs one scenario whose native output the parent checks after
 * this JVM has exited (the native side's standard output is block-buffered). Exits 0 when
 * every answer was as expected, 2 otherwise (the failures go to standard error).
 *
 * usage: SornScenario levels HOME LEVEL [HOME LEVEL...] | exclusive HOME | exit HOME | oom HOME
 *
 * "levels" opens a 2-partition uniform store in each HOME in turn; the store's listing line
 * "Partition[1]: HOME/lv-1.kch" (printed natively at every level) marks where the lines of
 * that level begin.
 */
public final class SornScenario {
    private static int failures = 0;

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
        }
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    /** Every gated line kind once, at the given module level. */
    private static void levels(int level, String home) {
        SornJNI.sornx__setLogLevel(level);
        check(SornJNI.sornx__getLogLevel() == level, "level read back");
        long h = SornJNI.new_SornGeneric();
        check(h != 0, "new");
        check(SornJNI.SornGeneric_open(h, "lv", home, "lv", null, false, "uniform", 2, 0, 0L,
                null, null), "open uniform");
        check(SornJNI.SornGeneric_get(h, "") == null, "get empty key");
        check(SornJNI.SornGeneric_get(h, null) == null, "get null key");
        check(!SornJNI.SornGeneric_put(h, "", ascii("v"), 0, 1, 3), "put empty key");
        check(SornJNI.SornGeneric_popAsString(h, "") == null, "popAsString empty key");
        check(SornJNI.SornGeneric_put(h, "k", ascii("abcdef"), 0, 3, 3), "put k");
        check(!SornJNI.SornGeneric_put(h, "p", ascii("xyz"), 0, 3, 7), "put policy 7");
        check(SornJNI.SornGeneric_put(h, "n", null, 0, 5, 3), "put null array");
        check(new String(SornJNI.SornGeneric_get(h, "k"), StandardCharsets.US_ASCII).equals("abc"),
                "get k");
        check(SornJNI.SornGeneric_exist(h, "k"), "exist k");
        // The failures reported at every level.
        check(!SornJNI.SornGeneric_open(h, "bad", home, "bad", null, false, "hash", 0, 0, 0L,
                null, null), "unknown distrib type");
        check(SornJNI.SornGeneric_isOpen(h), "failed open keeps the store");
        check(SornJNI.SornGeneric_get(0L, "k") == null, "get on handle 0");
        SornJNI.SornGeneric_close(h);
        SornJNI.delete_SornGeneric(h);
    }

    /** Two handles on one store: the second open is refused. */
    private static void exclusive(String home) {
        long a = SornJNI.new_SornGeneric();
        long b = SornJNI.new_SornGeneric();
        check(SornJNI.SornGeneric_open(a, "ex", home, "ex", null, false, "uniform", 2, 0, 0L,
                null, null), "open a");
        check(!SornJNI.SornGeneric_open(b, "ex", home, "ex", null, false, "contiguous", 2, 0, 0L,
                null, null), "open b refused");
        check(!SornJNI.SornGeneric_isOpen(b), "b stays closed");
        SornJNI.delete_SornGeneric(a);
        SornJNI.delete_SornGeneric(b);
    }

    /**
     * The module stopped while the JVM goes on, then the JVM exits: nothing may crash at
     * exit, and the module text still works.
     */
    private static void exit(String home) {
        long h = SornJNI.new_SornGeneric();
        check(SornJNI.SornGeneric_open(h, "ct", home, "ct", null, false, "contiguous", 2, 0, 0L,
                null, null), "open contiguous");
        check(SornJNI.SornGeneric_put(h, "key1", ascii("v"), 0, -1, 1), "put");
        // Refused while the store is alive: it goes on serving its records.
        SornJNI.sornx__uninitialize();
        check("v".equals(SornJNI.SornGeneric_getAsString(h, "key1")), "get after refused stop");
        check(SornJNI.SornGeneric_put(h, "key2", ascii("w"), 0, -1, 1), "put after refused stop");
        SornJNI.delete_SornGeneric(h);
        String before = SornJNI.sornx__info();
        SornJNI.sornx__uninitialize();
        String after = SornJNI.sornx__info();
        check(before != null && before.equals(after), "info after uninitialize");
        check(SornJNI.sornx__initialize() == 1, "initialize after uninitialize");
        // A store opened after the stop works whole on the system allocator, reads included.
        String[] types = {"uniform", "contiguous"};
        for (String type : types) {
            long s = SornJNI.new_SornGeneric();
            check(SornJNI.SornGeneric_open(s, "as", home + "/" + type, "as", null, false, type, 2,
                    0, 0L, null, null), type + " open after stop");
            check(SornJNI.SornGeneric_putString(s, "key1", "one", 1), type + " putString after stop");
            check(SornJNI.SornGeneric_put(s, "key2", ascii("two"), 0, -1, 1), type + " put after stop");
            check(SornJNI.SornGeneric_exist(s, "key1"), type + " exist after stop");
            check("one".equals(SornJNI.SornGeneric_getAsString(s, "key1")), type + " getAsString after stop");
            byte[] two = SornJNI.SornGeneric_get(s, "key2");
            check(two != null && new String(two, StandardCharsets.US_ASCII).equals("two"), type + " get after stop");
            check("one".equals(SornJNI.SornGeneric_popAsString(s, "key1")), type + " popAsString after stop");
            check(!SornJNI.SornGeneric_exist(s, "key1"), type + " the pop removed the record");
            byte[] popped = SornJNI.SornGeneric_pop(s, "key2");
            check(popped != null && popped.length == 3, type + " pop after stop");
            SornJNI.delete_SornGeneric(s);
        }
        System.out.println("scenario exit done");
    }

    /**
     * Run with a small heap: a pop whose result array cannot be made (OutOfMemoryError)
     * must leave the record in the store.
     */
    private static void oom(String home) {
        long h = SornJNI.new_SornGeneric();
        check(SornJNI.SornGeneric_open(h, "oom", home, "oom", null, false, "uniform", 1, 0, 0L,
                null, null), "open");
        final int size = 10 << 20;
        byte[] value = new byte[size];
        value[size - 1] = 42;
        check(SornJNI.SornGeneric_put(h, "big", value, 0, -1, 3), "put 10 MiB");
        // Link the natives first: their first call allocates on the Java heap.
        check(SornJNI.SornGeneric_pop(h, "absent") == null, "pop absent");
        check(SornJNI.SornGeneric_exist(h, "big"), "exist");
        // Fill the heap so that the popped value cannot be allocated.
        java.util.List<byte[]> hog = new java.util.ArrayList<>();
        boolean threw = false;
        try {
            while (true) {
                hog.add(new byte[64 << 10]);
            }
        } catch (OutOfMemoryError e) {
            // the heap is full now
        }
        try {
            byte[] got = SornJNI.SornGeneric_pop(h, "big");
            check(got == null, "pop without memory gives null");
        } catch (OutOfMemoryError e) {
            threw = true;
        }
        hog.clear();
        value = null;
        System.gc();
        System.out.println("oom: pop raised OutOfMemoryError: " + threw);
        check(SornJNI.SornGeneric_exist(h, "big"), "the record was put back");
        byte[] again = SornJNI.SornGeneric_pop(h, "big");
        check(again != null && again.length == size && again[size - 1] == 42, "the record is whole");
        check(!SornJNI.SornGeneric_exist(h, "big"), "popped now");
        SornJNI.delete_SornGeneric(h);
    }

    public static void main(String[] args) {
        switch (args[0]) {
            case "levels":
                for (int i = 1; i + 1 < args.length; i += 2) {
                    levels(Integer.parseInt(args[i + 1]), args[i]);
                }
                break;
            case "exclusive":
                exclusive(args[1]);
                break;
            case "exit":
                exit(args[1]);
                break;
            case "oom":
                oom(args[1]);
                break;
            default:
                check(false, "unknown scenario " + args[0]);
        }
        System.exit(failures == 0 ? 0 : 2);
    }
}
