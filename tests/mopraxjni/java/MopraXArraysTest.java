import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.List;

import jsupport.ChildJvm;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Large setBinVal/getBinVal copies must not make other Java threads fail: in a child JVM
 * with a 512 MiB heap, 5 threads copy 40 MiB arrays through holders for 4 seconds while 4
 * threads allocate with 220 MiB of the heap live beside the copy arrays; no thread may see
 * an OutOfMemoryError (a copy that held the GC lock made allocating threads give up
 * waiting for a collection).
 */
class MopraXArraysTest {
    @TempDir
    Path dir;

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"-XX:+UseG1GC", "-XX:+UseParallelGC"})
    void largeCopiesBesideAllocatingThreads(String collector) throws Exception {
        ChildJvm.Output o = ChildJvm.runClean(dir, List.of("-Xmx512m", collector), "MopraXArrayLoad",
                "4", "5", "40", "4", "55");
        ChildJvm.assertLineCount(o, "copy OutOfMemoryError 0", 1, collector);
        ChildJvm.assertLineCount(o, "alloc OutOfMemoryError 0", 1, collector);
        assertFalse(o.all().contains("GCLocker"), () -> collector + ": GC locker warnings\n" + o.all());
        String copies = o.lines.stream().filter(l -> l.startsWith("copies ")).findFirst().orElse("copies 0");
        assertTrue(Long.parseLong(copies.substring(7)) > 0, () -> collector + ": no copy ran\n" + o.all());
    }
}
