package com.kerno.testapp;

import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;

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

    public static void main(String[] args) throws InterruptedException {
        try {
            int threads = Integer.getInteger("kerno.test.threads", 4);
            final int lines = Integer.getInteger("kerno.test.lines", 1000);
            final long until = Long.getLong("kerno.test.untilMillis", 0L);
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
                            pause();
                        }
                    }
                    if (until != 0) {
                        report("w" + id + "=" + n + "\n");
                    }
                }, "writer-" + t);
                writers.add(writer);
                writer.start();
            }
            for (Thread writer : writers) {
                writer.join();
            }
        } finally {
            Probe.done();
        }
    }

    static void pause() {
        try {
            Thread.sleep(1);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static synchronized void report(String text) {
        try {
            EchoApp.write(System.getProperty("kerno.test.report"), text);
        } catch (java.io.IOException e) {
            throw new IllegalStateException(e);
        }
    }
}
