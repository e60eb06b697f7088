import com.olm.toka.jni.moprax.MopraXJNI;

import java.nio.charset.StandardCharsets;

/**
 * MopraXJNI from Java: a holder's bytes through hexing and the codecs' Base64 and back,
 * a vector of strings and a map.
 */
public final class MopraXJNIDemo {
    private static String text(long holder) {
        return MopraXJNI.mopra__StrHolder_getVal(holder, null);
    }

    private static byte[] bytes(long holder) {
        byte[] b = new byte[MopraXJNI.mopra__StrHolder_getLength(holder, null)];
        MopraXJNI.mopra__StrHolder_getBinVal(holder, null, b, 0);
        return b;
    }

    public static void main(String[] args) {
        System.out.print(MopraXJNI.mopra__info());

        System.out.println("--- holder round trip");
        byte[] value = "hello, mopra \u00e9\u0000\u00ff".getBytes(StandardCharsets.ISO_8859_1);
        long in = MopraXJNI.new_mopra__StrHolder();
        long hex = MopraXJNI.new_mopra__StrHolder();
        long b64 = MopraXJNI.new_mopra__StrHolder();
        long back = MopraXJNI.new_mopra__StrHolder();
        MopraXJNI.mopra__StrHolder_setBinVal(in, null, value, 0, value.length);
        System.out.println("value: " + value.length + " bytes");
        System.out.println("hexing: " + MopraXJNI.mopra__hexing(hex, null, in, null, 0) + " -> " + text(hex));
        System.out.println("unhexing: " + MopraXJNI.mopra__unhexing(back, null, hex, null, 0) + ", same bytes: "
                + java.util.Arrays.equals(value, bytes(back)));
        System.out.println("base64_encode: " + MopraXJNI.mopra__base64_encode(b64, null, in, null, 0) + " -> "
                + text(b64));
        System.out.println("base64_decode: " + MopraXJNI.mopra__base64_decode(back, null, b64, null, 0)
                + ", same bytes: " + java.util.Arrays.equals(value, bytes(back)));

        System.out.println("--- vector of strings");
        long v = MopraXJNI.new_std__vectorT_std__string_t__SWIG_0();
        for (String s : new String[] {"alpha", "beta", "gamma"}) {
            MopraXJNI.std__vectorT_std__string_t_add(v, null, s);
        }
        MopraXJNI.std__vectorT_std__string_t_set(v, null, 1, "BETA");
        StringBuilder items = new StringBuilder();
        for (int i = 0; i < MopraXJNI.std__vectorT_std__string_t_size(v, null); ++i) {
            items.append(i == 0 ? "" : ", ").append(MopraXJNI.std__vectorT_std__string_t_get(v, null, i));
        }
        System.out.println("size " + MopraXJNI.std__vectorT_std__string_t_size(v, null) + ": " + items);
        System.out.println("serialize: " + MopraXJNI.mopra__serialize(hex, null, v, null, 0) + ", "
                + MopraXJNI.mopra__StrHolder_getLength(hex, null) + " bytes");
        try {
            MopraXJNI.std__vectorT_std__string_t_get(v, null, 3);
        } catch (IndexOutOfBoundsException e) {
            System.out.println("get(3): " + e.getClass().getName() + ": " + e.getMessage());
        }

        System.out.println("--- map of strings to ints");
        long m = MopraXJNI.new_std__mapT_std__string_int_t__SWIG_0();
        MopraXJNI.std__mapT_std__string_int_t_set(m, null, "one", 1);
        MopraXJNI.std__mapT_std__string_int_t_set(m, null, "two", 2);
        MopraXJNI.std__mapT_std__string_int_t_set(m, null, "two", 22);
        System.out.println("size " + MopraXJNI.std__mapT_std__string_int_t_size(m, null) + ", two = "
                + MopraXJNI.std__mapT_std__string_int_t_get(m, null, "two") + ", has three: "
                + MopraXJNI.std__mapT_std__string_int_t_has_key(m, null, "three"));
        MopraXJNI.std__mapT_std__string_int_t_del(m, null, "one");
        System.out.println("after del one: size " + MopraXJNI.std__mapT_std__string_int_t_size(m, null));

        MopraXJNI.delete_std__mapT_std__string_int_t(m);
        MopraXJNI.delete_std__vectorT_std__string_t(v);
        for (long h : new long[] {in, hex, b64, back}) {
            MopraXJNI.delete_mopra__StrHolder(h);
        }
    }
}
