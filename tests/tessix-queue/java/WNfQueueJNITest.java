import com.olm.toka.jni.tessi.TessiJNI;
import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;

/**
 * WNfQueueJNI on the real JVM (run with -Xcheck:jni): order, urgency, the limit, slices and
 * empty payloads, strings and the NUL cut, dequeue and timed waits, hand-over, wakeUpAll,
 * delete under a blocked consumer, zero handles; then child JVMs whose native output (the
 * log lines at each level, the zero-handle report) is checked once they have exited, and one
 * with a small heap that dequeues while the heap is full.
 * Exits non-zero on any failure.
 */
public final class WNfQueueJNITest {
    private static int failures = 0;
    private static int checks = 0;

    static void check(boolean ok, String what) {
        checks++;
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
            new Throwable().printStackTrace();
        }
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    private static String text(byte[] b) {
        return b == null ? "<null>" : new String(b, StandardCharsets.ISO_8859_1);
    }

    private static boolean put(long q, String s) {
        byte[] b = ascii(s);
        return WNfQueueJNI.WNfQueueGeneric_enqueue(q, b, 0, b.length, false);
    }

    private static boolean putUrgent(long q, String s) {
        byte[] b = ascii(s);
        return WNfQueueJNI.WNfQueueGeneric_enqueue(q, b, 0, b.length, true);
    }

    private static String take(long q) {
        return text(WNfQueueJNI.WNfQueueGeneric_dequeue(q));
    }

    private static void testOrderAndLimit() {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        check(q != 0, "new_WNfQueueGeneric");
        check(put(q, "n1") && put(q, "n2") && putUrgent(q, "u1") && putUrgent(q, "u2") && put(q, "n3"),
                "enqueues");
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 5, "size 5");
        for (String want : new String[] {"u2", "u1", "n1", "n2", "n3"}) {
            check(take(q).equals(want), "order: " + want);
        }
        check(WNfQueueJNI.WNfQueueGeneric_dequeue(q) == null, "dequeue on empty");
        check(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q) == null, "dequeueAsString on empty");

        check(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(q) == 0, "no limit at first");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 2);
        check(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(q) == 2, "limit 2");
        check(put(q, "a") && put(q, "b"), "two under the limit");
        check(!put(q, "c") && !putUrgent(q, "c"), "third refused");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "c", false), "string refused");
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 2, "size stays 2");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, -1);
        check(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(q) == 2, "negative limit refused");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 1);
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 2, "lowering removes nothing");
        check(take(q).equals("a") && !put(q, "d"), "still full at the new limit");
        WNfQueueJNI.WNfQueueGeneric_clear(q);
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "clear");
        check(put(q, "e") && !put(q, "f"), "limit 1 with one stored");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 0);
        for (int i = 0; i < 100; i++) {
            check(put(q, "g"), "no limit");
        }
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 101, "size 101");
        WNfQueueJNI.delete_WNfQueueGeneric(q);  // stored payloads are dropped
    }

    private static void testSlicesAndEmpty() {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        byte[] ten = ascii("0123456789");
        int[][] cases = {  // offset, length, expected first byte index, expected count
            {-3, 4, 0, 4}, {3, -1, 3, 7}, {4, 100, 4, 6}, {0, 10, 0, 10}, {2, 0, 0, 0},
            {10, 5, 0, 0}, {12, 3, 0, 0}, {5, Integer.MAX_VALUE, 5, 5},
            {Integer.MAX_VALUE, Integer.MAX_VALUE, 0, 0}, {Integer.MIN_VALUE, Integer.MIN_VALUE, 0, 10},
            {-1, Integer.MAX_VALUE, 0, 10},
        };
        for (int[] c : cases) {
            String at = "slice offset " + c[0] + " length " + c[1];
            long before = WNfQueueJNI.WNfQueueGeneric_size(q);
            check(WNfQueueJNI.WNfQueueGeneric_enqueue(q, ten, c[0], c[1], false), at + ": accepted");
            check(WNfQueueJNI.WNfQueueGeneric_size(q) == before + 1, at + ": stored");
            byte[] got = WNfQueueJNI.WNfQueueGeneric_dequeue(q);
            if (c[3] == 0) {
                check(got == null, at + ": empty payload reads back as null");
            } else {
                check(Arrays.equals(got, Arrays.copyOfRange(ten, c[2], c[2] + c[3])), at + ": " + text(got));
            }
            check(WNfQueueJNI.WNfQueueGeneric_size(q) == before, at + ": size drops by one");
        }
        check(Arrays.equals(ten, ascii("0123456789")), "the array is not written");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueue(q, null, 0, 5, false), "null array refused");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueue(q, new byte[0], 0, 0, true), "empty array refused");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "", false), "empty string refused");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, null, true), "null string refused");
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "nothing stored by refusals");

        // Strings: modified UTF-8 both ways; a NUL byte in a payload cuts the string there.
        String mixed = "h\u00e9llo \u20ac \uD83D\uDE00 \u0000 end";
        check(WNfQueueJNI.WNfQueueGeneric_enqueueString(q, mixed, false), "enqueueString");
        check(mixed.equals(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q)), "string round trip");
        byte[] withNul = {'a', 'b', 0, 'c', 'd'};
        WNfQueueJNI.WNfQueueGeneric_enqueue(q, withNul, 0, 5, false);
        WNfQueueJNI.WNfQueueGeneric_enqueue(q, withNul, 0, 5, false);
        check("ab".equals(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q)), "NUL cut");
        check(Arrays.equals(withNul, WNfQueueJNI.WNfQueueGeneric_dequeue(q)), "bytes keep the NUL");
        WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "as bytes", false);
        check(text(WNfQueueJNI.WNfQueueGeneric_dequeue(q)).equals("as bytes"), "string read as bytes");
        byte[] big = new byte[1 << 20];
        for (int i = 0; i < big.length; i++) {
            big[i] = (byte) (i * 31);
        }
        WNfQueueJNI.WNfQueueGeneric_enqueue(q, big, 0, big.length, false);
        check(Arrays.equals(big, WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0)), "1 MiB payload");
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }

    private static CompletableFuture<String> consumer(long q, long timeout) {
        return CompletableFuture.supplyAsync(() -> text(WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, timeout)),
                r -> new Thread(r).start());
    }

    private static String get(CompletableFuture<String> f) throws Exception {
        return f.get(10, TimeUnit.SECONDS);
    }

    // Lets started consumers reach their wait.
    private static void settle() throws InterruptedException {
        Thread.sleep(100);
    }

    private static void testWaits() throws Exception {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        long t0 = System.nanoTime();
        check(WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0) == null, "waitDequeue(0) on empty");
        check(System.nanoTime() - t0 < 1_000_000_000L, "waitDequeue(0) does not wait");
        put(q, "stored");
        check(text(WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0)).equals("stored"), "waitDequeue(0) takes");
        t0 = System.nanoTime();
        check(WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 50) == null, "waitDequeue(50) on empty");
        long ms = (System.nanoTime() - t0) / 1_000_000;
        check(ms >= 45 && ms < 5000, "waited about 50 ms: " + ms);
        check(put(q, "after") && WNfQueueJNI.WNfQueueGeneric_size(q) == 1, "store used after a time-out");
        WNfQueueJNI.WNfQueueGeneric_clear(q);

        // Hand-over: with the limit 1 and a consumer blocked, two enqueues both succeed.
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 1);
        CompletableFuture<String> c = consumer(q, -1);
        settle();
        check(put(q, "first") && put(q, "second"), "hand-over then store");
        check(get(c).equals("first"), "consumer got the hand-over");
        check(take(q).equals("second"), "second stored");
        CompletableFuture<String> s = CompletableFuture.supplyAsync(
                () -> WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 10000), r -> new Thread(r).start());
        settle();
        check(WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "text", true), "urgent hand-over");
        check("text".equals(s.get(10, TimeUnit.SECONDS)), "string hand-over");
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "hand-overs skip the store");
        CompletableFuture<String> longest = consumer(q, Long.MAX_VALUE);
        settle();
        check(put(q, "late"), "enqueue to the longest wait");
        check(get(longest).equals("late"), "the longest timed wait is released by an enqueue");

        // wakeUpAll releases every waiter with null; stored payloads stay.
        List<CompletableFuture<String>> cs = new ArrayList<>();
        for (long t : new long[] {-1, -1, 60000}) {
            cs.add(consumer(q, t));
        }
        settle();
        WNfQueueJNI.WNfQueueGeneric_wakeUpAll(q);
        for (CompletableFuture<String> f : cs) {
            check(get(f).equals("<null>"), "woken consumer returns null");
        }
        put(q, "kept");
        WNfQueueJNI.WNfQueueGeneric_wakeUpAll(q);
        check(WNfQueueJNI.WNfQueueGeneric_size(q) == 1, "wakeUpAll keeps stored payloads");
        WNfQueueJNI.delete_WNfQueueGeneric(q);

        // Delete while consumers wait without a limit: they return null, nothing crashes.
        long d = WNfQueueJNI.new_WNfQueueGeneric();
        cs.clear();
        for (int i = 0; i < 3; i++) {
            cs.add(consumer(d, -1));
        }
        settle();
        WNfQueueJNI.delete_WNfQueueGeneric(d);
        for (CompletableFuture<String> f : cs) {
            check(get(f).equals("<null>"), "consumer of a deleted queue returns null");
        }
    }

    private static void testZeroHandles() {
        WNfQueueJNI.delete_WNfQueueGeneric(0);
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(0, 3);
        WNfQueueJNI.WNfQueueGeneric_clear(0);
        WNfQueueJNI.WNfQueueGeneric_wakeUpAll(0);
        check(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(0) == 0, "zero getMaxNfSize");
        check(WNfQueueJNI.WNfQueueGeneric_size(0) == 0, "zero size");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueue(0, ascii("x"), 0, 1, false), "zero enqueue");
        check(!WNfQueueJNI.WNfQueueGeneric_enqueueString(0, "x", false), "zero enqueueString");
        check(WNfQueueJNI.WNfQueueGeneric_dequeue(0) == null, "zero dequeue");
        check(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(0) == null, "zero dequeueAsString");
        check(WNfQueueJNI.WNfQueueGeneric_waitDequeue(0, -1) == null, "zero waitDequeue");
        check(WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(0, -1) == null, "zero waitDequeueAsString");
    }

    // ---- child JVMs: the native output after exit ------------------------------------

    static final String ZERO_HANDLE =
            "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: WNfQueueGeneric handle is 0";

    private static List<String> child(String... args) throws Exception {
        return childWith(List.of(), args);
    }

    private static List<String> childWith(List<String> jvmOptions, String... args) throws Exception {
        List<String> cmd = new ArrayList<>();
        cmd.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        cmd.add("-Xcheck:jni");
        cmd.addAll(jvmOptions);
        cmd.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        cmd.add("-cp");
        cmd.add(System.getProperty("java.class.path"));
        cmd.add("NfQueueScenario");
        cmd.addAll(Arrays.asList(args));
        File out = File.createTempFile("nfq-child", ".out");
        File err = File.createTempFile("nfq-child", ".err");
        try {
            Process p = new ProcessBuilder(cmd).redirectOutput(out).redirectError(err).start();
            int rc = p.waitFor();
            List<String> lines = Files.readAllLines(out.toPath(), StandardCharsets.UTF_8);
            String all = String.join("\n", lines) + "\n" + Files.readString(err.toPath());
            check(rc == 0, "child " + Arrays.toString(args) + " exit " + rc + ":\n" + all);
            check(!all.contains("WARNING in native method") && !all.contains("FATAL ERROR in native method")
                    && !all.contains("JNI local refs"), "child JNI warnings:\n" + all);
            return lines;
        } finally {
            out.delete();
            err.delete();
        }
    }

    private static long count(List<String> lines, String line) {
        return lines.stream().filter(line::equals).count();
    }

    private static void testLogLines() throws Exception {
        for (int level : new int[] {-1, 0, 1, 2, 3, 4, 5, 7}) {
            List<String> lines = child("levels", Integer.toString(level));
            String at = "level " + level + ":\n" + String.join("\n", lines);
            boolean err = level > 1;
            boolean info = level > 3;
            boolean debug = level > 4;
            check(count(lines, "[inf] enqueue: data is empty or memory is overflow!") == (info ? 2 : 0), at);
            check(count(lines, "[inf] enqueueString: data is empty or memory is overflow!") == (info ? 2 : 0), at);
            check(count(lines, "[ERR] setMaxNfSize: value is negative!") == (err ? 1 : 0), at);
            check(count(lines, "[dbg] enqueue: data[3]=\"abc\"") == (debug ? 1 : 0), at);
            check(count(lines, "[dbg] enqueue: data[0]=\"\"") == (debug ? 1 : 0), at);
            check(count(lines, "[dbg] enqueueString: data[2]=\"xy\"") == (debug ? 1 : 0), at);
            check(count(lines, ZERO_HANDLE) == 2, at);  // at every level
            check(debug || lines.stream().noneMatch(l -> l.startsWith("[dbg]")), at);
            check(lines.contains("scenario levels done"), at);
        }
        // A queue alive at tessix__uninitialize keeps the allocator; after its delete the
        // stop goes through and a queue made afterwards refuses every enqueue.
        List<String> lines = child("uninit");
        String all = String.join("\n", lines);
        check(lines.contains("[ERR] tessix__uninitialize: 1 caches or queues are still alive: the "
                + "allocator keeps running"), "uninit refused:\n" + all);
        check(lines.contains("scenario uninit done"), "uninit scenario:\n" + all);
    }

    // A dequeue whose result the full heap cannot hold raises the VM's OutOfMemoryError and
    // leaves the payload at the head of the queue.
    private static void testFullHeap() throws Exception {
        List<String> lines = childWith(List.of("-Xmx24m"), "oom");
        String all = String.join("\n", lines);
        for (String form : new String[] {"dequeue", "waitDequeue", "dequeueAsString", "waitDequeueAsString"}) {
            check(lines.contains("oom: " + form + " raised OutOfMemoryError: true"), form + ":\n" + all);
        }
        check(lines.contains("scenario oom done"), "oom scenario:\n" + all);
    }

    private interface Step {
        void run() throws Exception;
    }

    public static void main(String[] args) throws Exception {
        Step[] steps = {
            WNfQueueJNITest::testOrderAndLimit, WNfQueueJNITest::testSlicesAndEmpty,
            WNfQueueJNITest::testWaits, WNfQueueJNITest::testZeroHandles, WNfQueueJNITest::testLogLines,
            WNfQueueJNITest::testFullHeap,
        };
        for (Step step : steps) {
            TessiJNI.tessix__setLogLevel(0);
            step.run();
        }
        System.err.println("WNfQueueJNITest: " + checks + " checks, " + failures + " failures");
        System.exit(failures == 0 ? 0 : 1);
    }
}
