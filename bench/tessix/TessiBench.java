import com.github.benmanes.caffeine.cache.Cache;
import com.github.benmanes.caffeine.cache.Caffeine;
import com.olm.toka.jni.tessi.TessiJNI;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicLong;

/**
 * The Java side of the TessiX benchmark: gets and puts of 100-byte values through TessiJNI
 * against Caffeine (bounded maximumSize), ConcurrentHashMap and a synchronized LinkedHashMap
 * LRU in the same JVM, at 1, 2, 4 and 8 threads; keys are drawn so that 90% of the gets hit. Then
 * TessiJNI gets of 4 KiB and 64 KiB values stored with method 0 (as they are) and method 1
 * (snappy). Each figure is the best of a few rounds.
 * usage: TessiBench [items] [ops per thread] [rounds]
 */
public final class TessiBench {
    interface Store {
        byte[] get(String key);

        void put(String key, byte[] value);
    }

    static final class Tessi implements Store {
        final long h;

        Tessi(int items) {
            h = TessiJNI.new_TessiGeneric(items * 2L, items);
        }

        public byte[] get(String key) {
            return TessiJNI.TessiGeneric_get(h, key);
        }

        public void put(String key, byte[] value) {
            TessiJNI.TessiGeneric_put(h, key, value, 0, value.length, true, 0, 3);
        }
    }

    static final class CaffeineStore implements Store {
        final Cache<String, byte[]> c;

        CaffeineStore(int items) {
            c = Caffeine.newBuilder().maximumSize(items).build();
        }

        public byte[] get(String key) {
            return c.getIfPresent(key);
        }

        public void put(String key, byte[] value) {
            c.put(key, value);
        }
    }

    static final class Chm implements Store {
        final ConcurrentHashMap<String, byte[]> m = new ConcurrentHashMap<>();

        public byte[] get(String key) {
            return m.get(key);
        }

        public void put(String key, byte[] value) {
            m.put(key, value);
        }
    }

    static final class SyncLru implements Store {
        final Map<String, byte[]> m;

        SyncLru(final int items) {
            m = Collections.synchronizedMap(new LinkedHashMap<String, byte[]>(items * 2, 0.75f, true) {
                private static final long serialVersionUID = 1L;

                @Override
                protected boolean removeEldestEntry(Map.Entry<String, byte[]> e) {
                    return size() > items;
                }
            });
        }

        public byte[] get(String key) {
            return m.get(key);
        }

        public void put(String key, byte[] value) {
            m.put(key, value);
        }
    }

    static String[] keys;
    static int[][] draws;  // per thread: key indexes, 90% below items
    static long sink;

    /** Aggregate operations per second of `threads` threads doing `ops` gets (or puts) each. */
    static double run(Store s, int threads, int ops, boolean puts, byte[] value) throws Exception {
        CountDownLatch ready = new CountDownLatch(threads);
        CountDownLatch go = new CountDownLatch(1);
        AtomicLong total = new AtomicLong();
        Thread[] ts = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            final int[] d = draws[t];
            ts[t] = new Thread(() -> {
                ready.countDown();
                try {
                    go.await();
                } catch (InterruptedException e) {
                    return;
                }
                long local = 0;
                if (puts) {
                    for (int i = 0; i < ops; i++) {
                        s.put(keys[d[i % d.length]], value);
                    }
                } else {
                    for (int i = 0; i < ops; i++) {
                        byte[] v = s.get(keys[d[i % d.length]]);
                        if (v != null) {
                            local += v[0];
                        }
                    }
                }
                total.addAndGet(local);
            });
            ts[t].start();
        }
        ready.await();
        long t0 = System.nanoTime();
        go.countDown();
        for (Thread t : ts) {
            t.join();
        }
        long t1 = System.nanoTime();
        sink += total.get();
        return (double) threads * ops * 1e9 / (t1 - t0);
    }

    static void fill(Store s, int items, byte[] value) {
        for (int i = 0; i < items; i++) {
            s.put(keys[i], value);
        }
    }

    static double best(Store s, int threads, int ops, boolean puts, byte[] value, int rounds) throws Exception {
        double b = 0;
        for (int r = 0; r < rounds; r++) {
            b = Math.max(b, run(s, threads, ops, puts, value));
        }
        return b;
    }

    public static void main(String[] args) throws Exception {
        int items = args.length > 0 ? Integer.parseInt(args[0]) : 100000;
        int ops = args.length > 1 ? Integer.parseInt(args[1]) : 2000000;
        int rounds = args.length > 2 ? Integer.parseInt(args[2]) : 3;
        int space = (int) (items / 0.9);  // 90% of the draws name a stored key
        keys = new String[space];
        for (int i = 0; i < space; i++) {
            keys[i] = String.format("key-%012d", i);
        }
        draws = new int[8][];
        for (int t = 0; t < 8; t++) {
            Random r = new Random(t);
            draws[t] = new int[1 << 20];
            for (int i = 0; i < draws[t].length; i++) {
                draws[t][i] = r.nextInt(space);
            }
        }
        byte[] value = new byte[100];
        for (int i = 0; i < value.length; i++) {
            value[i] = (byte) ('a' + i % 26);
        }
        String[] names = {"tessijni", "caffeine", "chm", "synclru"};
        for (int threads : new int[] {1, 2, 4, 8}) {
            for (String name : names) {
                Store s = name.equals("tessijni") ? new Tessi(items)
                        : name.equals("caffeine") ? new CaffeineStore(items)
                        : name.equals("chm") ? new Chm() : new SyncLru(items);
                fill(s, items, value);
                run(s, threads, ops / 4, false, value);  // warm-up
                double get = best(s, threads, ops, false, value, rounds);
                double put = best(s, threads, ops / 2, true, value, rounds);
                System.out.printf("RESULT %s threads %d get %.0f ops/s %.1f ns/op put %.0f ops/s %.1f ns/op%n",
                        name, threads, get, 1e9 * threads / get, put, 1e9 * threads / put);
                if (s instanceof Tessi) {
                    TessiJNI.delete_TessiGeneric(((Tessi) s).h);
                }
            }
        }
        // Large values, method 0 against method 1 (compressible text).
        for (int size : new int[] {4096, 65536}) {
            byte[] big = new byte[size];
            Random r = new Random(size);
            for (int i = 0; i < size; i++) {
                big[i] = (byte) ("abcdefgh ".charAt(r.nextInt(9)));
            }
            int n = size == 4096 ? 10000 : 1000;
            int bigOps = size == 4096 ? ops / 8 : ops / 64;
            for (int method : new int[] {0, 1}) {
                Tessi s = new Tessi(n);
                TessiJNI.TessiGeneric_setCompressMed(s.h, method);
                String[] saved = keys;
                fill(s, n, big);
                int[][] savedDraws = draws;
                draws = new int[1][1 << 16];
                Random d = new Random(1);
                for (int i = 0; i < draws[0].length; i++) {
                    draws[0][i] = d.nextInt(n);
                }
                double get = best(s, 1, bigOps, false, big, rounds);
                double put = best(s, 1, bigOps / 2, true, big, rounds);
                System.out.printf("RESULT tessijni-%d method %d get %.0f ops/s %.1f ns/op put %.0f ops/s %.1f ns/op%n",
                        size, method, get, 1e9 / get, put, 1e9 / put);
                draws = savedDraws;
                keys = saved;
                TessiJNI.delete_TessiGeneric(s.h);
            }
        }
        System.out.println("sink " + (sink & 1));
    }
}
