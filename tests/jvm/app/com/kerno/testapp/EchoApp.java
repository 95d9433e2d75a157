package com.kerno.testapp;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;

/**
 * The application of the real-JVM tests: reports the thread it runs on, its
 * arguments and two system properties to the file named by kerno.test.report,
 * writes to System.out and System.err, and registers a shutdown hook that
 * appends to the report.
 */
public final class EchoApp {
    private EchoApp() {
    }

    public static void main(String[] args) throws IOException {
        try {
            final String report = System.getProperty("kerno.test.report");
            Thread thread = Thread.currentThread();
            StringBuilder text = new StringBuilder();
            text.append("thread=").append(thread.getName()).append('\n');
            text.append("daemon=").append(thread.isDaemon()).append('\n');
            text.append("argc=").append(args.length).append('\n');
            for (String arg : args) {
                text.append("arg=").append(arg).append('\n');
            }
            text.append("property=").append(System.getProperty("kerno.test.j")).append('\n');
            text.append("libraryPath=").append(System.getProperty("java.library.path")).append('\n');
            write(report, text.toString());
            System.out.println("out line 1");
            System.err.println("err line 1");
            System.out.println("out line 2");
            Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                try {
                    write(report, "shutdown hook ran\n");
                } catch (IOException e) {
                    throw new IllegalStateException(e);
                }
            }));
        } finally {
            Probe.done();
        }
    }

    static void write(String name, String text) throws IOException {
        try (OutputStream out = new FileOutputStream(name, true)) {
            out.write(text.getBytes(StandardCharsets.UTF_8));
        }
    }
}
