package com.olm.toka.jni.wnfqueue;

/**
 * Java face of the TessiX notification queue: a queue of byte payloads in process memory,
 * the native methods of libTessiX.so.
 *
 * Loading: the class loads the native library "TessiX" itself, once, in its static
 * initialiser (System.loadLibrary, so the library's directory must be on
 * java.library.path).
 *
 * A queue is a native object named by a handle (a long): new_WNfQueueGeneric creates it,
 * delete_WNfQueueGeneric destroys it (0 is ignored), and the caller owns it in between.
 * Deleting a queue releases every thread in a waitDequeue on it, blocked or just called
 * (they return null, or a payload still stored), and waits until every call that has entered
 * the queue has left before anything is freed; no call may start on it once its delete has
 * begun, and a handle must not be used after its delete. A zero handle is reported on the
 * native side and answered with 0, false or null.
 *
 * Payloads are copied in and out: enqueue takes a slice of an array (offset and length
 * clamped to it), enqueueString the string's modified UTF-8 bytes; dequeues return fresh
 * arrays or strings (the AsString forms end at the payload's first zero byte). An empty
 * payload reads back as null. A null or empty array or string is refused (false). Urgent
 * payloads go to the head of the queue. setMaxNfSize limits the stored payloads (0: no
 * limit; negative values are refused); a payload is always accepted when a consumer waits,
 * since it goes straight to the one that has waited longest, and also when one has just
 * called waitDequeue (it is stored for that one, beyond the limit). waitDequeue waits at most
 * timeout milliseconds (0: no wait, negative: no limit) and returns null on time-out or
 * after wakeUpAll, which releases every waitDequeue that began before it and finds nothing
 * stored. The natives raise no Java exceptions of their own: failures are answered with 0,
 * false or null and reported on the native side's standard output.
 *
 * When the VM cannot make the result array or string of a dequeue or waitDequeue (the heap
 * is full), the payload is not lost: it goes back to the head of the queue (or straight to
 * the consumer that has waited longest), whatever the limit, before the method returns
 * null. The VM's own OutOfMemoryError stays pending and is thrown to the caller on return.
 *
 * All methods are thread-safe: any number of producers and consumers may share a queue.
 */
public final class WNfQueueJNI {
    static {
        System.loadLibrary("TessiX");
    }

    private WNfQueueJNI() {
    }

    public static native long new_WNfQueueGeneric();

    public static native void delete_WNfQueueGeneric(long handle);

    public static native void WNfQueueGeneric_setMaxNfSize(long handle, long limit);

    public static native long WNfQueueGeneric_getMaxNfSize(long handle);

    public static native long WNfQueueGeneric_size(long handle);

    public static native void WNfQueueGeneric_clear(long handle);

    public static native void WNfQueueGeneric_wakeUpAll(long handle);

    public static native boolean WNfQueueGeneric_enqueue(long handle, byte[] data, int offset,
            int length, boolean urgent);

    public static native boolean WNfQueueGeneric_enqueueString(long handle, String data,
            boolean urgent);

    public static native byte[] WNfQueueGeneric_dequeue(long handle);

    public static native String WNfQueueGeneric_dequeueAsString(long handle);

    public static native byte[] WNfQueueGeneric_waitDequeue(long handle, long timeout);

    public static native String WNfQueueGeneric_waitDequeueAsString(long handle, long timeout);
}
