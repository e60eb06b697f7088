import com.olm.toka.jni.tessi.TessiJNI;
import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.nio.charset.StandardCharsets;

/**
 * Child JVM of WNfQueueJNITest: runs one scenario whose native output the parent reads
 * after exit. "levels <n>": the log lines of the queue natives at module level n.
 * "uninit": tessix__uninitialize under a live queue, then after its delete. "oom": dequeues
 * while the heap is full (run with a small -Xmx). "deleteEntering <rounds>": queues deleted
 * just after consumers have called waitDequeue.
 */
public final class NfQueueScenario {
    private static void fail(String what) {
        System.out.println("scenario failed: " + what);
        System.out.flush();
        System.exit(2);
    }

    private static void levels(int level) {
        TessiJNI.tessix__setLogLevel(level);
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        byte[] abc = "abc".getBytes(StandardCharsets.US_ASCII);
        if (WNfQueueJNI.WNfQueueGeneric_enqueue(q, null, 0, 1, false)) fail("null array");
        if (WNfQueueJNI.WNfQueueGeneric_enqueue(q, new byte[0], 0, 0, false)) fail("empty array");
        if (WNfQueueJNI.WNfQueueGeneric_enqueueString(q, null, false)) fail("null string");
        if (WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "", false)) fail("empty string");
        if (!WNfQueueJNI.WNfQueueGeneric_enqueue(q, abc, 0, 3, false)) fail("abc");
        if (!WNfQueueJNI.WNfQueueGeneric_enqueue(q, abc, 3, 3, false)) fail("empty slice");
        if (!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "xy", true)) fail("xy");
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, -5);
        WNfQueueJNI.WNfQueueGeneric_size(0);
        WNfQueueJNI.WNfQueueGeneric_waitDequeue(0, -1);
        WNfQueueJNI.delete_WNfQueueGeneric(q);
        System.out.println("scenario levels done");
    }

    private static void uninit() {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        if (!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "kept", false)) fail("enqueue");
        TessiJNI.tessix__uninitialize();
        if (!"kept".equals(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q))) fail("payload after refusal");
        WNfQueueJNI.delete_WNfQueueGeneric(q);
        TessiJNI.tessix__uninitialize();
        long after = WNfQueueJNI.new_WNfQueueGeneric();
        if (after == 0) fail("new after the stop");
        if (WNfQueueJNI.WNfQueueGeneric_enqueueString(after, "x", false)) fail("enqueue after the stop");
        if (WNfQueueJNI.WNfQueueGeneric_waitDequeue(after, 0) != null) fail("dequeue after the stop");
        WNfQueueJNI.delete_WNfQueueGeneric(after);
        System.out.println("scenario uninit done");
    }

    private interface Take {
        Object take(long q);
    }

    /**
     * Run with a small heap: each form of dequeue of a 4 MiB payload while the heap is full
     * raises the VM's OutOfMemoryError and leaves the payload at the head, whole.
     */
    private static void oom() {
        final int size = 4 << 20;
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        // Link the natives first: their first call allocates on the Java heap.
        WNfQueueJNI.WNfQueueGeneric_dequeue(q);
        WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0);
        WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q);
        WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 0);
        String[] names = {"dequeue", "waitDequeue", "dequeueAsString", "waitDequeueAsString"};
        Take[] forms = {
            WNfQueueJNI::WNfQueueGeneric_dequeue, h -> WNfQueueJNI.WNfQueueGeneric_waitDequeue(h, -1),
            WNfQueueJNI::WNfQueueGeneric_dequeueAsString,
            h -> WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(h, -1),
        };
        for (int f = 0; f < forms.length; f++) {
            byte[] big = new byte[size];
            java.util.Arrays.fill(big, (byte) 'a');
            big[size - 1] = (byte) ('0' + f);
            if (!WNfQueueJNI.WNfQueueGeneric_enqueue(q, big, 0, size, false)) fail("enqueue " + f);
            if (!WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "behind", false)) fail("enqueue behind");
            big = null;
            // Fill the heap so that the payload cannot be returned.
            java.util.List<byte[]> hog = new java.util.ArrayList<>();
            try {
                while (true) {
                    hog.add(new byte[64 << 10]);
                }
            } catch (OutOfMemoryError e) {
                // the heap is full now
            }
            boolean threw = false;
            try {
                if (forms[f].take(q) != null) fail(names[f] + " without memory gave a result");
            } catch (OutOfMemoryError e) {
                threw = true;
            }
            hog.clear();
            System.gc();
            System.out.println("oom: " + names[f] + " raised OutOfMemoryError: " + threw);
            if (WNfQueueJNI.WNfQueueGeneric_size(q) != 2) fail(names[f] + ": size after the failure");
            Object again = forms[f].take(q);
            int n = again instanceof byte[] ? ((byte[]) again).length : again == null ? -1 : ((String) again).length();
            char last = again instanceof byte[] ? (char) ((byte[]) again)[n - 1]
                    : again == null ? '?' : ((String) again).charAt(n - 1);
            if (n != size || last != '0' + f) fail(names[f] + ": the payload is not whole (" + n + ")");
            again = null;
            if (!"behind".equals(WNfQueueJNI.WNfQueueGeneric_dequeueAsString(q))) fail("order");
        }
        WNfQueueJNI.delete_WNfQueueGeneric(q);
        System.out.println("scenario oom done");
    }

    /**
     * Each round: two consumer threads spinning on the round number call a waiting dequeue
     * (without a limit, or timed) on a new queue, and the queue is deleted 0.5 to 8 us after
     * both calls have reached the library (the test library nfqueue_probe counts them; without
     * it, after both consumers have said they call), while the consumers may still be on their
     * way to the wait. Each must return null, and nothing may be reported (a lock of a deleted
     * queue's mutex would be).
     */
    private static void deleteEntering(int rounds) throws InterruptedException {
        final int consumers = 2;
        final boolean probe = System.getProperty("nfqueue.probe") != null;
        final java.util.concurrent.atomic.AtomicInteger calling = new java.util.concurrent.atomic.AtomicInteger();
        final java.util.concurrent.atomic.AtomicInteger returned = new java.util.concurrent.atomic.AtomicInteger();
        final java.util.concurrent.atomic.AtomicLongArray handle = new java.util.concurrent.atomic.AtomicLongArray(1);
        final java.util.concurrent.atomic.AtomicInteger round = new java.util.concurrent.atomic.AtomicInteger(-1);
        final java.util.concurrent.atomic.AtomicReferenceArray<Object> got =
                new java.util.concurrent.atomic.AtomicReferenceArray<>(consumers);
        Thread[] ts = new Thread[consumers];
        for (int i = 0; i < consumers; i++) {
            final int me = i;
            ts[i] = new Thread(() -> {
                for (int r = 0; r < rounds; r++) {
                    while (round.get() != r) {
                        Thread.onSpinWait();
                    }
                    long q = handle.get(0);
                    calling.incrementAndGet();
                    int form = (r + me) % 3;
                    got.set(me, form == 0 ? WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, -1)
                            : form == 1 ? WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 60000)
                            : WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 30000));
                    returned.incrementAndGet();
                }
            });
            ts[i].start();
        }
        java.util.Random rng = new java.util.Random(31);
        for (int r = 0; r < rounds; r++) {
            long q = WNfQueueJNI.new_WNfQueueGeneric();
            // Link the natives first: the first call of each looks its symbol up.
            if (r == 0) {
                WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 0);
                WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, 0);
            }
            handle.set(0, q);
            calling.set(0);
            returned.set(0);
            for (int i = 0; i < consumers; i++) {
                got.set(i, "not returned");
            }
            round.set(r);
            while (calling.get() < consumers) {
                Thread.onSpinWait();
            }
            // Each waiting dequeue counts twice: the facade's call and the queue's inside it.
            while (probe && NfQueueProbe.callsInside(q) < 2 * consumers) {
                Thread.onSpinWait();
            }
            long until = System.nanoTime() + 500 + rng.nextInt(7500);
            while (System.nanoTime() < until) {
                Thread.onSpinWait();
            }
            WNfQueueJNI.delete_WNfQueueGeneric(q);
            long deadline = System.nanoTime() + 20_000_000_000L;
            while (returned.get() < consumers) {
                if (System.nanoTime() > deadline) fail("round " + r + ": a consumer of the deleted queue is still inside");
                Thread.yield();
            }
            for (int i = 0; i < consumers; i++) {
                if (got.get(i) != null) fail("round " + r + ": a consumer of the deleted queue got " + got.get(i));
            }
        }
        for (Thread t : ts) {
            t.join();
        }
        System.out.println("scenario deleteEntering done");
    }

    public static void main(String[] args) throws InterruptedException {
        switch (args[0]) {
            case "levels":
                levels(Integer.parseInt(args[1]));
                break;
            case "uninit":
                uninit();
                break;
            case "oom":
                oom();
                break;
            case "deleteEntering":
                deleteEntering(Integer.parseInt(args[1]));
                break;
            default:
                fail("unknown scenario " + args[0]);
        }
        System.out.flush();
    }
}
