import com.olm.toka.jni.moprax.MopraXJNI;

import java.util.concurrent.atomic.AtomicLong;

/**
 * Child JVM of MopraXArraysTest: copy threads move large arrays through holders
 * (setBinVal, then getBinVal back into the array) while allocating threads keep a ring of
 * 256 KiB arrays live, so that the heap stays about 80% full and collections run all the
 * time. Prints "copies N", "copy OutOfMemoryError N" and "alloc OutOfMemoryError N".
 * usage: MopraXArrayLoad seconds copyThreads arrayMiB allocThreads liveMiBPerAllocThread
 */
final class MopraXArrayLoad {
    private MopraXArrayLoad() {}

    public static void main(String[] args) throws InterruptedException {
        final long seconds = Long.parseLong(args[0]);
        final int copiers = Integer.parseInt(args[1]);
        final int arrayMiB = Integer.parseInt(args[2]);
        final int allocators = Integer.parseInt(args[3]);
        final int liveMiB = Integer.parseInt(args[4]);
        final long deadline = System.nanoTime() + seconds * 1_000_000_000L;
        AtomicLong copies = new AtomicLong();
        AtomicLong copyErrors = new AtomicLong();
        AtomicLong allocErrors = new AtomicLong();
        Thread[] threads = new Thread[copiers + allocators];
        for (int t = 0; t < copiers; ++t) {
            final int size = (arrayMiB << 20) + t * 4096;
            threads[t] = new Thread(() -> {
                byte[] a = new byte[size];
                long h = MopraXJNI.new_mopra__StrHolder();
                while (System.nanoTime() < deadline) {
                    try {
                        MopraXJNI.mopra__StrHolder_setBinVal(h, null, a, 0, a.length);
                        MopraXJNI.mopra__StrHolder_getBinVal(h, null, a, 0);
                        copies.incrementAndGet();
                    } catch (OutOfMemoryError e) {
                        copyErrors.incrementAndGet();
                    }
                }
                MopraXJNI.delete_mopra__StrHolder(h);
            });
        }
        for (int t = copiers; t < threads.length; ++t) {
            threads[t] = new Thread(() -> {
                final int chunk = 256 << 10;
                byte[][] ring = new byte[(liveMiB << 20) / chunk][];
                int next = 0;
                while (System.nanoTime() < deadline) {
                    try {
                        ring[next] = new byte[chunk];
                        next = (next + 1) % ring.length;
                    } catch (OutOfMemoryError e) {
                        allocErrors.incrementAndGet();
                    }
                }
            });
        }
        for (Thread t : threads) {
            t.start();
        }
        for (Thread t : threads) {
            t.join();
        }
        System.out.println("copies " + copies.get());
        System.out.println("copy OutOfMemoryError " + copyErrors.get());
        System.out.println("alloc OutOfMemoryError " + allocErrors.get());
    }
}
