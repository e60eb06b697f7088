/** The natives of the test library conv_probe: MopraXJNI's string conversions and the VM's. */
final class MopraXConvProbe {
    private MopraXConvProbe() {}

    /** A Java string argument's bytes as the binding takes them, and through GetStringUTFChars. */
    static native byte[] str(String s);

    static native byte[] strUtf(String s);

    /** A native string result as the binding makes it, and through NewStringUTF. */
    static native String jstr(byte[] b);

    static native String jstrUtf(byte[] b);
}
