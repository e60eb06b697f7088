/** The native of the test library nfqueue_probe, loaded from the path in nfqueue.probe. */
final class NfQueueProbe {
    private NfQueueProbe() {}

    static {
        System.load(System.getProperty("nfqueue.probe"));
    }

    /** Calls inside the queue behind a live WNfQueueJNI handle (a waiting dequeue counts twice: the facade's call and the queue's). */
    static native int callsInside(long handle);
}
