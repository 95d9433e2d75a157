package com.kerno.runtime;

import java.lang.management.LockInfo;
import java.lang.management.ManagementFactory;
import java.lang.management.MonitorInfo;
import java.lang.management.ThreadInfo;
import java.lang.management.ThreadMXBean;
import java.nio.charset.StandardCharsets;
import javax.management.ObjectName;

/**
 * The thread dump that the launcher writes to a file: the VM's own
 * "threadPrint" diagnostic command where the runtime has it, else every
 * thread from the thread bean with its whole stack.
 */
public final class ThreadDumps {
    static final String DIAGNOSTIC_COMMAND = "com.sun.management:type=DiagnosticCommand";

    private ThreadDumps() {
    }

    /** The dump as UTF-8 text; called by the launcher on a thread of its own. */
    static byte[] dump() {
        String text = null;
        try {
            text = threadPrint();
        } catch (Throwable t) {
            text = null;
        }
        if (text == null) {
            text = fromThreadBean();
        }
        return text.getBytes(StandardCharsets.UTF_8);
    }

    static String threadPrint() throws Exception {
        Object result = ManagementFactory.getPlatformMBeanServer().invoke(
            new ObjectName(DIAGNOSTIC_COMMAND), "threadPrint",
            new Object[] {new String[] {"-l"}}, new String[] {String[].class.getName()});
        return result instanceof String ? (String) result : null;
    }

    /** Like the VM's own format, with every frame (ThreadInfo.toString stops at eight). */
    static String fromThreadBean() {
        ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        ThreadInfo[] infos = threads.dumpAllThreads(threads.isObjectMonitorUsageSupported(),
            threads.isSynchronizerUsageSupported());
        StringBuilder out = new StringBuilder("Full thread dump (thread bean):\n\n");
        for (ThreadInfo info : infos) {
            if (info != null) {
                format(info, out);
            }
        }
        return out.toString();
    }

    static void format(ThreadInfo info, StringBuilder out) {
        out.append('"').append(info.getThreadName()).append("\" #").append(info.getThreadId())
            .append(' ').append(info.getThreadState());
        if (info.getLockName() != null) {
            out.append(" on ").append(info.getLockName());
        }
        if (info.getLockOwnerName() != null) {
            out.append(" owned by \"").append(info.getLockOwnerName()).append("\" #")
                .append(info.getLockOwnerId());
        }
        if (info.isSuspended()) {
            out.append(" (suspended)");
        }
        if (info.isInNative()) {
            out.append(" (in native)");
        }
        out.append('\n');
        StackTraceElement[] stack = info.getStackTrace();
        MonitorInfo[] monitors = info.getLockedMonitors();
        for (int i = 0; i < stack.length; i++) {
            out.append("\tat ").append(stack[i]).append('\n');
            if (i == 0 && info.getLockInfo() != null) {
                out.append("\t- waiting on ").append(info.getLockInfo()).append('\n');
            }
            for (MonitorInfo monitor : monitors) {
                if (monitor.getLockedStackDepth() == i) {
                    out.append("\t- locked ").append(monitor).append('\n');
                }
            }
        }
        LockInfo[] synchronizers = info.getLockedSynchronizers();
        if (synchronizers.length > 0) {
            out.append("\n\tLocked ownable synchronizers:\n");
            for (LockInfo lock : synchronizers) {
                out.append("\t- ").append(lock).append('\n');
            }
        }
        out.append('\n');
    }
}
