package com.kerno.runtime;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.lang.management.ThreadMXBean;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * What the application tells the launcher's watchdog, and the watchdog's
 * checks that need the VM (see docs/operations.md, "Watchdog").
 *
 * <p>The application calls {@link #heartbeat} at least once per period of a
 * liveness probe with the {@code heartbeat} check, and {@link #ready} once
 * it serves, for a startup probe with the {@code ready} check. Both only
 * store a value and never block.
 */
public final class Health {
    private static volatile long lastHeartbeat;
    private static volatile boolean heartbeatSeen;
    private static volatile long firstHeartbeatCheck;
    private static volatile boolean heartbeatChecked;
    private static volatile boolean ready;

    private Health() {
    }

    /** The application is alive: call at least once per probe period. */
    public static void heartbeat() {
        lastHeartbeat = System.nanoTime();
        heartbeatSeen = true;
    }

    /** The application serves: the startup probe's {@code ready} check passes from now on. */
    public static void ready() {
        ready = true;
    }

    /**
     * One check, called by the launcher on a thread of its own: "deadlock",
     * "ready", "heartbeat=&lt;period in seconds&gt;" or
     * "method=&lt;package.Class.method&gt;". Returns null when healthy, else
     * why not, in one line.
     */
    static String check(String check) {
        try {
            if (check.equals("deadlock")) {
                return deadlock();
            }
            if (check.equals("ready")) {
                return ready ? null : "the application has not called Health.ready() yet";
            }
            if (check.startsWith("heartbeat=")) {
                return heartbeat(Long.parseLong(check.substring("heartbeat=".length())) * 1000L);
            }
            if (check.startsWith("method=")) {
                return method(check.substring("method=".length()));
            }
            return "unknown check " + check;
        } catch (Throwable t) {
            return "the check " + check + " failed: " + t;
        }
    }

    static String heartbeat(long periodMillis) {
        long now = System.nanoTime();
        if (!heartbeatChecked) {
            // The first period counts from the first check.
            firstHeartbeatCheck = now;
            heartbeatChecked = true;
        }
        long since = heartbeatSeen ? lastHeartbeat : firstHeartbeatCheck;
        if (heartbeatSeen && since - firstHeartbeatCheck < 0) {
            since = firstHeartbeatCheck;
        }
        long ageMillis = (now - since) / 1000000L;
        if (ageMillis <= periodMillis) {
            return null;
        }
        return (heartbeatSeen ? "no heartbeat for " : "no heartbeat yet, after ") + ageMillis
            + " ms (the period is " + periodMillis / 1000 + " s)";
    }

    static String deadlock() {
        ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        long[] ids = threads.isSynchronizerUsageSupported() ? threads.findDeadlockedThreads()
            : threads.findMonitorDeadlockedThreads();
        if (ids == null || ids.length == 0) {
            return null;
        }
        StringBuilder text = new StringBuilder("deadlocked threads:");
        for (ThreadInfo info : threads.getThreadInfo(ids)) {
            if (info == null) {
                continue;
            }
            text.append(" \"").append(info.getThreadName()).append("\" waits for ")
                .append(info.getLockName()).append(" held by \"").append(info.getLockOwnerName())
                .append("\";");
        }
        return text.toString();
    }

    static String method(String name) throws Exception {
        int dot = name.lastIndexOf('.');
        Class<?> type = Class.forName(name.substring(0, dot), true, ClassLoader.getSystemClassLoader());
        Method method = type.getDeclaredMethod(name.substring(dot + 1));
        if (!Modifier.isStatic(method.getModifiers()) || method.getReturnType() != boolean.class) {
            return name + " is not a static boolean method without parameters";
        }
        method.setAccessible(true);
        try {
            return Boolean.TRUE.equals(method.invoke(null)) ? null : name + " returned false";
        } catch (InvocationTargetException e) {
            return name + " threw " + e.getCause();
        }
    }
}
