import com.olm.toka.jni.moprax.MopraXJNI;

import java.nio.charset.StandardCharsets;
import java.util.Base64;
import java.util.HexFormat;
import java.util.Random;

/**
 * MopraXJNI against the JDK in the same JVM: hexing and Base64 (the codecs' alphabet
 * against java.util.Base64's, unpadded, same work: bytes in, a String out, and back) of
 * 16-byte, 100-byte, 1 KiB and 64 KiB values; String arguments (setVal of ASCII and
 * non-ASCII strings against String.getBytes(UTF_8) of the same string); setBinVal and
 * getBinVal from 16 B to 32 MiB against System.arraycopy of as many bytes; and the call cost
 * of a holder getter. Each figure is the best of several rounds; the ratio is the JDK's time
 * over MopraXJNI's (1.0 = as fast).
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

    static void versus(String what, String size, double nativeNs, String jdk, double jdkNs) {
        System.out.printf("RESULT %-14s %14s  MopraXJNI %10.1f ns/op  %s %10.1f ns/op  ratio %.2fx%n", what, size,
                nativeNs, jdk, jdkNs, jdkNs / nativeNs);
    }

    /** n characters from `first` on, cycling through `span` of them. */
    static String text(int n, char first, int span) {
        char[] c = new char[n];
        for (int i = 0; i < n; ++i) {
            c[i] = (char) (first + i % span);
        }
        return new String(c);
    }

    /** setVal of ASCII, Cyrillic (2 bytes a character) and CJK (3 bytes) strings. */
    static void stringArguments(int iters) {
        long h = MopraXJNI.new_mopra__StrHolder();
        Object[][] shapes = {{"ascii", 16, 'a', 26}, {"ascii", 40, 'a', 26}, {"ascii", 200, 'a', 26},
            {"ascii", 1366, 'a', 26}, {"cyrillic", 16, '\u0430', 32}, {"cyrillic", 40, '\u0430', 32},
            {"cyrillic", 200, '\u0430', 32}, {"cjk", 40, '\u4e00', 500}};
        for (int pass = 0; pass < 2; ++pass) {
            for (Object[] shape : shapes) {
                String s = text((Integer) shape[1], (Character) shape[2], (Integer) shape[3]);
                double ns = nsPerOp(iters, i -> {
                    MopraXJNI.mopra__StrHolder_setVal(h, null, s);
                    return 1;
                });
                double js = nsPerOp(iters, i -> s.getBytes(StandardCharsets.UTF_8).length);
                if (pass == 1) {
                    versus("setVal " + shape[0], shape[1] + " chars", ns, "getBytes ", js);
                }
            }
        }
        MopraXJNI.delete_mopra__StrHolder(h);
    }

    /** setBinVal and getBinVal of one array, from 16 B to 32 MiB. */
    static void byteArrays(int iters) {
        long h = MopraXJNI.new_mopra__StrHolder();
        for (int size : new int[] {16, 1024, 65536, 1 << 20, 32 << 20}) {
            int n = Math.max(20, (int) Math.min(iters, 16L * iters / size));
            byte[] a = new byte[size];
            byte[] b = new byte[size];
            new Random(7).nextBytes(a);
            for (int pass = 0; pass < 2; ++pass) {
                double ns = nsPerOp(n, i -> {
                    MopraXJNI.mopra__StrHolder_setBinVal(h, null, a, 0, size);
                    return 1;
                });
                double ng = nsPerOp(n, i -> MopraXJNI.mopra__StrHolder_getBinVal(h, null, b, 0));
                double jc = nsPerOp(n, i -> {
                    System.arraycopy(a, 0, b, 0, size);
                    return b[i & (size - 1)];
                });
                if (pass == 1) {
                    versus("setBinVal", size + " B", ns, "arraycopy", jc);
                    versus("getBinVal", size + " B", ng, "arraycopy", jc);
                }
            }
        }
        MopraXJNI.delete_mopra__StrHolder(h);
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
        stringArguments(iters);
        byteArrays(iters);
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
