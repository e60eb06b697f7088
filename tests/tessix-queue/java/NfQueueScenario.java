import com.olm.toka.jni.tessi.TessiJNI;
import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.nio.charset.StandardCharsets;

/**
 * Child JVM of WNfQueueJNITest: runs one scenario whose native output the parent reads
 * after exit. "levels <n>": the log lines of the queue natives at module level n.
 * "uninit": tessix__uninitialize under a live queue, then after its delete.
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

    public static void main(String[] args) {
        switch (args[0]) {
            case "levels":
                levels(Integer.parseInt(args[1]));
                break;
            case "uninit":
                uninit();
                break;
            default:
                fail("unknown scenario " + args[0]);
        }
        System.out.flush();
    }
}
