package com.kerno.testapp;

import java.io.IOException;

/** Stop methods for the real-JVM tests, reporting after EchoApp's lines. */
public final class StopApp {
    private StopApp() {
    }

    public static void shutdown(String[] args) throws IOException {
        EchoApp.write(System.getProperty("kerno.test.report"),
            "stop method on " + Thread.currentThread().getName() + " with " + String.join("|", args) + "\n");
    }

    public static void blocks() throws IOException, InterruptedException {
        EchoApp.write(System.getProperty("kerno.test.report"), "stop method blocks\n");
        Thread.sleep(Long.MAX_VALUE);
    }

    public static void fails(String[] args) {
        throw new IllegalStateException("cannot stop: " + args[0]);
    }
}
