import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ArrayBlockingQueue;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;

/**
 * The Java side of the TessiX queue benchmark, in one JVM: items/s of 16-byte payloads for
 * 1 producer / 1 consumer, 2 / 2 and 4 / 4 through WNfQueueJNI (consumers in waitDequeue(-1))
 * against LinkedBlockingQueue and ArrayBlockingQueue (take); and the hand-off latency
 * p50/p99 from one producer to one blocked consumer, WNfQueueJNI against
 * LinkedBlockingQueue. Each measurement is repeated for some rounds and the best is kept.
 * usage: NfQueueBench [items per run] [hand-off samples] [rounds]
 */
public final class NfQueueBench {
    private static final byte[] STOP = new byte[0];

    private static double blocking(BlockingQueue<byte[]> q, int producers, int consumers, int items)
            throws InterruptedException {
        int per = items / producers;
        List<Thread> cs = new ArrayList<>();
        for (int i = 0; i < consumers; i++) {
            cs.add(new Thread(() -> {
                try {
                    while (q.take() != STOP) {
                        // consume
                    }
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }));
        }
        List<Thread> ps = new ArrayList<>();
        for (int i = 0; i < producers; i++) {
            ps.add(new Thread(() -> {
                try {
                    for (int k = 0; k < per; k++) {
                        q.put(new byte[16]);
                    }
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }));
        }
        long t0 = System.nanoTime();
        cs.forEach(Thread::start);
        ps.forEach(Thread::start);
        for (Thread t : ps) {
            t.join();
        }
        for (int i = 0; i < consumers; i++) {
            q.put(STOP);
        }
        for (Thread t : cs) {
            t.join();
        }
        return (double) per * producers * 1e9 / (System.nanoTime() - t0);
    }

    private static double nfqueue(int producers, int consumers, int items) throws InterruptedException {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        int per = items / producers;
        long total = (long) per * producers;
        AtomicLong received = new AtomicLong();
        List<Thread> cs = new ArrayList<>();
        for (int i = 0; i < consumers; i++) {
            cs.add(new Thread(() -> {
                while (received.get() < total) {
                    if (WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, -1) != null) {
                        received.incrementAndGet();
                    }
                }
            }));
        }
        List<Thread> ps = new ArrayList<>();
        for (int i = 0; i < producers; i++) {
            ps.add(new Thread(() -> {
                byte[] b = new byte[16];
                for (int k = 0; k < per; k++) {
                    b[0] = (byte) k;
                    WNfQueueJNI.WNfQueueGeneric_enqueue(q, b, 0, 16, false);
                }
            }));
        }
        long t0 = System.nanoTime();
        cs.forEach(Thread::start);
        ps.forEach(Thread::start);
        for (Thread t : ps) {
            t.join();
        }
        while (received.get() < total) {
            Thread.onSpinWait();
        }
        long t1 = System.nanoTime();
        while (cs.stream().anyMatch(Thread::isAlive)) {
            WNfQueueJNI.WNfQueueGeneric_wakeUpAll(q);
            Thread.sleep(1);
        }
        WNfQueueJNI.delete_WNfQueueGeneric(q);
        return (double) total * 1e9 / (t1 - t0);
    }

    private interface Sender {
        void send(long stamp) throws InterruptedException;
    }

    private interface Receiver {
        long receive() throws InterruptedException;
    }

    // p50 and p99 in microseconds: the producer pauses so that the consumer is blocked,
    // stamps, sends; the consumer takes arrival minus stamp.
    private static double[] handOff(int samples, Sender send, Receiver receive) throws InterruptedException {
        long[] lat = new long[samples];
        Thread c = new Thread(() -> {
            try {
                for (int i = 0; i < samples; i++) {
                    long stamp = receive.receive();
                    lat[i] = System.nanoTime() - stamp;
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        c.start();
        for (int i = 0; i < samples; i++) {
            LockSupport.parkNanos(200_000);
            send.send(System.nanoTime());
        }
        c.join();
        Arrays.sort(lat);
        return new double[] {lat[samples / 2] / 1e3, lat[samples * 99 / 100] / 1e3};
    }

    private static long stampOf(byte[] b) {
        long x = 0;
        for (int i = 0; i < 8; i++) {
            x |= (b[i] & 0xFFL) << (8 * i);
        }
        return x;
    }

    private static byte[] bytesOf(long x) {
        byte[] b = new byte[8];
        for (int i = 0; i < 8; i++) {
            b[i] = (byte) (x >>> (8 * i));
        }
        return b;
    }

    public static void main(String[] args) throws Exception {
        int items = args.length > 0 ? Integer.parseInt(args[0]) : 2_000_000;
        int samples = args.length > 1 ? Integer.parseInt(args[1]) : 2000;
        int rounds = args.length > 2 ? Integer.parseInt(args[2]) : 3;
        int[] threads = {1, 2, 4};
        double[][] best = new double[threads.length][3];  // LinkedBlockingQueue, ArrayBlockingQueue, WNfQueueJNI
        double[] lNf = {Double.MAX_VALUE, 0};
        double[] lLbq = {Double.MAX_VALUE, 0};
        for (int r = 0; r < rounds; r++) {
            for (int t = 0; t < threads.length; t++) {
                int n = threads[t];
                best[t][0] = Math.max(best[t][0], blocking(new LinkedBlockingQueue<>(), n, n, items));
                best[t][1] = Math.max(best[t][1], blocking(new ArrayBlockingQueue<>(1 << 16), n, n, items));
                best[t][2] = Math.max(best[t][2], nfqueue(n, n, items));
            }
            LinkedBlockingQueue<byte[]> lbq = new LinkedBlockingQueue<>();
            double[] a = handOff(samples, t -> lbq.put(bytesOf(t)), () -> stampOf(lbq.take()));
            long q = WNfQueueJNI.new_WNfQueueGeneric();
            double[] b = handOff(samples, t -> {
                byte[] x = bytesOf(t);
                WNfQueueJNI.WNfQueueGeneric_enqueue(q, x, 0, 8, false);
            }, () -> stampOf(WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, -1)));
            WNfQueueJNI.delete_WNfQueueGeneric(q);
            if (a[0] < lLbq[0]) {
                lLbq = a;
            }
            if (b[0] < lNf[0]) {
                lNf = b;
            }
        }
        for (int t = 0; t < threads.length; t++) {
            System.out.printf("RESULT java %dP%dC LinkedBlockingQueue %.2fM ArrayBlockingQueue %.2fM WNfQueueJNI %.2fM items/s"
                    + "  WNfQueueJNI/LBQ %.2fx  WNfQueueJNI vs its 1P1C %.2fx%n", threads[t], threads[t],
                    best[t][0] / 1e6, best[t][1] / 1e6, best[t][2] / 1e6, best[t][2] / best[t][0], best[t][2] / best[0][2]);
        }
        System.out.printf("RESULT java hand-off LinkedBlockingQueue p50 %.1f us p99 %.1f us"
                + "  WNfQueueJNI p50 %.1f us p99 %.1f us%n", lLbq[0], lLbq[1], lNf[0], lNf[1]);
    }
}
