import static org.junit.jupiter.api.Assertions.assertEquals;

import com.olm.toka.jni.moprax.MopraXJNI;

import java.util.Arrays;

import jsupport.JniAssert;
import org.junit.jupiter.api.Test;

/**
 * A String result the VM cannot store: 2^30 ASCII bytes and one U+4E16 make 2^30 + 1
 * UTF-16 units with one above U+00FF, which the VM would keep in a byte array of more than
 * Integer.MAX_VALUE bytes. The result raises OutOfMemoryError (the VM's own conversion
 * overflowed into NegativeArraySizeException). About 2 GiB: the array, then the holder's
 * copy of it.
 */
class MopraXLongTextTest {
    @Test
    void wideTextBeyondTheVmLimit() {
        final int ascii = 1 << 30;
        long h = MopraXJNI.new_mopra__StrHolder();
        try {
            byte[] b = new byte[ascii + 3];
            Arrays.fill(b, 0, ascii, (byte) 'a');
            b[ascii] = (byte) 0xe4;
            b[ascii + 1] = (byte) 0xb8;
            b[ascii + 2] = (byte) 0x96;
            MopraXJNI.mopra__StrHolder_setBinVal(h, null, b, 0, b.length);
            b = null;
            assertEquals(ascii + 3, MopraXJNI.mopra__StrHolder_getLength(h, null));
            JniAssert.assertRaises("getVal", OutOfMemoryError.class, "String result too long for the VM",
                    () -> MopraXJNI.mopra__StrHolder_getVal(h, null));
        } finally {
            MopraXJNI.delete_mopra__StrHolder(h);
        }
    }
}
