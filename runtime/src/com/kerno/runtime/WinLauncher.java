package com.kerno.runtime;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;

/**
 * The Java-side launcher class. The service launcher calls {@link #main} once,
 * on the thread that created the VM, and waits until it returns; so it starts
 * the application on a thread of its own and returns at once. An exception
 * thrown from here tells the launcher that the start failed.
 *
 * <p>Parameters (see docs/java-side.md):
 * <ol start="0">
 * <li>"true" when the service is configured as a windowed program, else "false"</li>
 * <li>the application's main class, dotted</li>
 * <li>the file that takes System.out, or "" to leave it alone</li>
 * <li>the file that takes System.err, or ""</li>
 * <li>"true" or "false": the configuration's extra launcher flag (unused here)</li>
 * <li>the service name</li>
 * <li>and on: the application's arguments</li>
 * </ol>
 */
public final class WinLauncher {
    static final int MAIN_CLASS = 1;
    static final int STDOUT_FILE = 2;
    static final int STDERR_FILE = 3;
    static final int SERVICE_NAME = 5;
    static final int FIRST_ARGUMENT = 6;

    /** The application runs on a thread of this name, as under the java command. */
    static final String THREAD_NAME = "main";

    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        if (args == null || args.length < SERVICE_NAME) {
            throw new IllegalArgumentException("the launcher passed "
                + (args == null ? 0 : args.length) + " parameters; at least " + SERVICE_NAME
                + " are needed");
        }
        String className = args[MAIN_CLASS];
        if (className.isEmpty()) {
            throw new IllegalArgumentException("no main class is configured");
        }
        redirectOutput(args[STDOUT_FILE], args[STDERR_FILE]);

        String[] applicationArgs = args.length > FIRST_ARGUMENT
            ? Arrays.copyOfRange(args, FIRST_ARGUMENT, args.length) : new String[0];
        ClassLoader loader = ClassLoader.getSystemClassLoader();
        Class<?> mainClass = Class.forName(className, false, loader);
        Method main = findMain(mainClass);

        Thread thread = new Thread(new ApplicationMain(main, applicationArgs), THREAD_NAME);
        thread.setDaemon(false);
        thread.setContextClassLoader(loader);
        thread.start();
    }

    /** public static void main(String[]) of the class or one it inherits. */
    static Method findMain(Class<?> mainClass) throws NoSuchMethodException {
        Method main = mainClass.getMethod("main", String[].class);
        if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
            throw new NoSuchMethodException("main in " + mainClass.getName()
                + " must be public static void main(String[])");
        }
        // The class itself need not be public, as under the java command.
        try {
            main.setAccessible(true);
        } catch (RuntimeException e) {
            // Not allowed here: a public class's public main is reachable anyway.
        }
        return main;
    }

    /**
     * Points System.out and System.err at the named files (appending, parent
     * directories created); an empty name leaves the stream alone. Both names
     * for one file share one stream, so their lines stay in order.
     */
    static void redirectOutput(String outName, String errName) throws IOException {
        PrintStream out = outName.isEmpty() ? null : openAppending(outName);
        PrintStream err = null;
        if (!errName.isEmpty()) {
            err = out != null && sameFile(outName, errName) ? out : openAppending(errName);
        }
        if (out != null) {
            System.setOut(out);
        }
        if (err != null) {
            System.setErr(err);
        }
    }

    static PrintStream openAppending(String name) throws IOException {
        File file = new File(name).getAbsoluteFile();
        File parent = file.getParentFile();
        if (parent != null && !parent.isDirectory() && !parent.mkdirs() && !parent.isDirectory()) {
            throw new IOException("cannot create the directory " + parent);
        }
        // Unbuffered below the print stream: every line is in the file at once,
        // also when the process ends through System.exit.
        return new PrintStream(new FileOutputStream(file, true), true);
    }

    static boolean sameFile(String a, String b) {
        File fileA = new File(a).getAbsoluteFile();
        File fileB = new File(b).getAbsoluteFile();
        try {
            return fileA.getCanonicalFile().equals(fileB.getCanonicalFile());
        } catch (IOException e) {
            return fileA.equals(fileB);
        }
    }

    /** Runs the application's main; what it throws ends its thread as under the java command. */
    static final class ApplicationMain implements Runnable {
        private final Method main;
        private final String[] args;

        ApplicationMain(Method main, String[] args) {
            this.main = main;
            this.args = args;
        }

        @Override
        public void run() {
            try {
                main.invoke(null, (Object) args);
            } catch (InvocationTargetException e) {
                WinLauncher.<RuntimeException>rethrow(e.getCause());
            } catch (IllegalAccessException e) {
                throw new IllegalStateException(e);
            }
        }
    }

    /** Throws the application's own exception unwrapped, checked or not. */
    @SuppressWarnings("unchecked")
    static <T extends Throwable> void rethrow(Throwable thrown) throws T {
        throw (T) thrown;
    }
}
