import com.olm.toka.jni.tessi.TessiJNI;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.concurrent.CountDownLatch;

/**
 * The child JVM of TessiJNITest: runs one scenario whose native output the parent checks
 * after this JVM has exited (the native side's stdout is block-buffered). Exits 1 on a
 * wrong answer.
 * usage: TessiScenario levels <level> | lifecycle | firstcaches
 */
public final class TessiScenario {
    private static void check(boolean ok, String what) {
        if (!ok) {
            System.err.println("FAILED: " + what);
            System.exit(1);
        }
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    private static void levels(int level) {
        TessiJNI.tessix__setLogLevel(level);
        long h = TessiJNI.new_TessiGeneric(1000, 100);
        check(h != 0, "new");
        for (String k : new String[] {"", null}) {
            check(TessiJNI.TessiGeneric_get(h, k) == null, "get");
            check(TessiJNI.TessiGeneric_getAsString(h, k) == null, "getAsString");
            check(TessiJNI.TessiGeneric_pop(h, k) == null, "pop");
            check(TessiJNI.TessiGeneric_popAsString(h, k) == null, "popAsString");
            check(!TessiJNI.TessiGeneric_remove(h, k), "remove");
            check(!TessiJNI.TessiGeneric_exist(h, k, true), "exist");
            check(TessiJNI.TessiGeneric_getItemFlag(h, k) == -1, "getItemFlag");
            check(!TessiJNI.TessiGeneric_setItemFlag(h, k, 0, 1), "setItemFlag");
            check(TessiJNI.TessiGeneric_getItemTimeExp(h, k) == -1, "getItemTimeExp");
            check(!TessiJNI.TessiGeneric_extItemTimeExp(h, k, 1), "extItemTimeExp");
            check(!TessiJNI.TessiGeneric_put(h, k, ascii("v"), 0, -1, true, 0, 3), "put");
            check(!TessiJNI.TessiGeneric_putString(h, k, "v", true, 0, 3), "putString");
        }
        check(TessiJNI.TessiGeneric_put(h, "k", ascii("abc"), 0, -1, true, 0, 3), "put k");
        check(TessiJNI.TessiGeneric_put(h, "n", null, 0, 0, true, 0, 3), "put n");
        check(TessiJNI.TessiGeneric_putString(h, "s", "xyz", true, 0, 3), "putString s");
        check(!TessiJNI.TessiGeneric_putString(h, "k", "v", true, 0, 1), "add present");
        check(!TessiJNI.TessiGeneric_putString(h, "zz", "v", true, 0, 2), "update missing");
        check(!TessiJNI.TessiGeneric_putString(h, "k", "w", true, 0, 9), "invalid mode");
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "k"), ascii("abc")), "get k");
        check("abc".equals(TessiJNI.TessiGeneric_getAsString(h, "k")), "getAsString k");
        check(TessiJNI.TessiGeneric_exist(h, "k", true), "exist k");
        check(TessiJNI.TessiGeneric_getItemFlag(h, "k") == 0, "flag k");
        check(Arrays.equals(TessiJNI.TessiGeneric_pop(h, "k"), ascii("abc")), "pop k");
        check(TessiJNI.TessiGeneric_putString(h, "k", "abc", true, 0, 3), "putString k");
        check("abc".equals(TessiJNI.TessiGeneric_popAsString(h, "k")), "popAsString k");
        check(TessiJNI.TessiGeneric_putString(h, "k", "abc", true, 0, 3), "putString k again");
        check(TessiJNI.TessiGeneric_remove(h, "k"), "remove k");
        TessiJNI.TessiGeneric_setExpTime(h, -1);
        TessiJNI.TessiGeneric_setCompressMed(h, 3);
        TessiJNI.TessiGeneric_setThresholdComp(h, -1);
        check(TessiJNI.TessiGeneric_get(0, "k") == null, "zero handle get");
        check(TessiJNI.TessiGeneric_getItemFlag(0, "k") == 0, "zero handle flag");
        check(TessiJNI.new_TessiGeneric(0, 10) == 0 && TessiJNI.new_TessiGeneric(-5, 10) == 0, "tblSize");
        check(TessiJNI.new_TessiGeneric(100, 0) == 0, "lruSize");
        TessiJNI.tessix__uninitialize();  // refused: h is alive
        check(TessiJNI.TessiGeneric_putString(h, "after", "v", true, 0, 3)
                && "v".equals(TessiJNI.TessiGeneric_getAsString(h, "after")), "cache works on");
        TessiJNI.delete_TessiGeneric(h);
        System.out.println("scenario levels done");
    }

    private static void lifecycle() {
        check(TessiJNI.tessix__info().startsWith("Name:         TessiX\n"), "info");
        long h = TessiJNI.new_TessiGeneric(100, 10);
        check(TessiJNI.TessiGeneric_putString(h, "a", "1", true, 0, 3), "put");
        check("1".equals(TessiJNI.TessiGeneric_getAsString(h, "a")), "get");
        TessiJNI.delete_TessiGeneric(h);
        TessiJNI.tessix__uninitialize();
        check("Name:         TessiX\n".equals(TessiJNI.tessix__info().substring(0, 21)), "info after stop");
        check("\n\n\n\n\n\n\n\n\n".equals(TessiJNI.tessix__memstat(0)), "memstat after stop");
        // A cache made now works on the system allocator.
        h = TessiJNI.new_TessiGeneric(100, 10);
        check(h != 0, "new after stop");
        TessiJNI.TessiGeneric_setCompressMed(h, 1);
        byte[] big = new byte[5000];
        Arrays.fill(big, (byte) 'r');
        for (int i = 0; i < 50; i++) {
            check(TessiJNI.TessiGeneric_put(h, "k" + i, big, 0, -1, true, 0, 3), "put after stop");
        }
        check(TessiJNI.TessiGeneric_size(h) == 10, "evicted after stop");
        check(Arrays.equals(TessiJNI.TessiGeneric_get(h, "k49"), big), "get after stop");
        check(TessiJNI.TessiGeneric_popAsString(h, "k48").length() == 5000, "pop after stop");
        TessiJNI.delete_TessiGeneric(h);
        h = TessiJNI.new_TessiGeneric(100, 10);  // left alive at exit: the exit is clean anyway
        check(TessiJNI.TessiGeneric_putString(h, "z", "1", true, 0, 3), "last put");
        System.out.println("scenario lifecycle done");
    }

    private static void firstCaches() throws Exception {
        final int n = 16;
        final long[] handles = new long[n];
        final CountDownLatch start = new CountDownLatch(1);
        Thread[] threads = new Thread[n];
        for (int i = 0; i < n; i++) {
            final int at = i;
            threads[i] = new Thread(() -> {
                try {
                    start.await();
                } catch (InterruptedException e) {
                    return;
                }
                handles[at] = TessiJNI.new_TessiGeneric(64, 8);
                TessiJNI.TessiGeneric_putString(handles[at], "k", "v" + at, true, 0, 3);
            });
            threads[i].start();
        }
        start.countDown();
        for (Thread t : threads) {
            t.join();
        }
        for (int i = 0; i < n; i++) {
            check(handles[i] != 0, "cache " + i);
            check(("v" + i).equals(TessiJNI.TessiGeneric_getAsString(handles[i], "k")), "value " + i);
            TessiJNI.delete_TessiGeneric(handles[i]);
        }
        System.out.println("scenario firstcaches done");
    }

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "levels":
                levels(Integer.parseInt(args[1]));
                break;
            case "lifecycle":
                lifecycle();
                break;
            case "firstcaches":
                firstCaches();
                break;
            default:
                check(false, "unknown scenario " + args[0]);
        }
    }
}
