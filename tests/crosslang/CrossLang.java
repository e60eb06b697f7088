import com.olm.toka.jni.moprax.MopraXJNI;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.HexFormat;

/**
 * The Java half of the MopraX <-> MopraXJNI check.
 *   java CrossLang make            prints "wma <token>", "noise64 <token>", "base64 <token>"
 *   java CrossLang decode W N B    decodes the three tokens, exits 1 on a mismatch
 * The shared constants are those of tests/crosslang/crosslang.php.
 */
public final class CrossLang {
    static final String[] PARTS = {"alpha", "beta gamma", "\u00e9t\u00e9"};
    static final String SECRET = "cross-secret";
    static final int FLAGS = 0x300;
    static final long VALUE = -1234567890123L;
    static final long KEY = 99;
    static final byte[] BYTES = {0x00, (byte) 0xff, 0x10, 0x41, (byte) 0x80};

    static long holder(String s) {
        long h = MopraXJNI.new_mopra__StrHolder();
        MopraXJNI.mopra__StrHolder_setVal(h, null, s);
        return h;
    }

    public static void main(String[] args) {
        long out = MopraXJNI.new_mopra__StrHolder();
        long secret = holder(SECRET);
        if (args[0].equals("make")) {
            long parts = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
            for (String p : PARTS) {
                MopraXJNI.std__vectorT_std__string_t_add(parts, null, p);
            }
            check(MopraXJNI.mopra__wma_encode(out, null, parts, null, secret, null, FLAGS, 0));
            System.out.println("wma " + MopraXJNI.mopra__StrHolder_getVal(out, null));
            check(MopraXJNI.mopra__noise64(out, null, VALUE, KEY));
            System.out.println("noise64 " + MopraXJNI.mopra__StrHolder_getVal(out, null));
            long in = MopraXJNI.new_mopra__StrHolder();
            MopraXJNI.mopra__StrHolder_setBinVal(in, null, BYTES, 0, BYTES.length);
            check(MopraXJNI.mopra__base64_encode(out, null, in, null, 0));
            System.out.println("base64 " + MopraXJNI.mopra__StrHolder_getVal(out, null));
            return;
        }
        boolean bad = false;
        long got = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        int rc = MopraXJNI.mopra__wma_decode(got, null, holder(args[1]), null, secret, null, FLAGS, 3600);
        String[] parts = new String[(int) MopraXJNI.std__vectorT_std__string_t_size(got, null)];
        for (int i = 0; i < parts.length; ++i) {
            parts[i] = MopraXJNI.std__vectorT_std__string_t_get(got, null, i);
        }
        System.out.println("java: wma_decode " + rc + " " + String.join("|", parts));
        bad |= rc != 0 || !Arrays.equals(PARTS, parts);
        long ih = MopraXJNI.new_mopra__IntegralHolder();
        rc = MopraXJNI.mopra__denoise64(ih, null, holder(args[2]), null, KEY);
        long v = MopraXJNI.mopra__IntegralHolder_getVal(ih, null);
        System.out.println("java: denoise64 " + rc + " " + v);
        bad |= rc != 0 || v != VALUE;
        rc = MopraXJNI.mopra__base64_decode(out, null, holder(args[3]), null, 0);
        byte[] b = new byte[MopraXJNI.mopra__StrHolder_getLength(out, null)];
        MopraXJNI.mopra__StrHolder_getBinVal(out, null, b, 0);
        System.out.println("java: base64_decode " + rc + " " + HexFormat.of().formatHex(b));
        bad |= rc != 0 || !Arrays.equals(BYTES, b);
        System.out.flush();
        System.exit(bad ? 1 : 0);
    }

    static void check(int rc) {
        if (rc != 0) {
            System.out.println("code " + rc);
            System.exit(2);
        }
    }
}
