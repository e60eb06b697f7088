import com.olm.toka.jni.moprax.MopraXJNI;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;

import jsupport.JniAssert;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * MopraXJNI's string conversions against the VM's own, exact, over hostile and random
 * inputs: Java string arguments (the binding's bytes against GetStringUTFChars' and
 * DataOutputStream.writeUTF's modified UTF-8) and native string results (the binding's
 * string against NewStringUTF's of the same text), then a sample through the holders.
 * The conv_probe library's path is the system property mopraxjni.probe.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class MopraXConvDiffTest {
    @BeforeAll
    static void loadProbe() {
        System.load(System.getProperty("mopraxjni.probe"));
    }

    /** The mismatches of one test, reported together (the first 20) when it ends. */
    static final class Mismatches {
        private final List<String> found = new ArrayList<>();
        private int checks = 0;

        void check(boolean same, java.util.function.Supplier<String> what) {
            ++checks;
            if (!same) {
                found.add(what.get());
            }
        }

        void assertNone() {
            assertTrue(found.isEmpty(), () -> found.size() + " of " + checks + " checks failed:\n"
                    + String.join("\n", found.subList(0, Math.min(found.size(), 20))));
        }
    }

    static String show(String s) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < s.length() && i < 40; ++i) {
            char c = s.charAt(i);
            b.append(c >= 0x20 && c < 0x7f ? String.valueOf(c) : String.format("\\u%04x", (int) c));
        }
        return b.append(s.length() > 40 ? "... (" + s.length() + " chars)" : "").toString();
    }

    static byte[] writeUtf(String s) {
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            new DataOutputStream(bytes).writeUTF(s);
            byte[] b = bytes.toByteArray();
            return Arrays.copyOfRange(b, 2, b.length);  // without the length prefix
        } catch (IOException e) {
            return null;  // longer than 65535 bytes
        }
    }

    static void checkArgument(Mismatches m, String s) {
        byte[] ours = MopraXConvProbe.str(s);
        byte[] vm = MopraXConvProbe.strUtf(s);
        m.check(Arrays.equals(ours, vm),
                () -> "argument <" + show(s) + ">: " + Arrays.toString(ours) + " against the VM's " + Arrays.toString(vm));
        byte[] reference = writeUtf(s);
        m.check(reference == null || Arrays.equals(reference, vm),
                () -> "argument <" + show(s) + ">: the VM's bytes differ from writeUTF's");
    }

    static void checkResult(Mismatches m, byte[] b) {
        String ours = MopraXConvProbe.jstr(b);
        String vm = MopraXConvProbe.jstrUtf(b);
        m.check(ours.equals(vm), () -> "result of " + Arrays.toString(Arrays.copyOf(b, Math.min(b.length, 24))) + " ("
                + b.length + " bytes): <" + show(ours) + "> against <" + show(vm) + ">");
    }

    static String ascii(int n, Random rnd) {
        char[] c = new char[n];
        for (int i = 0; i < n; ++i) {
            c[i] = (char) (0x20 + rnd.nextInt(0x5f));
        }
        return new String(c);
    }

    // Lengths around the conversions' block (16), result threshold (256) and stack buffer
    // (2048) sizes.
    static final int[] LENGTHS = {0, 1, 2, 7, 8, 15, 16, 17, 31, 32, 33, 255, 256, 257, 1366, 2047, 2048, 2049, 70000};

    static java.util.stream.IntStream lengths() {
        return java.util.stream.IntStream.of(LENGTHS);
    }

    /** Long ASCII results from 8 threads at once, the first such results of the process. */
    @Test
    @Order(1)
    void firstUseFromThreads() throws InterruptedException {
        byte[] text = new byte[1366];
        Arrays.fill(text, (byte) 'Q');
        String expected = new String(text, java.nio.charset.StandardCharsets.US_ASCII);
        Thread[] threads = new Thread[8];
        int[] bad = new int[threads.length];
        java.util.concurrent.CountDownLatch start = new java.util.concurrent.CountDownLatch(1);
        for (int t = 0; t < threads.length; ++t) {
            final int me = t;
            threads[t] = new Thread(() -> {
                long h = MopraXJNI.new_mopra__StrHolder();
                MopraXJNI.mopra__StrHolder_setBinVal(h, null, text, 0, text.length);
                try {
                    start.await();
                } catch (InterruptedException e) {
                    bad[me] = -1;
                }
                for (int i = 0; i < 200; ++i) {
                    if (!expected.equals(MopraXJNI.mopra__StrHolder_getVal(h, null))
                            || !expected.equals(MopraXConvProbe.jstr(text))) {
                        ++bad[me];
                    }
                }
                MopraXJNI.delete_mopra__StrHolder(h);
            });
            threads[t].start();
        }
        start.countDown();
        for (int t = 0; t < threads.length; ++t) {
            threads[t].join();
        }
        for (int t = 0; t < threads.length; ++t) {
            assertEquals(0, bad[t], "thread " + t + ": wrong results");
        }
    }

    static final String[] HOSTILE = {"\u0000", "\u0001", "\u007f", "\u0080", "\u00e9", "\u00ff", "\u0100", "\u07ff",
        "\u0800", "\u7fff", "\u8000", "\ud7ff", "\ud800", "\udbff", "\udc00", "\udfff", "\ud83d\ude00",
        "\ude00\ud83d", "\ud800\ud800", "\ue000", "\ufffd", "\ufffe", "\uffff"};

    @ParameterizedTest(name = "arguments: hostile units in {0} ASCII chars")
    @MethodSource("lengths")
    void hostileArguments(int n) {
        Mismatches m = new Mismatches();
        String base = ascii(n, new Random(20261211L + n));
        checkArgument(m, base);
        for (String h : HOSTILE) {
            for (int at : new int[] {0, 1, 7, 8, 15, 16, 17, n / 2, n - 1, n}) {
                if (at >= 0 && at <= n) {
                    checkArgument(m, base.substring(0, at) + h + base.substring(at));
                }
            }
        }
        m.assertNone();
    }

    @Test
    void randomArguments() {
        Random rnd = new Random(20261211);
        Mismatches m = new Mismatches();
        for (int i = 0; i < 3000; ++i) {
            int n = rnd.nextInt(i % 10 == 0 ? 5000 : 300);
            char[] c = new char[n];
            for (int j = 0; j < n; ++j) {
                switch (i % 3) {
                    case 0: c[j] = (char) rnd.nextInt(0x10000); break;  // any unit, lone surrogates included
                    case 1: c[j] = (char) (rnd.nextInt(100) == 0 ? rnd.nextInt(0x10000) : rnd.nextInt(0x80)); break;
                    default: c[j] = (char) rnd.nextInt(0x100); break;  // Latin-1, NUL included
                }
            }
            checkArgument(m, new String(c));
        }
        // A string from a supplementary code point.
        checkArgument(m, new String(Character.toChars(0x10ffff)) + new String(Character.toChars(0x10000)));
        m.assertNone();
    }

    @Test
    void nullArgument() {
        JniAssert.assertRaises("null argument (binding)", NullPointerException.class, "null string",
                () -> MopraXConvProbe.str(null));
        JniAssert.assertRaises("null argument (VM)", NullPointerException.class, "null string",
                () -> MopraXConvProbe.strUtf(null));
    }

    static byte[] withAt(byte[] base, int at, byte[] insert) {
        byte[] b = new byte[base.length + insert.length];
        System.arraycopy(base, 0, b, 0, at);
        System.arraycopy(insert, 0, b, at, insert.length);
        System.arraycopy(base, at, b, at + insert.length, base.length - at);
        return b;
    }

    static List<byte[]> resultInputs(Random rnd) {
        List<byte[]> inputs = new ArrayList<>();
        byte[][] hostile = {{0}, {(byte) 0x80}, {(byte) 0xff}, {(byte) 0xc3, (byte) 0xa9}, {(byte) 0xc3},
            {(byte) 0xc0, (byte) 0x80}, {(byte) 0xc1, (byte) 0xbf}, {(byte) 0xe4, (byte) 0xb8, (byte) 0x96},
            {(byte) 0xe4, (byte) 0xb8}, {(byte) 0xe0, (byte) 0x80, (byte) 0x80},
            {(byte) 0xed, (byte) 0xa0, (byte) 0xbd, (byte) 0xed, (byte) 0xb8, (byte) 0x80},
            {(byte) 0xf0, (byte) 0x9f, (byte) 0x98, (byte) 0x80}, {(byte) 0xf0, (byte) 0x9f, (byte) 0x98},
            {(byte) 0xf4, (byte) 0x90, (byte) 0x80, (byte) 0x80}, {(byte) 0xf8, (byte) 0x88, (byte) 0x80, (byte) 0x80}};
        for (int n : LENGTHS) {
            byte[] base = ascii(n, rnd).getBytes(java.nio.charset.StandardCharsets.US_ASCII);
            inputs.add(base);
            for (byte[] h : hostile) {
                for (int at : new int[] {0, 1, 15, 16, 17, 255, 256, 257, n / 2, n - 1, n}) {
                    if (at >= 0 && at <= n) {
                        inputs.add(withAt(base, at, h));
                    }
                }
            }
        }
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                inputs.add(new byte[] {(byte) a, (byte) b});
            }
        }
        for (int i = 0; i < 3000; ++i) {
            byte[] b = new byte[rnd.nextInt(i % 10 == 0 ? 5000 : 600)];
            if (i % 2 == 0) {
                rnd.nextBytes(b);
            } else {
                for (int j = 0; j < b.length; ++j) {
                    b[j] = (byte) (rnd.nextInt(200) == 0 ? rnd.nextInt(256) : 1 + rnd.nextInt(0x7f));
                }
            }
            inputs.add(b);
        }
        return inputs;
    }

    @Test
    void results() {
        Mismatches m = new Mismatches();
        for (byte[] b : resultInputs(new Random(20261211))) {
            checkResult(m, b);
        }
        m.assertNone();
    }

    /** The same conversions through the holder natives. */
    @Test
    void throughHolders() {
        Random rnd = new Random(20261211);
        List<byte[]> results = resultInputs(rnd);
        Mismatches m = new Mismatches();
        long h = MopraXJNI.new_mopra__StrHolder();
        for (int i = 0; i < results.size(); i += 7) {
            byte[] b = results.get(i);
            MopraXJNI.mopra__StrHolder_setBinVal(h, null, b, 0, b.length);
            String got = MopraXJNI.mopra__StrHolder_getVal(h, null);
            m.check(got.equals(MopraXConvProbe.jstrUtf(b)), () -> "getVal of " + b.length + " bytes: <" + show(got) + ">");
        }
        for (int i = 0; i < 500; ++i) {
            char[] c = new char[rnd.nextInt(i % 10 == 0 ? 5000 : 300)];
            for (int j = 0; j < c.length; ++j) {
                c[j] = (char) (i % 2 == 0 ? rnd.nextInt(0x10000) : 0x20 + rnd.nextInt(0x5f));
            }
            String s = new String(c);
            MopraXJNI.mopra__StrHolder_setVal(h, null, s);
            byte[] b = new byte[MopraXJNI.mopra__StrHolder_getLength(h, null)];
            MopraXJNI.mopra__StrHolder_getBinVal(h, null, b, 0);
            m.check(Arrays.equals(b, MopraXConvProbe.strUtf(s)), () -> "setVal of <" + show(s) + ">");
        }
        MopraXJNI.delete_mopra__StrHolder(h);
        m.assertNone();
    }
}
