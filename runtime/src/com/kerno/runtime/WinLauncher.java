package com.kerno.runtime;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
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
 *
 * <p>The system property kerno.outputRotation ("maxBytes,keep", set by the
 * launcher from the configuration) turns on size-based rotation of the
 * output files.
 */
public final class WinLauncher {
    static final int MAIN_CLASS = 1;
    static final int STDOUT_FILE = 2;
    static final int STDERR_FILE = 3;
    static final int SERVICE_NAME = 5;
    static final int FIRST_ARGUMENT = 6;

    /** The application runs on a thread of this name, as under the java command. */
    static final String THREAD_NAME = "main";

    /** "maxBytes,keep": rotate the output files (absent: append for ever). */
    static final String ROTATION_PROPERTY = "kerno.outputRotation";
    static final long MIN_ROTATION_BYTES = 1024;
    static final long MAX_ROTATION_BYTES = 1L << 40;
    static final int MAX_ROTATION_KEEP = 999;

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
        Rotation rotation = Rotation.fromProperty(System.getProperty(ROTATION_PROPERTY));
        PrintStream out = outName.isEmpty() ? null : openAppending(outName, rotation);
        PrintStream err = null;
        if (!errName.isEmpty()) {
            err = out != null && sameFile(outName, errName) ? out : openAppending(errName, rotation);
        }
        if (out != null) {
            System.setOut(out);
        }
        if (err != null) {
            System.setErr(err);
        }
    }

    static PrintStream openAppending(String name, Rotation rotation) throws IOException {
        File file = new File(name).getAbsoluteFile();
        File parent = file.getParentFile();
        if (parent != null && !parent.isDirectory() && !parent.mkdirs() && !parent.isDirectory()) {
            throw new IOException("cannot create the directory " + parent);
        }
        // Unbuffered below the print stream: every line is in the file at once,
        // also when the process ends through System.exit.
        OutputStream sink = rotation == null ? new FileOutputStream(file, true)
            : new RotatingFileOutputStream(file, rotation);
        return new PrintStream(sink, true);
    }

    /** The rotation settings: rotate past maxBytes, keep that many older files. */
    static final class Rotation {
        final long maxBytes;
        final int keep;

        Rotation(long maxBytes, int keep) {
            this.maxBytes = maxBytes;
            this.keep = keep;
        }

        /**
         * The property's value, or null when it is absent; a damaged value is
         * absent too, said in one line on the standard error stream as it is
         * before the redirection.
         */
        static Rotation fromProperty(String text) {
            if (text == null) {
                return null;
            }
            String[] parts = text.split(",", -1);
            try {
                if (parts.length == 2 && parts[0].matches("[1-9][0-9]{0,12}")
                    && parts[1].matches("[1-9][0-9]{0,2}")) {
                    long maxBytes = Long.parseLong(parts[0]);
                    int keep = Integer.parseInt(parts[1]);
                    if (maxBytes >= MIN_ROTATION_BYTES && maxBytes <= MAX_ROTATION_BYTES
                        && keep <= MAX_ROTATION_KEEP) {
                        return new Rotation(maxBytes, keep);
                    }
                }
            } catch (NumberFormatException e) {
                // Falls through to the line below.
            }
            System.err.println("kerno: " + ROTATION_PROPERTY + "=\"" + text + "\" is not \"maxBytes,keep\" ("
                + MIN_ROTATION_BYTES + ".." + MAX_ROTATION_BYTES + ", 1.." + MAX_ROTATION_KEEP
                + "); the output is not rotated");
            return null;
        }
    }

    /**
     * Appends to a file and rotates it by size: once the file holds maxBytes,
     * the next line goes to a fresh file, and the full one becomes name.1
     * (name.1 becomes name.2, and so on; the one past keep is removed). Lines
     * stay whole: the switch happens only at a line end, unless a writer has
     * written twice the limit without one. Every write goes through one lock,
     * so writers on several threads lose nothing and keep their order. A
     * rotation the file system refuses (a file held open elsewhere) leaves
     * the output where it is, says so in the file, and is tried again after
     * another maxBytes.
     */
    static final class RotatingFileOutputStream extends OutputStream {
        private final File file;
        private final long maxBytes;
        private final int keep;
        private FileOutputStream out;
        private long size;
        private long rotateAt;
        private boolean atLineStart = true;

        RotatingFileOutputStream(File file, Rotation rotation) throws IOException {
            this.file = file;
            this.maxBytes = rotation.maxBytes;
            this.keep = rotation.keep;
            this.out = new FileOutputStream(file, true);
            this.size = file.length();
            this.rotateAt = maxBytes;
        }

        @Override
        public synchronized void write(int b) throws IOException {
            write(new byte[] {(byte) b}, 0, 1);
        }

        @Override
        public synchronized void write(byte[] bytes, int offset, int length) throws IOException {
            int end = offset + length;
            if (offset < 0 || length < 0 || end > bytes.length || end < 0) {
                throw new IndexOutOfBoundsException();
            }
            int start = offset;
            while (start < end) {
                int stop = start;
                while (stop < end && bytes[stop] != '\n') {
                    stop++;
                }
                stop = stop < end ? stop + 1 : end;  // through the line end
                if (size >= rotateAt && (atLineStart || size >= rotateAt + maxBytes)) {
                    rotate();
                }
                out.write(bytes, start, stop - start);
                size += stop - start;
                atLineStart = bytes[stop - 1] == '\n';
                start = stop;
            }
        }

        private File numbered(int n) {
            return new File(file.getPath() + "." + n);
        }

        private void rotate() throws IOException {
            out.close();
            IOException failure = null;
            try {
                for (int n = keep - 1; n >= 1; n--) {
                    if (numbered(n).exists()) {
                        Files.move(numbered(n).toPath(), numbered(n + 1).toPath(),
                            StandardCopyOption.REPLACE_EXISTING);
                    }
                }
                Files.move(file.toPath(), numbered(1).toPath(), StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException e) {
                failure = e;
            }
            out = new FileOutputStream(file, true);
            size = file.length();
            rotateAt = failure == null ? maxBytes : size + maxBytes;
            if (failure != null) {
                byte[] line = ("kerno: cannot rotate " + file + " (" + failure
                    + "); writing on in it\n").getBytes("UTF-8");
                out.write(line);
                size += line.length;
                atLineStart = true;
            }
        }

        @Override
        public synchronized void flush() throws IOException {
            out.flush();
        }

        @Override
        public synchronized void close() throws IOException {
            out.close();
        }
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
