package jsupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Child JVMs of a Java test, for what the native side writes: it is block-buffered and only
 * complete once the process has exited. A child runs this JVM's java with -Xcheck:jni, the
 * given options, this JVM's java.library.path, java.class.path and toka.jni.checks, and its
 * standard output and error go to files in a folder the caller owns.
 *
 * The checks fail the calling test through JUnit assertions, each with its own message. The
 * JNI check messages come from the build (system property toka.jni.checks, comma-separated),
 * the same list the test runner applies to the test JVM's own output. No shared state.
 */
public final class ChildJvm {
    private ChildJvm() {}

    /** What a child JVM left behind. */
    public static final class Output {
        public final int exitCode;
        public final List<String> lines;  // standard output, by line
        public final String stderr;

        Output(int exitCode, List<String> lines, String stderr) {
            this.exitCode = exitCode;
            this.lines = lines;
            this.stderr = stderr;
        }

        /** Standard output and error, for failure messages and text searches. */
        public String all() {
            return String.join("\n", lines) + "\n" + stderr;
        }

        /** How many lines of standard output are exactly line. */
        public long count(String line) {
            return lines.stream().filter(l -> l.equals(line)).count();
        }
    }

    /** The JNI check messages no output may hold. */
    public static List<String> jniCheckMessages() {
        String list = System.getProperty("toka.jni.checks", "");
        return list.isEmpty() ? List.of() : Arrays.asList(list.split(","));
    }

    /** Runs mainClass with args in a child JVM and waits for it; dir takes its output files. */
    public static Output run(Path dir, List<String> jvmOptions, String mainClass, String... args)
            throws IOException, InterruptedException {
        List<String> cmd = new ArrayList<>();
        cmd.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        cmd.add("-Xcheck:jni");
        cmd.addAll(jvmOptions);
        cmd.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        cmd.add("-Dtoka.jni.checks=" + System.getProperty("toka.jni.checks", ""));
        cmd.add("-cp");
        cmd.add(System.getProperty("java.class.path"));
        cmd.add(mainClass);
        cmd.addAll(Arrays.asList(args));
        File out = File.createTempFile("child", ".out", dir.toFile());
        File err = File.createTempFile("child", ".err", dir.toFile());
        Process p = new ProcessBuilder(cmd).redirectOutput(out).redirectError(err).start();
        int rc = p.waitFor();
        return new Output(rc, Files.readAllLines(out.toPath(), StandardCharsets.UTF_8),
                Files.readString(err.toPath(), StandardCharsets.UTF_8));
    }

    /** run, then: the child exited 0 and its output holds no JNI check message. */
    public static Output runClean(Path dir, List<String> jvmOptions, String mainClass, String... args)
            throws IOException, InterruptedException {
        Output o = run(dir, jvmOptions, mainClass, args);
        String what = "child " + mainClass + " " + Arrays.toString(args);
        assertEquals(0, o.exitCode, () -> what + " exit code:\n" + o.all());
        assertNoJniMessages(what, o.all());
        return o;
    }

    /** text holds none of the JNI check messages. */
    public static void assertNoJniMessages(String what, String text) {
        for (String m : jniCheckMessages()) {
            assertFalse(text.contains(m), () -> what + ": JNI check message \"" + m + "\" in\n" + text);
        }
    }

    /** line stands exactly `times` times in the child's standard output. */
    public static void assertLineCount(Output o, String line, long times, String what) {
        assertEquals(times, o.count(line), () -> what + ": \"" + line + "\" in\n" + String.join("\n", o.lines));
    }
}
