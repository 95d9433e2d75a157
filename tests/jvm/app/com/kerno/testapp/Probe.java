package com.kerno.testapp;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/** Lets the test harness wait, through JNI, until EchoApp.main has done its work. */
public final class Probe {
    private static final CountDownLatch DONE = new CountDownLatch(1);

    private Probe() {
    }

    static void done() {
        DONE.countDown();
    }

    /** True once main has finished; the bound only keeps a broken run from hanging. */
    public static boolean awaitDone() throws InterruptedException {
        return DONE.await(120, TimeUnit.SECONDS);
    }
}
