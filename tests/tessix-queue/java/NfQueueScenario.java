import com.olm.toka.jni.tessi.TessiJNI;
import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.nio.charset.StandardCharsets;

/**
 * Child JVM of WNfQueueJNITest: runs one scenario whose native output the parent reads
 * after exit. "levels <n>": the log lines of the queue natives at module level n.
 * "uninit": tessix__uninitialize under a live queue, then after its delete. "oom": dequeues
 * while the heap is full (run with a small -Xmx).
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

    public static void main(String[] args) {
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
            default:
                fail("unknown scenario " + args[0]);
        }
        System.out.flush();
    }
}
