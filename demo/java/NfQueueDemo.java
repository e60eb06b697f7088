import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.nio.charset.StandardCharsets;

/**
 * TessiX queue demo: one thread enqueues payloads (one of them urgent) into a queue of at
 * most 8 stored payloads while another waits for them; the waiter stops at "end", and a
 * last wait times out after 50 ms.
 * Run: java -Djava.library.path=<build dir> -cp <build dir>/TessiX.jar:<classes> NfQueueDemo
 */
public final class NfQueueDemo {
    public static void main(String[] args) throws Exception {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, 8);

        Thread consumer = new Thread(() -> {
            int received = 0;
            while (true) {
                String s = WNfQueueJNI.WNfQueueGeneric_waitDequeueAsString(q, -1);
                if (s == null || s.equals("end")) {
                    break;
                }
                received++;
                System.out.println("consumer got: " + s);
            }
            System.out.println("consumer received " + received + " payloads");
        });
        consumer.start();

        for (int i = 1; i <= 5; i++) {
            byte[] b = ("payload " + i).getBytes(StandardCharsets.UTF_8);
            while (!WNfQueueJNI.WNfQueueGeneric_enqueue(q, b, 0, b.length, false)) {
                Thread.sleep(1);  // full and nobody waiting: try again
            }
            Thread.sleep(10);
        }
        WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "urgent payload", true);
        WNfQueueJNI.WNfQueueGeneric_enqueueString(q, "end", false);
        consumer.join();

        long t0 = System.nanoTime();
        byte[] none = WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, 50);
        System.out.printf("empty queue: waitDequeue(50) gave %s after %d ms%n",
                none == null ? "null" : "a payload", (System.nanoTime() - t0) / 1_000_000);
        System.out.println("size " + WNfQueueJNI.WNfQueueGeneric_size(q));
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }
}
