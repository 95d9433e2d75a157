package com.kerno.testapp;

import com.kerno.runtime.Health;

/**
 * What the watchdog looks at: a thread with a deep stack, two threads in a
 * real deadlock, a heartbeat that stops after a few beats, and probe methods
 * that answer false, throw or block.
 */
public final class WatchdogApp {
    private static final Object FIRST = new Object();
    private static final Object SECOND = new Object();

    private WatchdogApp() {
    }

    public static void main(String[] args) throws Exception {
        start("kerno-deep-stack", () -> deep(20));
        Thread a = start("kerno-deadlock-a", () -> lockBoth(FIRST, SECOND));
        Thread b = start("kerno-deadlock-b", () -> lockBoth(SECOND, FIRST));
        start("kerno-heartbeat", () -> {
            for (int i = 0; i < 3; i++) {
                Health.heartbeat();
                pause(200);
            }
        });
        for (int i = 0; i < 1000 && (a.getState() != Thread.State.BLOCKED
            || b.getState() != Thread.State.BLOCKED); i++) {
            pause(10);
        }
        Probe.done();
    }

    static Thread start(String name, Runnable body) {
        Thread thread = new Thread(body, name);
        thread.setDaemon(true);
        thread.start();
        return thread;
    }

    /** Twenty frames of its own, deeper than ThreadInfo.toString shows. */
    static void deep(int depth) {
        if (depth > 0) {
            deep(depth - 1);
        } else {
            pause(Long.MAX_VALUE);
        }
    }

    static void lockBoth(Object a, Object b) {
        synchronized (a) {
            pause(300);
            synchronized (b) {
                pause(Long.MAX_VALUE);
            }
        }
    }

    static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static boolean answersFalse() {
        return false;
    }

    static boolean throwsIllegalState() {
        throw new IllegalStateException("the pool is exhausted");
    }

    static boolean blocks() {
        pause(Long.MAX_VALUE);
        return true;
    }

    static boolean healthy() {
        return true;
    }
}
