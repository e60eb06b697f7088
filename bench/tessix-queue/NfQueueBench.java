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
 * 1 producer / 1 consumer and 4 / 4 through WNfQueueJNI (consumers in waitDequeue(-1))
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
        double[] best = new double[6];
        double[] lNf = {Double.MAX_VALUE, 0};
        double[] lLbq = {Double.MAX_VALUE, 0};
        for (int r = 0; r < rounds; r++) {
            best[0] = Math.max(best[0], blocking(new LinkedBlockingQueue<>(), 1, 1, items));
            best[1] = Math.max(best[1], blocking(new ArrayBlockingQueue<>(1 << 16), 1, 1, items));
            best[2] = Math.max(best[2], nfqueue(1, 1, items));
            best[3] = Math.max(best[3], blocking(new LinkedBlockingQueue<>(), 4, 4, items));
            best[4] = Math.max(best[4], blocking(new ArrayBlockingQueue<>(1 << 16), 4, 4, items));
            best[5] = Math.max(best[5], nfqueue(4, 4, items));
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
        System.out.printf("RESULT java 1P1C LinkedBlockingQueue %.2fM ArrayBlockingQueue %.2fM WNfQueueJNI %.2fM items/s"
                + "  WNfQueueJNI/LBQ %.2fx (target 0.5x)%n", best[0] / 1e6, best[1] / 1e6, best[2] / 1e6, best[2] / best[0]);
        System.out.printf("RESULT java 4P4C LinkedBlockingQueue %.2fM ArrayBlockingQueue %.2fM WNfQueueJNI %.2fM items/s"
                + "  WNfQueueJNI/LBQ %.2fx%n", best[3] / 1e6, best[4] / 1e6, best[5] / 1e6, best[5] / best[3]);
        System.out.printf("RESULT java hand-off LinkedBlockingQueue p50 %.1f us p99 %.1f us"
                + "  WNfQueueJNI p50 %.1f us p99 %.1f us%n", lLbq[0], lLbq[1], lNf[0], lNf[1]);
    }
}
