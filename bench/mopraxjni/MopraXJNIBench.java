import com.olm.toka.jni.moprax.MopraXJNI;

import java.util.Base64;
import java.util.HexFormat;
import java.util.Random;

/**
 * MopraXJNI against the JDK in the same JVM: hexing and Base64 (the codecs' alphabet
 * against java.util.Base64's, unpadded, same work: bytes in, a String out, and back) of
 * 16-byte, 100-byte, 1 KiB and 64 KiB values, and the call cost of a holder getter. Each
 * figure is the best of several rounds; the ratio is the JDK's time over MopraXJNI's (1.0 =
 * as fast).
 * usage: java MopraXJNIBench [iterations per round]
 */
public final class MopraXJNIBench {
    interface Op {
        long run(int i);
    }

    static long sink;

    static double nsPerOp(int iters, Op op) {
        double best = Double.MAX_VALUE;
        for (int round = 0; round < 7; ++round) {
            long t0 = System.nanoTime();
            long acc = 0;
            for (int i = 0; i < iters; ++i) {
                acc += op.run(i);
            }
            long t1 = System.nanoTime();
            sink += acc;
            best = Math.min(best, (double) (t1 - t0) / iters);
        }
        return best;
    }

    static void line(String what, int size, double nativeNs, double jdkNs) {
        System.out.printf("RESULT %-14s %5d B  MopraXJNI %8.1f ns/op  JDK %8.1f ns/op  ratio %.2fx%n", what, size,
                nativeNs, jdkNs, jdkNs / nativeNs);
    }

    static long holderValue;

    static long javaGetter() {
        return holderValue;
    }

    public static void main(String[] args) {
        int iters = args.length > 0 ? Integer.parseInt(args[0]) : 200000;
        Random rnd = new Random(42);
        long in = MopraXJNI.new_mopra__StrHolder();
        long out = MopraXJNI.new_mopra__StrHolder();
        HexFormat hexf = HexFormat.of();
        Base64.Encoder enc = Base64.getEncoder().withoutPadding();
        Base64.Decoder dec = Base64.getDecoder();
        for (int size : new int[] {16, 100, 1024, 65536}) {
            // Fewer iterations above 1 KiB, for rounds of about the same length.
            int n = size > 1024 ? Math.max(1, iters / (size / 1024)) : iters;
            byte[] value = new byte[size];
            rnd.nextBytes(value);
            byte[] outBuf = new byte[size];
            // Warm-up for both sides (JIT), then measure.
            for (int pass = 0; pass < 2; ++pass) {
                double nh = nsPerOp(n, i -> {
                    MopraXJNI.mopra__StrHolder_setBinVal(in, null, value, 0, value.length);
                    MopraXJNI.mopra__hexing(out, null, in, null, 0);
                    return MopraXJNI.mopra__StrHolder_getVal(out, null).length();
                });
                double jh = nsPerOp(n, i -> hexf.formatHex(value).length());
                String hexText = hexf.formatHex(value);
                double nu = nsPerOp(n, i -> {
                    MopraXJNI.mopra__StrHolder_setVal(in, null, hexText);
                    MopraXJNI.mopra__unhexing(out, null, in, null, 0);
                    return MopraXJNI.mopra__StrHolder_getBinVal(out, null, outBuf, 0);
                });
                double ju = nsPerOp(n, i -> hexf.parseHex(hexText).length);
                double nb = nsPerOp(n, i -> {
                    MopraXJNI.mopra__StrHolder_setBinVal(in, null, value, 0, value.length);
                    MopraXJNI.mopra__base64_encode(out, null, in, null, 0);
                    return MopraXJNI.mopra__StrHolder_getVal(out, null).length();
                });
                double jb = nsPerOp(n, i -> enc.encodeToString(value).length());
                MopraXJNI.mopra__StrHolder_setBinVal(in, null, value, 0, value.length);
                MopraXJNI.mopra__base64_encode(out, null, in, null, 0);
                String ours = MopraXJNI.mopra__StrHolder_getVal(out, null);
                String jdks = enc.encodeToString(value);
                double nd = nsPerOp(n, i -> {
                    MopraXJNI.mopra__StrHolder_setVal(in, null, ours);
                    MopraXJNI.mopra__base64_decode(out, null, in, null, 0);
                    return MopraXJNI.mopra__StrHolder_getBinVal(out, null, outBuf, 0);
                });
                double jd = nsPerOp(n, i -> dec.decode(jdks).length);
                // The layer's share: the bytes in (setBinVal) and the text out (getVal).
                double ns = nsPerOp(n, i -> {
                    MopraXJNI.mopra__StrHolder_setBinVal(in, null, value, 0, value.length);
                    return 1;
                });
                MopraXJNI.mopra__StrHolder_setVal(out, null, ours);
                double ng = nsPerOp(n, i -> MopraXJNI.mopra__StrHolder_getVal(out, null).length());
                if (pass == 1) {
                    System.out.printf("RESULT layer          %5d B  setBinVal %.1f ns/op, getVal of the %d-character"
                            + " Base64 text %.1f ns/op%n", size, ns, ours.length(), ng);
                    line("hexing", size, nh, jh);
                    line("unhexing", size, nu, ju);
                    line("base64_encode", size, nb, jb);
                    line("base64_decode", size, nd, jd);
                }
            }
        }
        long ih = MopraXJNI.new_mopra__IntegralHolder();
        MopraXJNI.mopra__IntegralHolder_setVal(ih, null, 7);
        holderValue = 7;
        double ng = 0;
        double jg = 0;
        for (int pass = 0; pass < 2; ++pass) {
            ng = nsPerOp(iters * 10, i -> MopraXJNI.mopra__IntegralHolder_getVal(ih, null));
            jg = nsPerOp(iters * 10, i -> javaGetter());
        }
        System.out.printf("RESULT getter  IntegralHolder_getVal %.1f ns/call, a Java static getter %.1f ns/call%n",
                ng, jg);
        MopraXJNI.delete_mopra__IntegralHolder(ih);
        MopraXJNI.delete_mopra__StrHolder(in);
        MopraXJNI.delete_mopra__StrHolder(out);
        System.out.println("(sink " + (sink & 1) + ")");
    }
}
