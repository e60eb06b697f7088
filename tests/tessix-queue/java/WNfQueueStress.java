import static org.junit.jupiter.api.Assertions.assertTrue;

import com.olm.toka.jni.wnfqueue.WNfQueueJNI;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicIntegerArray;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * 4 producers and 4 consumers on one WNfQueueJNI queue, with the limits 0 and 4: unique
 * ids, every fifth one urgent; the consumers mix dequeue and waitDequeue with the timeouts
 * 0, 1, 5, 50 and -1. Every accepted payload is received exactly once, and after the drain
 * wakeUpAll lets every consumer leave within 2 s.
 */
class WNfQueueStress {
    static final int PRODUCERS = 4;
    static final int CONSUMERS = 4;
    static final int PER_PRODUCER = 20000;

    @ParameterizedTest(name = "4 producers, 4 consumers, limit {0}")
    @ValueSource(longs = {0, 4})
    void producersAndConsumers(long limit) throws Exception {
        long q = WNfQueueJNI.new_WNfQueueGeneric();
        WNfQueueJNI.WNfQueueGeneric_setMaxNfSize(q, limit);
        int total = PRODUCERS * PER_PRODUCER;
        AtomicIntegerArray seen = new AtomicIntegerArray(total);
        AtomicIntegerArray accepted = new AtomicIntegerArray(total);
        AtomicInteger acceptedCount = new AtomicInteger();
        AtomicInteger receivedCount = new AtomicInteger();
        AtomicInteger bad = new AtomicInteger();
        AtomicBoolean stop = new AtomicBoolean();
        List<Thread> producers = new ArrayList<>();
        List<Thread> consumers = new ArrayList<>();
        for (int p = 0; p < PRODUCERS; p++) {
            final int base = p * PER_PRODUCER;
            producers.add(new Thread(() -> {
                byte[] b = new byte[8];
                for (int i = 0; i < PER_PRODUCER; i++) {
                    int id = base + i;
                    ByteBuffer.wrap(b).putInt(0, id).putInt(4, ~id);
                    if (WNfQueueJNI.WNfQueueGeneric_enqueue(q, b, 0, 8, i % 5 == 0)) {
                        accepted.set(id, 1);
                        acceptedCount.incrementAndGet();
                    } else if (i % 3 == 0) {
                        Thread.yield();
                    }
                }
            }));
        }
        long[] timeouts = {0, 1, 5, 50, -1};
        for (int c = 0; c < CONSUMERS; c++) {
            final int first = c;
            consumers.add(new Thread(() -> {
                for (int n = first; !stop.get(); n++) {
                    int mode = n % 6;
                    byte[] got = mode == 5 ? WNfQueueJNI.WNfQueueGeneric_dequeue(q)
                            : WNfQueueJNI.WNfQueueGeneric_waitDequeue(q, timeouts[mode]);
                    if (got == null) {
                        continue;
                    }
                    ByteBuffer bb = ByteBuffer.wrap(got);
                    int id = got.length == 8 ? bb.getInt(0) : -1;
                    if (id < 0 || id >= total || bb.getInt(4) != ~id) {
                        bad.incrementAndGet();
                        continue;
                    }
                    seen.incrementAndGet(id);
                    receivedCount.incrementAndGet();
                }
            }));
        }
        producers.forEach(Thread::start);
        consumers.forEach(Thread::start);
        for (Thread t : producers) {
            t.join();
        }
        long deadline = System.nanoTime() + 60_000_000_000L;
        while (receivedCount.get() < acceptedCount.get() && System.nanoTime() < deadline) {
            Thread.sleep(1);
        }
        assertTrue(receivedCount.get() == acceptedCount.get(),
                "limit " + limit + ": received " + receivedCount.get() + " of " + acceptedCount.get());
        assertTrue(WNfQueueJNI.WNfQueueGeneric_size(q) == 0, "limit " + limit + ": drained");

        stop.set(true);
        long released = System.nanoTime() + 2_000_000_000L;
        while (consumers.stream().anyMatch(Thread::isAlive) && System.nanoTime() < released) {
            WNfQueueJNI.WNfQueueGeneric_wakeUpAll(q);
            Thread.sleep(1);
        }
        boolean allLeft = consumers.stream().noneMatch(Thread::isAlive);
        assertTrue(allLeft, "limit " + limit + ": every consumer left within 2 s");
        int missing = 0;
        int twice = 0;
        int phantom = 0;
        for (int i = 0; i < total; i++) {
            if (accepted.get(i) == 1 && seen.get(i) == 0) {
                missing++;
            }
            if (seen.get(i) > 1) {
                twice++;
            }
            if (accepted.get(i) == 0 && seen.get(i) != 0) {
                phantom++;
            }
        }
        assertTrue(missing == 0 && twice == 0 && phantom == 0 && bad.get() == 0, "limit " + limit
                + ": missing " + missing + " twice " + twice + " phantom " + phantom + " bad " + bad.get());
        assertTrue(limit != 0 || acceptedCount.get() == total, "no limit: every payload accepted");
        assertTrue(acceptedCount.get() > 0, "some payloads accepted");
        System.err.printf("limit %d: %d of %d accepted, all received once%n", limit, acceptedCount.get(), total);
        WNfQueueJNI.delete_WNfQueueGeneric(q);
    }
}
