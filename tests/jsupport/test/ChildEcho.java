/** A child JVM's main for ChildJvmTest: prints its arguments but the first as lines, exits with the first. */
public final class ChildEcho {
    private ChildEcho() {}

    public static void main(String[] args) {
        for (int i = 1; i < args.length; ++i) {
            System.out.println(args[i]);
        }
        System.exit(Integer.parseInt(args[0]));
    }
}
