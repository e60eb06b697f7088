import com.olm.toka.jni.tessi.TessiJNI;

import java.nio.charset.StandardCharsets;

/**
 * TessiX from Java: creates a small cache, puts items with flags and an expiry, reads,
 * pops, shows an eviction from the LRU tail and prints the normal allocator's statistics.
 */
public final class TessiDemo {
    private static final int ADD = 1;
    private static final int ADD_OR_UPDATE = 3;
    private static final int C_AND = 2;

    private static String show(byte[] value) {
        return value == null ? "null" : "\"" + new String(value, StandardCharsets.UTF_8) + "\"";
    }

    public static void main(String[] args) {
        System.out.println(TessiJNI.tessix__info());
        long h = TessiJNI.new_TessiGeneric(1024, 3);  // an LRU of 3 items
        System.out.println("--- cache: table size " + TessiJNI.TessiGeneric_getTblSize(h)
                + ", LRU size " + TessiJNI.TessiGeneric_getLruSize(h));
        byte[] value = "hello, tessi".getBytes(StandardCharsets.UTF_8);
        System.out.println("put key-1 (add, expires in 60 s): "
                + TessiJNI.TessiGeneric_put(h, "key-1", value, 0, value.length, true, 60, ADD));
        System.out.println("put key-1 (add again): "
                + TessiJNI.TessiGeneric_put(h, "key-1", value, 0, value.length, true, 60, ADD));
        System.out.println("seconds left on key-1: " + TessiJNI.TessiGeneric_getItemTimeExp(h, "key-1"));
        System.out.println("get key-1: " + show(TessiJNI.TessiGeneric_get(h, "key-1")));
        System.out.println("putString key-2 (flag false: unreadable): "
                + TessiJNI.TessiGeneric_putString(h, "key-2", "hidden", false, 0, ADD_OR_UPDATE));
        System.out.println("getAsString key-2: " + TessiJNI.TessiGeneric_getAsString(h, "key-2")
                + ", flags " + TessiJNI.TessiGeneric_getItemFlag(h, "key-2"));
        TessiJNI.TessiGeneric_setItemFlag(h, "key-2", 0xFFFC, C_AND);
        System.out.println("after clearing the flag: \"" + TessiJNI.TessiGeneric_getAsString(h, "key-2") + "\"");
        System.out.println("putString key-3 (expired already): "
                + TessiJNI.TessiGeneric_putString(h, "key-3", "gone", true, -1, ADD_OR_UPDATE));
        System.out.println("getAsString key-3: " + TessiJNI.TessiGeneric_getAsString(h, "key-3"));
        System.out.println("putString key-3 again: "
                + TessiJNI.TessiGeneric_putString(h, "key-3", "third", true, 0, ADD_OR_UPDATE));
        System.out.println("pop key-3: \"" + TessiJNI.TessiGeneric_popAsString(h, "key-3") + "\", size now "
                + TessiJNI.TessiGeneric_size(h));
        // key-1 was read last, key-2 before it: filling the LRU evicts key-2 first.
        TessiJNI.TessiGeneric_getAsString(h, "key-1");
        TessiJNI.TessiGeneric_putString(h, "key-4", "four", true, 0, ADD_OR_UPDATE);
        TessiJNI.TessiGeneric_putString(h, "key-5", "five", true, 0, ADD_OR_UPDATE);
        System.out.println("after key-4 and key-5: size " + TessiJNI.TessiGeneric_size(h)
                + ", key-2 present: " + TessiJNI.TessiGeneric_exist(h, "key-2", false)
                + ", key-1 present: " + TessiJNI.TessiGeneric_exist(h, "key-1", false));
        System.out.println("--- normal allocator");
        System.out.print(TessiJNI.tessix__memstat(1));
        TessiJNI.delete_TessiGeneric(h);
    }
}
