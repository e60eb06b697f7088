import com.olm.toka.jni.sorn.SornJNI;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.stream.Stream;

/**
 * SornX from Java: opens a uniform and a contiguous store in a temporary directory, puts,
 * gets, pops, tests and removes records, prints what happened, and closes both.
 */
public final class SornDemo {
    private static final int ADD = 1;
    private static final int ADD_OR_UPDATE = 3;

    private static String show(byte[] value) {
        return value == null ? "null" : "\"" + new String(value, StandardCharsets.UTF_8) + "\"";
    }

    private static void run(String kind, Path home) {
        System.out.println("--- " + kind + " store in " + home);
        long h = SornJNI.new_SornGeneric();
        boolean opened = SornJNI.SornGeneric_open(h, "demo", home.toString(), "demo", "kch", false,
                kind, 4, 0, 0L, "#bnum=4096", null);
        System.out.println("open: " + opened + ", contiguous: " + SornJNI.SornGeneric_isContiguous(h));
        byte[] value = "hello, sorn".getBytes(StandardCharsets.UTF_8);
        System.out.println("put key-1 (add): " + SornJNI.SornGeneric_put(h, "key-1", value, 0, value.length, ADD));
        System.out.println("put key-1 (add again): " + SornJNI.SornGeneric_put(h, "key-1", value, 0, value.length, ADD));
        System.out.println("put key-2 bytes 7..10: " + SornJNI.SornGeneric_put(h, "key-2", value, 7, 4, ADD_OR_UPDATE));
        System.out.println("putString key-3: " + SornJNI.SornGeneric_putString(h, "key-3", "a text value", ADD_OR_UPDATE));
        System.out.println("get key-1: " + show(SornJNI.SornGeneric_get(h, "key-1")));
        System.out.println("getAsString key-2: \"" + SornJNI.SornGeneric_getAsString(h, "key-2") + "\"");
        System.out.println("exist key-3: " + SornJNI.SornGeneric_exist(h, "key-3"));
        System.out.println("pop key-3: \"" + SornJNI.SornGeneric_popAsString(h, "key-3") + "\"");
        System.out.println("exist key-3 after pop: " + SornJNI.SornGeneric_exist(h, "key-3"));
        System.out.println("remove key-2: " + SornJNI.SornGeneric_remove(h, "key-2"));
        System.out.println("get key-2 after remove: " + show(SornJNI.SornGeneric_get(h, "key-2")));
        SornJNI.SornGeneric_close(h);
        System.out.println("closed, isOpen: " + SornJNI.SornGeneric_isOpen(h));
        SornJNI.delete_SornGeneric(h);
    }

    public static void main(String[] args) throws IOException {
        Path root = Files.createTempDirectory("sorn-demo");
        try {
            System.out.println(SornJNI.sornx__info());
            run("uniform", Files.createDirectory(root.resolve("uniform")));
            run("contiguous", Files.createDirectory(root.resolve("contiguous")));
        } finally {
            try (Stream<Path> s = Files.walk(root)) {
                s.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
            }
        }
    }
}
