import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.file.Path;
import java.util.List;

import jsupport.ChildJvm;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.opentest4j.AssertionFailedError;

/** The shared child-JVM support: what a child prints reaches the checks, and each check fails when it must. */
class ChildJvmTest {
    @TempDir
    Path dir;

    @Test
    void theBuildsJniCheckMessagesReachTheTestJvm() {
        assertFalse(ChildJvm.jniCheckMessages().isEmpty(), "toka.jni.checks is set");
    }

    @Test
    void cleanChildLinesAreCounted() throws Exception {
        ChildJvm.Output o = ChildJvm.runClean(dir, List.of("-Dunused=1"), "ChildEcho", "0", "a", "b", "a");
        assertEquals(List.of("a", "b", "a"), o.lines, "standard output by line");
        ChildJvm.assertLineCount(o, "a", 2, "a twice");
        ChildJvm.assertLineCount(o, "c", 0, "c never");
        assertThrows(AssertionFailedError.class, () -> ChildJvm.assertLineCount(o, "b", 2, "b twice"));
    }

    @Test
    void aNonZeroExitFailsRunClean() throws Exception {
        assertEquals(3, ChildJvm.run(dir, List.of(), "ChildEcho", "3").exitCode, "exit code");
        assertThrows(AssertionFailedError.class, () -> ChildJvm.runClean(dir, List.of(), "ChildEcho", "3"));
    }

    @Test
    void everyJniCheckMessageInAChildFailsRunClean() throws Exception {
        // Each message, inside a line of the child's standard output.
        for (String m : ChildJvm.jniCheckMessages()) {
            assertThrows(AssertionFailedError.class, () -> ChildJvm.runClean(dir, List.of(), "ChildEcho", "0",
                    "before " + m + " after"), m);
        }
    }
}
