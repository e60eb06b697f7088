import static org.junit.jupiter.api.Assertions.assertTrue;

import com.olm.toka.jni.tessi.TessiJNI;
import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;

import jsupport.ChildJvm;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * WNfQueueJNI on the real JVM (run with -Xcheck:jni): order, urgency, the limit, slices and
 * empty payloads, strings and the NUL cut, dequeue and timed waits, hand-over, wakeUpAll,
 * delete under a blocked consumer, zero handles; then child JVMs (NfQueueScenario) whose
 * native output (the log lines at each level, the zero-handle report, deletes under consumers
 * that have just called) is checked once they have exited, and one with a small heap that
 * dequeues while the heap is full.
 */
class WNfQueueJNITest {
    @TempDir
    static Path root;

    @BeforeEach
    void quiet() {
        TessiJNI.tessix__setLogLevel(0);
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

    @Test
    void orderAndLimit() {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        assertTrue(q != 0, "new_WNfQueueGeneric");
        assertTrue(put(q, "n1") && put(q, "n2") && putUrgent(q, "u1") && putUrgent(q, "u2") && put(q, "n3"),
                "enqueues");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 5, "size 5");
        for (String want : new String[] {"u2", "u1", "n1", "n2", "n3"}) {
            assertTrue(take(q).equals(want), "order: " + want);
        }
        assertTrue(WNfQueueJNI.WNfQueueGeneric_dequeue(q) == null, "dequeue on empty");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q) == null, "dequeueAsString on empty");

        assertTrue(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(q) == 0, "no limit at first");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 2);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(q) == 2, "limit 2");
        assertTrue(put(q, "a") && put(q, "b"), "two under the limit");
        assertTrue(!put(q, "c") && !putUrgent(q, "c"), "third refused");
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "c", false), "string refused");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 2, "size stays 2");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, -1);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(q) == 2, "negative limit refused");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 1);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 2, "lowering removes nothing");
        assertTrue(take(q).equals("a") && !put(q, "d"), "still full at the new limit");
        WNfQueueJNI.WNfQueueGeneric_clear(q);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "clear");
        assertTrue(put(q, "e") && !put(q, "f"), "limit 1 with one stored");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 0);
        for (int i = 0; i < 100; i++) {
            assertTrue(put(q, "g"), "no limit");
        }
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 101, "size 101");
        WNfQueueJNI.delete_WNfQueueGeneric(q);  // stored payloads are dropped
    }

    // offset, length, and the first byte index and count of what is stored
    @ParameterizedTest(name = "slice offset {0} length {1} stores {3} bytes from {2}")
    @CsvSource({"-3, 4, 0, 4", "3, -1, 3, 7", "4, 100, 4, 6", "0, 10, 0, 10", "2, 0, 0, 0",
        "10, 5, 0, 0", "12, 3, 0, 0", "5, 2147483647, 5, 5", "2147483647, 2147483647, 0, 0",
        "-2147483648, -2147483648, 0, 10", "-1, 2147483647, 0, 10"})
    void sliceClamping(int off, int len, int from, int count) {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        byte[] ten = ascii("0123456789");
        String at = "slice offset " + off + " length " + len;
        long before = WNfQueueJNI.WNfQueueGeneric_size(q);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_enqueue(q, ten, off, len, false), at + ": accepted");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == before + 1, at + ": stored");
        byte[] got = WNfQueueJNI.WNfQueueGeneric_dequeue(q);
        if (count == 0) {
            assertTrue(got == null, at + ": empty payload reads back as null");
        } else {
            assertTrue(Arrays.equals(got, Arrays.copyOfRange(ten, from, from + count)), at + ": " + text(got));
        }
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == before, at + ": size drops by one");
        assertTrue(Arrays.equals(ten, ascii("0123456789")), "the array is not written");
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }

    @Test
    void emptyPayloadsAndStrings() {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueue(q, null, 0, 5, false), "null array refused");
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueue(q, new byte[0], 0, 0, true), "empty array refused");
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "", false), "empty string refused");
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, null, true), "null string refused");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "nothing stored by refusals");

        // Strings: modified UTF-8 both ways; a NUL byte in a payload cuts the string there.
        String mixed = "h\u00e9llo \u20ac \uD83D\uDE00 \u0000 end";
        assertTrue(WNfQueueJNI.WNfQueueGeneric_enqueueString(q, mixed, false), "enqueueString");
        assertTrue(mixed.equals(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q)), "string round trip");
        byte[] withNul = {'a', 'b', 0, 'c', 'd'};
        WNfQueueJNI.WNfQueueGeneric_enqueue(q, withNul, 0, 5, false);
        WNfQueueJNI.WNfQueueGeneric_enqueue(q, withNul, 0, 5, false);
        assertTrue("ab".equals(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q)), "NUL cut");
        assertTrue(Arrays.equals(withNul, WNfQueueJNI.WNfQueueGeneric_dequeue(q)), "bytes keep the NUL");
        WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "as bytes", false);
        assertTrue(text(WNfQueueJNI.WNfQueueGeneric_dequeue(q)).equals("as bytes"), "string read as bytes");
        byte[] big = new byte[1 << 20];
        for (int i = 0; i < big.length; i++) {
            big[i] = (byte) (i * 31);
        }
        WNfQueueJNI.WNfQueueGeneric_enqueue(q, big, 0, big.length, false);
        assertTrue(Arrays.equals(big, WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0)), "1 MiB payload");
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

    @Test
    void timedWaits() throws Exception {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        long t0 = System.nanoTime();
        assertTrue(WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0) == null, "waitDequeue(0) on empty");
        assertTrue(System.nanoTime() - t0 < 1_000_000_000L, "waitDequeue(0) does not wait");
        put(q, "stored");
        assertTrue(text(WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0)).equals("stored"), "waitDequeue(0) takes");
        t0 = System.nanoTime();
        assertTrue(WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 50) == null, "waitDequeue(50) on empty");
        long ms = (System.nanoTime() - t0) / 1_000_000;
        assertTrue(ms >= 45 && ms < 5000, "waited about 50 ms: " + ms);
        assertTrue(put(q, "after") && WNfQueueJNI.WNfQueueGeneric_size(q) == 1, "store used after a time-out");
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }

    // Hand-over: with the limit 1 and a consumer blocked, two enqueues both succeed.
    @Test
    void handOver() throws Exception {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 1);
        CompletableFuture<String> c = consumer(q, -1);
        settle();
        assertTrue(put(q, "first") && put(q, "second"), "hand-over then store");
        assertTrue(get(c).equals("first"), "consumer got the hand-over");
        assertTrue(take(q).equals("second"), "second stored");
        CompletableFuture<String> s = CompletableFuture.supplyAsync(
                () -> WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 10000), r -> new Thread(r).start());
        settle();
        assertTrue(WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "text", true), "urgent hand-over");
        assertTrue("text".equals(s.get(10, TimeUnit.SECONDS)), "string hand-over");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "hand-overs skip the store");
        CompletableFuture<String> longest = consumer(q, Long.MAX_VALUE);
        settle();
        assertTrue(put(q, "late"), "enqueue to the longest wait");
        assertTrue(get(longest).equals("late"), "the longest timed wait is released by an enqueue");
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }

    // wakeUpAll releases every waiter with null; stored payloads stay.
    @Test
    void wakeUpAll() throws Exception {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 1);
        List<CompletableFuture<String>> cs = new ArrayList<>();
        for (long t : new long[] {-1, -1, 60000}) {
            cs.add(consumer(q, t));
        }
        settle();
        WNfQueueJNI.WNfQueueGeneric_wakeUpAll(q);
        for (CompletableFuture<String> f : cs) {
            assertTrue(get(f).equals("<null>"), "woken consumer returns null");
        }
        put(q, "kept");
        WNfQueueJNI.WNfQueueGeneric_wakeUpAll(q);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 1, "wakeUpAll keeps stored payloads");
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }

    // Delete while consumers wait without a limit: they return null, nothing crashes.
    @Test
    void deleteUnderBlockedConsumers() throws Exception {
        long d = WNfQueueJNI.new_WNfQueueGeneric();
        List<CompletableFuture<String>> cs = new ArrayList<>();
        for (int i = 0; i < 3; i++) {
            cs.add(consumer(d, -1));
        }
        settle();
        WNfQueueJNI.delete_WNfQueueGeneric(d);
        for (CompletableFuture<String> f : cs) {
            assertTrue(get(f).equals("<null>"), "consumer of a deleted queue returns null");
        }
    }

    @Test
    void zeroHandles() {
        WNfQueueJNI.delete_WNfQueueGeneric(0);
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(0, 3);
        WNfQueueJNI.WNfQueueGeneric_clear(0);
        WNfQueueJNI.WNfQueueGeneric_wakeUpAll(0);
        assertTrue(WNfQueueJNI.WNfQueueGeneric_getMaxNfSize(0) == 0, "zero getMaxNfSize");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(0) == 0, "zero size");
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueue(0, ascii("x"), 0, 1, false), "zero enqueue");
        assertTrue(!WNfQueueJNI.WNfQueueGeneric_enqueueString(0, "x", false), "zero enqueueString");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_dequeue(0) == null, "zero dequeue");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(0) == null, "zero dequeueAsString");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_waitDequeue(0, -1) == null, "zero waitDequeue");
        assertTrue(WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(0, -1) == null, "zero waitDequeueAsString");
    }

    // ---- child JVMs: the native output after exit ------------------------------------

    static final String ZERO_HANDLE =
            "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: WNfQueueGeneric handle is 0";

    private static List<String> child(String... args) throws Exception {
        return childWith(List.of(), args);
    }

    private static List<String> childWith(List<String> jvmOptions, String... args) throws Exception {
        return ChildJvm.runClean(root, jvmOptions, "NfQueueScenario", args).lines;
    }

    private static long count(List<String> lines, String line) {
        return lines.stream().filter(line::equals).count();
    }

    // Each level in a child JVM of its own.
    @ParameterizedTest(name = "log level {0} gates the native lines")
    @ValueSource(ints = {-1, 0, 1, 2, 3, 4, 5, 7})
    void logLevelGating(int level) throws Exception {
        List<String> lines = child("levels", Integer.toString(level));
        String at = "level " + level + ":\n" + String.join("\n", lines);
        boolean err = level > 1;
        boolean info = level > 3;
        boolean debug = level > 4;
        assertTrue(count(lines, "[inf] enqueue: data is empty or memory is overflow!") == (info ? 2 : 0), at);
        assertTrue(count(lines, "[inf] enqueueString: data is empty or memory is overflow!") == (info ? 2 : 0), at);
        assertTrue(count(lines, "[ERR] setMaxNfSize: value is negative!") == (err ? 1 : 0), at);
        assertTrue(count(lines, "[dbg] enqueue: data[3]=\"abc\"") == (debug ? 1 : 0), at);
        assertTrue(count(lines, "[dbg] enqueue: data[0]=\"\"") == (debug ? 1 : 0), at);
        assertTrue(count(lines, "[dbg] enqueueString: data[2]=\"xy\"") == (debug ? 1 : 0), at);
        assertTrue(count(lines, ZERO_HANDLE) == 2, at);  // at every level
        assertTrue(debug || lines.stream().noneMatch(l -> l.startsWith("[dbg]")), at);
        assertTrue(lines.contains("scenario levels done"), at);
    }

    // A Java caller cannot tell a consumer that waits from one that has just called: queues
    // deleted just after consumers' calls have reached the library, wherever the consumers
    // are on their way to the wait, release them all with null and report nothing.
    @Test
    void deleteUnderConsumersThatHaveJustCalled() throws Exception {
        List<String> lines = childWith(List.of("-Dnfqueue.probe=" + System.getProperty("nfqueue.probe")),
                "deleteEntering", "1000");
        // Every new queue prints the key-lock line, so the native output, flushed in blocks,
        // may cut into the scenario's own lines: the texts are searched for, not the lines.
        String all = String.join("\n", lines);
        assertTrue(all.contains("scenario deleteEntering done"), "deleteEntering:\n" + all);
        assertTrue(!all.contains("[ERR]"), "deleteEntering:\n" + all);
    }

    // A queue alive at tessix__uninitialize keeps the allocator; after its delete the
    // stop goes through and a queue made afterwards refuses every enqueue.
    @Test
    void uninitializeUnderALiveQueue() throws Exception {
        List<String> lines = child("uninit");
        String all = String.join("\n", lines);
        assertTrue(lines.contains("[ERR] tessix__uninitialize: 1 caches or queues are still alive: the "
                + "allocator keeps running"), "uninit refused:\n" + all);
        assertTrue(lines.contains("scenario uninit done"), "uninit scenario:\n" + all);
    }

    // A dequeue whose result the full heap cannot hold raises the VM's OutOfMemoryError and
    // leaves the payload at the head of the queue.
    @Test
    void fullHeap() throws Exception {
        List<String> lines = childWith(List.of("-Xmx24m"), "oom");
        String all = String.join("\n", lines);
        for (String form : new String[] {"dequeue", "waitDequeue", "dequeueAsString", "waitDequeueAsString"}) {
            assertTrue(lines.contains("oom: " + form + " raised OutOfMemoryError: true"), form + ":\n" + all);
        }
        assertTrue(lines.contains("scenario oom done"), "oom scenario:\n" + all);
    }
}
