package jsupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrowsExactly;

import org.junit.jupiter.api.function.Executable;

/**
 * The assertion the binding tests share: a native raised exactly this Java exception class
 * with exactly this message. No state.
 */
public final class JniAssert {
    private JniAssert() {}

    /** call raises exactly cls (not a subclass) with message; what names the case. */
    public static <T extends Throwable> T assertRaises(String what, Class<T> cls, String message, Executable call) {
        T e = assertThrowsExactly(cls, call, what);
        assertEquals(message, e.getMessage(), () -> what + ": message of " + cls.getName());
        return e;
    }
}
