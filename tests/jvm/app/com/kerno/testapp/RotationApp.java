package com.kerno.testapp;

import java.io.IOException;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.locks.LockSupport;

/**
 * Writes numbered lines from several threads at once, to System.out and
 * System.err in turn ("w<thread> <number> <padding>"), so that the real-JVM
 * tests can check the output rotation: kerno.test.threads threads write
 * kerno.test.lines lines each; with kerno.test.untilMillis, each writes a
 * line a millisecond until that time instead and reports its count to the
 * file named by kerno.test.report ("w<thread>=<lines>").
 */
public final class RotationApp {
    private RotationApp() {
    }

    public static void main(String[] args) throws InterruptedException, IOException {
        try {
            int threads = Integer.getInteger("kerno.test.threads", 4);
            final int lines = Integer.getInteger("kerno.test.lines", 1000);
            final long until = Long.getLong("kerno.test.untilMillis", 0L);
            final int[] written = new int[threads];
            List<Thread> writers = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                final int id = t;
                Thread writer = new Thread(() -> {
                    StringBuilder padding = new StringBuilder();
                    int n = 0;
                    for (; until == 0 ? n < lines : System.currentTimeMillis() < until; n++) {
                        padding.setLength(0);
                        for (int i = 0; i < (n * 7 + id) % 50; i++) {
                            padding.append('x');
                        }
                        PrintStream stream = n % 2 == 0 ? System.out : System.err;
                        stream.println("w" + id + " " + n + " " + padding);
                        if (until != 0) {
                            LockSupport.parkNanos(1_000_000);
                        }
                    }
                    written[id] = n;
                }, "writer-" + t);
                writers.add(writer);
                writer.start();
            }
            StringBuilder report = new StringBuilder();
            for (int t = 0; t < threads; t++) {
                writers.get(t).join();
                report.append('w').append(t).append('=').append(written[t]).append('\n');
            }
            if (until != 0) {
                EchoApp.write(System.getProperty("kerno.test.report"), report.toString());
            }
        } finally {
            Probe.done();
        }
    }
}
