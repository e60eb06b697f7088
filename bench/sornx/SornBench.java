import com.olm.toka.jni.sorn.SornJNI;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

import org.iq80.leveldb.DB;
import org.iq80.leveldb.Options;
import org.iq80.leveldb.impl.Iq80DBFactory;

/**
 * The Java side of the SornX benchmark: N puts, then N gets of 16-character keys with
 * 100-byte values (for SornJNI then N gets over 1024 of the keys), through SornJNI ("sorn") or through the pure-Java LevelDB port
 * ("leveldb", org.iq80.leveldb from Debian's libleveldb-java).
 * usage: SornBench sorn|leveldb <home dir> [records] [distrib type]
 */
public final class SornBench {
    private static String[] keys(int n) {
        String[] keys = new String[n];
        for (int i = 0; i < n; i++) {
            keys[i] = String.format("k%015d", i);
        }
        return keys;
    }

    private static void report(String what, long t0, long t1, long t2, int n, long failures) {
        double put = (double) (t1 - t0) / n;
        double get = (double) (t2 - t1) / n;
        System.out.printf("RESULT %s put %.0f ns/op %.0f ops/s get %.0f ns/op %.0f ops/s failures %d%n",
                what, put, 1e9 / put, get, 1e9 / get, failures);
    }

    private static void sorn(String home, int n, String distrib, String[] keys, byte[] value) {
        long h = SornJNI.new_SornGeneric();
        if (!SornJNI.SornGeneric_open(h, "bench", home, "bench", null, false, distrib, 0, 0, 0L,
                null, null)) {
            throw new IllegalStateException("open failed");
        }
        long failures = 0;
        long sink = 0;
        long t0 = System.nanoTime();
        for (int i = 0; i < n; i++) {
            if (!SornJNI.SornGeneric_put(h, keys[i], value, 0, value.length, 3)) {
                failures++;
            }
        }
        long t1 = System.nanoTime();
        for (int i = 0; i < n; i++) {
            byte[] v = SornJNI.SornGeneric_get(h, keys[i]);
            if (v == null) {
                failures++;
            } else {
                sink += v[0];
            }
        }
        long t2 = System.nanoTime();
        report("sornjni " + distrib, t0, t1, t2, n, failures);
        // The same gets over 1024 keys only, as in the C++ benchmark: the store's lookups stay
        // in the caches, so the difference is the JNI layer's cost per call.
        long t5 = System.nanoTime();
        for (int i = 0; i < n; i++) {
            byte[] v = SornJNI.SornGeneric_get(h, keys[i & 1023]);
            if (v == null) {
                failures++;
            } else {
                sink += v[0];
            }
        }
        long t6 = System.nanoTime();
        System.out.printf("RESULT sornjnihot get %.0f ns/op%n", (double) (t6 - t5) / n);
        // The JNI layer alone: the whole put path (key string, value slice, handle, policy
        // check) without the store, which refuses policy 0 before it is called.
        long t3 = System.nanoTime();
        for (int i = 0; i < n; i++) {
            if (SornJNI.SornGeneric_put(h, keys[i], value, 0, value.length, 0)) {
                failures++;
            }
        }
        long t4 = System.nanoTime();
        System.out.printf("RESULT jnilayer put %.0f ns/op%n", (double) (t4 - t3) / n);
        if (sink == 42) {
            System.out.println();
        }
        SornJNI.delete_SornGeneric(h);
    }

    private static void leveldb(String home, int n, String[] keys, byte[] value) throws Exception {
        Options options = new Options();
        options.createIfMissing(true);
        long failures = 0;
        long sink = 0;
        try (DB db = Iq80DBFactory.factory.open(new File(home), options)) {
            long t0 = System.nanoTime();
            for (int i = 0; i < n; i++) {
                // The same work as through SornJNI: the key's bytes from its string every time.
                db.put(keys[i].getBytes(StandardCharsets.UTF_8), value);
            }
            long t1 = System.nanoTime();
            for (int i = 0; i < n; i++) {
                byte[] v = db.get(keys[i].getBytes(StandardCharsets.UTF_8));
                if (v == null) {
                    failures++;
                } else {
                    sink += v[0];
                }
            }
            long t2 = System.nanoTime();
            report("leveldb-java", t0, t1, t2, n, failures);
        }
        if (sink == 42) {
            System.out.println();
        }
    }

    public static void main(String[] args) throws Exception {
        String which = args[0];
        String home = args[1];
        int n = args.length > 2 ? Integer.parseInt(args[2]) : 1000000;
        String distrib = args.length > 3 ? args[3] : "uniform";
        Files.createDirectories(Path.of(home));
        String[] keys = keys(n);
        byte[] value = new byte[100];
        Arrays.fill(value, (byte) 'v');
        if (which.equals("sorn")) {
            sorn(home, n, distrib, keys, value);
        } else {
            leveldb(home, n, keys, value);
        }
    }
}
