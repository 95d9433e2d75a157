package com.kerno.runtime;

import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.ByteBuffer;
import java.nio.channels.ClosedByInterruptException;
import java.nio.channels.FileChannel;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileStore;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.AclEntry;
import java.nio.file.attribute.AclEntryFlag;
import java.nio.file.attribute.AclEntryPermission;
import java.nio.file.attribute.AclEntryType;
import java.nio.file.attribute.AclFileAttributeView;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.nio.file.attribute.UserPrincipalLookupService;
import java.time.Instant;
import java.time.ZoneId;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.time.temporal.ChronoUnit;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Deque;
import java.util.EnumSet;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

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
 * <p>The system property kerno.outputRotation ("maxBytes,keep" or
 * "maxBytes,keep,day|hour", set by the launcher from the configuration)
 * turns on the rotation of the output files by size, by time or by both.
 */
public final class WinLauncher {
    static final int MAIN_CLASS = 1;
    static final int STDOUT_FILE = 2;
    static final int STDERR_FILE = 3;
    static final int SERVICE_NAME = 5;
    static final int FIRST_ARGUMENT = 6;

    /** The application runs on a thread of this name, as under the java command. */
    static final String THREAD_NAME = "main";

    /**
     * The launcher's own thread, the one that created the VM and calls
     * {@link #main}, is renamed to this, so that a thread dump shows one
     * "main": the application's.
     */
    static final String LAUNCHER_THREAD_NAME = "service-main";

    private static volatile Thread launcherThread;
    private static volatile Thread applicationThread;
    /** What the application's main threw, once it has. */
    private static volatile Throwable mainFailure;

    /** "maxBytes,keep[,day|hour]": rotate the output files (absent: append for ever). */
    static final String ROTATION_PROPERTY = "kerno.outputRotation";
    static final long MIN_ROTATION_BYTES = 1024;
    static final long MAX_ROTATION_BYTES = 1L << 40;
    static final int MAX_ROTATION_KEEP = 999;
    /** Files of one day or hour beyond the first (name.date.1.ext ...) at most. */
    static final int MAX_SAME_PERIOD = 9999;
    /** How long a refused time rotation waits before it is tried again. */
    static final long TIME_ROTATION_RETRY_MILLIS = 60_000;

    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        launcherThread = Thread.currentThread();
        try {
            launcherThread.setName(LAUNCHER_THREAD_NAME);
        } catch (SecurityException e) {
            // Keeps the VM's name; only the dump reads less well.
        }
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
        applicationThread = thread;
    }

    /**
     * Called by the launcher on a daemon thread of its own once main has
     * returned: blocks until the application has ended as it would end under
     * the java command, that is until its main thread has ended and no other
     * thread that is not a daemon is left (the launcher's own thread aside).
     * Returns null when the application's main returned, else what it threw
     * ("class: message"). Never returns once the VM is shutting down (an exit
     * that is already on its way ends the process; the threads that end
     * during it are no end of the application).
     */
    public static String awaitEnd() throws InterruptedException {
        Thread application = applicationThread;
        if (application != null) {
            application.join();
        }
        for (Thread other = nextLiveUserThread(); other != null; other = nextLiveUserThread()) {
            other.join();
        }
        if (shuttingDown()) {
            Thread.sleep(Long.MAX_VALUE);
        }
        Throwable failure = mainFailure;
        return failure == null ? null : String.valueOf(failure);
    }

    /** A live thread that is not a daemon, other than the launcher's; null when none is left. */
    static Thread nextLiveUserThread() {
        ThreadGroup root = Thread.currentThread().getThreadGroup();
        while (root.getParent() != null) {
            root = root.getParent();
        }
        // enumerate drops what does not fit: a full array is tried again larger.
        Thread[] threads;
        int count;
        do {
            threads = new Thread[root.activeCount() * 2 + 16];
            count = root.enumerate(threads, true);
        } while (count == threads.length);
        for (int i = 0; i < count; i++) {
            Thread t = threads[i];
            if (t.isAlive() && !t.isDaemon() && t != launcherThread && t != Thread.currentThread()) {
                return t;
            }
        }
        return null;
    }

    /** Whether the VM's shutdown has begun: a hook can no longer be added then. */
    static boolean shuttingDown() {
        Thread probe = new Thread(() -> { });
        try {
            Runtime.getRuntime().addShutdownHook(probe);
        } catch (IllegalStateException e) {
            return true;
        }
        Runtime.getRuntime().removeShutdownHook(probe);
        return false;
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
        Path file = Paths.get(name).toAbsolutePath();
        Path parent = file.getParent();
        if (parent != null && !Files.isDirectory(parent)) {
            createPrivateDirectories(parent);
        }
        // Unbuffered below the print stream: every line is in the file at once,
        // also when the process ends through System.exit.
        return new PrintStream(new OutputFileStream(file, rotation), true);
    }

    /** Attempts to make an output file new when its name is taken each time. */
    static final int CREATE_ATTEMPTS = 3;

    /**
     * Creates the missing directories of a path, each new one with the
     * service's private access (see {@link #privateAttributes}). Directories
     * that exist are used as they are.
     */
    static void createPrivateDirectories(Path dir) throws IOException {
        Deque<Path> missing = new ArrayDeque<>();
        for (Path p = dir; p != null && !Files.isDirectory(p); p = p.getParent()) {
            missing.push(p);
        }
        while (!missing.isEmpty()) {
            Path p = missing.pop();
            try {
                Files.createDirectory(p, privateAttributes(p, true));
                restrictAcl(p, true);
            } catch (FileAlreadyExistsException e) {
                if (!Files.isDirectory(p)) {
                    throw new IOException("cannot create the directory " + p + ": a file is in the way", e);
                }
            }
        }
    }

    /**
     * The access a new output file or directory gets at its creation: on a
     * file system with access lists, full access for the process's account,
     * SYSTEM and the administrators and nothing for anybody else (accounts
     * the system cannot name are left out, which only makes it more
     * private); on a POSIX file system, the owner alone; else nothing given.
     */
    static FileAttribute<?>[] privateAttributes(Path path, boolean directory) {
        FileStore store;
        try {
            store = Files.getFileStore(existingAncestor(path));
        } catch (IOException | RuntimeException e) {
            return new FileAttribute<?>[0];
        }
        if (store.supportsFileAttributeView(AclFileAttributeView.class)) {
            final List<AclEntry> acl = privateAcl(directory);
            if (acl.isEmpty()) {
                return new FileAttribute<?>[0];
            }
            return new FileAttribute<?>[] {new FileAttribute<List<AclEntry>>() {
                @Override
                public String name() {
                    return "acl:acl";
                }

                @Override
                public List<AclEntry> value() {
                    return acl;
                }
            }};
        }
        if (store.supportsFileAttributeView(PosixFileAttributeView.class)) {
            return new FileAttribute<?>[] {
                PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(directory ? "rwx------" : "rw-------"))};
        }
        return new FileAttribute<?>[0];
    }

    /**
     * Sets the private access list exactly, where the file system has access
     * lists: a list given at creation may have had the parent's inheritable
     * entries merged in. A file system that refuses keeps the list given at
     * creation; the output is written all the same.
     */
    static void restrictAcl(Path path, boolean directory) {
        AclFileAttributeView view = Files.getFileAttributeView(path, AclFileAttributeView.class,
            LinkOption.NOFOLLOW_LINKS);
        if (view == null) {
            return;
        }
        try {
            // The owner too: the account the system made it for, whatever
            // name the account's own lookup found.
            List<AclEntry> acl = privateAcl(directory, view.getOwner());
            if (!acl.isEmpty()) {
                view.setAcl(acl);
            }
        } catch (IOException | RuntimeException e) {
            // Kept as created.
        }
    }

    static List<AclEntry> privateAcl(boolean directory) {
        return privateAcl(directory, null);
    }

    static List<AclEntry> privateAcl(boolean directory, UserPrincipal owner) {
        UserPrincipalLookupService lookup = FileSystems.getDefault().getUserPrincipalLookupService();
        List<AclEntry> acl = new ArrayList<>();
        UserPrincipal self = principal(lookup, System.getProperty("user.name"));
        if (self == null) {
            // Without the account itself the list would shut the service out.
            return acl;
        }
        Set<AclEntryFlag> flags = directory
            ? EnumSet.of(AclEntryFlag.FILE_INHERIT, AclEntryFlag.DIRECTORY_INHERIT)
            : EnumSet.noneOf(AclEntryFlag.class);
        Set<UserPrincipal> seen = new HashSet<>();
        for (UserPrincipal who : new UserPrincipal[] {self, owner, principal(lookup, "SYSTEM"),
                                                      principal(lookup, "Administrators")}) {
            if (who != null && seen.add(who)) {
                acl.add(AclEntry.newBuilder().setType(AclEntryType.ALLOW).setPrincipal(who)
                    .setPermissions(EnumSet.allOf(AclEntryPermission.class)).setFlags(flags).build());
            }
        }
        return acl;
    }

    static UserPrincipal principal(UserPrincipalLookupService lookup, String name) {
        if (name == null || name.isEmpty()) {
            return null;
        }
        try {
            return lookup.lookupPrincipalByName(name);
        } catch (IOException | RuntimeException e) {
            return null;
        }
    }

    static Path existingAncestor(Path path) {
        Path p = path.toAbsolutePath();
        while (p.getParent() != null && !Files.exists(p)) {
            p = p.getParent();
        }
        return p;
    }

    /**
     * Creates `file` new, never following a link: whatever is under the name
     * (a link, a file somebody put there between a rotation's move and this)
     * is removed, the link itself and not what it points to, and the creation
     * tried again, {@link #CREATE_ATTEMPTS} times in all.
     */
    static FileChannel createNew(Path file) throws IOException {
        FileAlreadyExistsException taken = null;
        for (int attempt = 0; attempt < CREATE_ATTEMPTS; attempt++) {
            try {
                Set<OpenOption> options = new HashSet<>(Arrays.asList(StandardOpenOption.CREATE_NEW,
                    StandardOpenOption.WRITE, StandardOpenOption.APPEND, LinkOption.NOFOLLOW_LINKS));
                FileChannel channel = FileChannel.open(file, options, privateAttributes(file, false));
                restrictAcl(file, false);
                return channel;
            } catch (FileAlreadyExistsException e) {
                taken = e;
                Files.deleteIfExists(file);
            }
        }
        throw new IOException("cannot create " + file + ": its name is taken again each time", taken);
    }

    /**
     * Opens an output file for appending without following a link: a regular
     * file under the name is appended to (the output of earlier runs); a link
     * or junction is removed and a new file made in its place.
     */
    static FileChannel openForAppend(Path file) throws IOException {
        for (int attempt = 0; attempt < CREATE_ATTEMPTS; attempt++) {
            BasicFileAttributes attributes;
            try {
                attributes = Files.readAttributes(file, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
            } catch (NoSuchFileException e) {
                return createNew(file);
            }
            if (attributes.isDirectory()) {
                throw new IOException(file + " is a directory");
            }
            if (!attributes.isRegularFile()) {
                return createNew(file);
            }
            try {
                return FileChannel.open(file, StandardOpenOption.WRITE, StandardOpenOption.APPEND,
                    LinkOption.NOFOLLOW_LINKS);
            } catch (IOException e) {
                // Swapped for a link or removed since it was looked at: look
                // again. Any other failure is the answer.
                if (isRegularFile(file)) {
                    throw e;
                }
            }
        }
        throw new IOException("cannot open " + file + ": it changes under the launcher's hands");
    }

    static boolean isRegularFile(Path file) {
        return Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS);
    }

    /**
     * The rotation settings: rotate past maxBytes (0: never by size), keep
     * that many older files; every: null, "day" or "hour" (a new file each
     * local day or hour, the old ones named by their date).
     */
    static final class Rotation {
        final long maxBytes;
        final int keep;
        final String every;

        Rotation(long maxBytes, int keep, String every) {
            this.maxBytes = maxBytes;
            this.keep = keep;
            this.every = every;
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
                String every = parts.length == 3 && parts[2].matches("day|hour") ? parts[2] : null;
                boolean timeAlone = every != null && parts[0].equals("0");
                if ((parts.length == 2 || every != null) && (timeAlone || parts[0].matches("[1-9][0-9]{0,12}"))
                    && parts[1].matches("[1-9][0-9]{0,2}")) {
                    long maxBytes = Long.parseLong(parts[0]);
                    int keep = Integer.parseInt(parts[1]);
                    if ((timeAlone || maxBytes >= MIN_ROTATION_BYTES && maxBytes <= MAX_ROTATION_BYTES)
                        && keep <= MAX_ROTATION_KEEP) {
                        return new Rotation(maxBytes, keep, every);
                    }
                }
            } catch (NumberFormatException e) {
                // Falls through to the line below.
            }
            System.err.println("kerno: " + ROTATION_PROPERTY + "=\"" + text
                + "\" is not \"maxBytes,keep\" or \"maxBytes,keep,day|hour\" ("
                + MIN_ROTATION_BYTES + ".." + MAX_ROTATION_BYTES + " or 0 with day or hour, 1.."
                + MAX_ROTATION_KEEP + "); the output is not rotated");
            return null;
        }
    }

    /**
     * A day or hour of local time (the VM's default zone, read each time):
     * its label in file names (2026-12-07, 2026-12-07_13) and where it ends.
     */
    static final class Period {
        static final DateTimeFormatter DAY = DateTimeFormatter.ofPattern("yyyy-MM-dd");
        static final DateTimeFormatter HOUR = DateTimeFormatter.ofPattern("yyyy-MM-dd_HH");

        final String label;
        final long endMillis;

        Period(String every, long millis) {
            ZoneId zone = ZoneId.systemDefault();
            ZonedDateTime at = Instant.ofEpochMilli(millis).atZone(zone);
            ZonedDateTime start;
            ZonedDateTime end;
            if (every.equals("hour")) {
                start = at.truncatedTo(ChronoUnit.HOURS);
                end = start.plusHours(1);
                label = HOUR.format(start);
            } else {
                start = at.toLocalDate().atStartOfDay(zone);
                end = at.toLocalDate().plusDays(1).atStartOfDay(zone);
                label = DAY.format(start);
            }
            endMillis = end.toInstant().toEpochMilli();
        }

        /** The label's form in file names, for finding the rotated files. */
        static String labelPattern(String every) {
            return every.equals("hour") ? "\\d{4}-\\d{2}-\\d{2}_\\d{2}" : "\\d{4}-\\d{2}-\\d{2}";
        }
    }

    /**
     * Appends to an output file and, with a rotation, rotates it by size:
     * once the file holds maxBytes, the next line goes to a fresh file, and
     * the full one becomes name.1 (name.1 becomes name.2, and so on; the one
     * past keep is removed). Lines stay whole: the switch happens only at a
     * line end, unless a writer has written twice the limit without one.
     * Every write goes through one lock, so writers on several threads lose
     * nothing and keep their order. A rotation the file system refuses (a
     * file held open elsewhere) leaves the output where it is, says so in the
     * file, and is tried again after another maxBytes.
     *
     * <p>With a time rule ("day" or "hour") the file also turns at the first
     * line start after its day or hour ended, and the old file is named by
     * the period its output belongs to: name.2026-12-07.log (the date goes
     * before the extension), then name.2026-12-07.1.log for the next file of
     * the same day under maxBytes, and so on. Of those dated files the
     * newest keep stay, the older ones are removed. A file found from an
     * earlier run belongs to the period of its last change. A time rotation
     * the file system refuses is tried again a minute later.
     *
     * <p>No name is followed through a link: the file is opened with
     * {@link #openForAppend}, a rotated one is re-created with
     * {@link #createNew}, and the moves of a rotation move names, never what
     * a link points to. The file is written through a channel, opened
     * without following links; an application thread's interrupt, which
     * would close the channel, is set aside for the write and kept.
     */
    static final class OutputFileStream extends OutputStream {
        private final Path file;
        private final long maxBytes;
        private final int keep;
        private final String every;  // null, "day" or "hour"
        private Period period;       // of the output in the open file, with a time rule
        private long nextTimeAttempt;
        private FileChannel out;
        private Path outPath;  // where the open file is now (name.1 after a half-done rotation)
        private long size;
        private long rotateAt;
        private boolean atLineStart = true;

        OutputFileStream(Path file, Rotation rotation) throws IOException {
            this.file = file;
            this.maxBytes = rotation == null || rotation.maxBytes == 0 ? Long.MAX_VALUE : rotation.maxBytes;
            this.keep = rotation == null ? 0 : rotation.keep;
            this.every = rotation == null ? null : rotation.every;
            this.out = openForAppend(file);
            this.outPath = file;
            this.size = out.size();
            this.rotateAt = maxBytes;
            if (every != null) {
                long now = System.currentTimeMillis();
                long changed = size == 0 ? now
                    : Files.getLastModifiedTime(file, LinkOption.NOFOLLOW_LINKS).toMillis();
                period = new Period(every, Math.min(changed, now));
            }
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
                if (keep > 0) {
                    rotateWhenDue();
                }
                writeAll(ByteBuffer.wrap(bytes, start, stop - start));
                size += stop - start;
                atLineStart = bytes[stop - 1] == '\n';
                start = stop;
            }
        }

        private void writeAll(ByteBuffer buffer) throws IOException {
            boolean interrupted = Thread.interrupted();
            try {
                for (int reopened = 0; buffer.hasRemaining();) {
                    try {
                        out.write(buffer);
                    } catch (ClosedByInterruptException e) {
                        // Interrupted during the write: what was written is
                        // counted in the buffer; the rest goes to the file
                        // opened again.
                        Thread.interrupted();
                        interrupted = true;
                        if (++reopened > CREATE_ATTEMPTS) {
                            throw e;
                        }
                        out = FileChannel.open(outPath, StandardOpenOption.WRITE, StandardOpenOption.APPEND,
                            LinkOption.NOFOLLOW_LINKS);
                    }
                }
            } finally {
                if (interrupted) {
                    Thread.currentThread().interrupt();
                }
            }
        }

        private void rotateWhenDue() throws IOException {
            if (every != null && atLineStart) {
                long now = System.currentTimeMillis();
                if (now >= period.endMillis && now >= nextTimeAttempt) {
                    if (size == 0 || rotate()) {
                        period = new Period(every, now);
                    } else {
                        nextTimeAttempt = now + TIME_ROTATION_RETRY_MILLIS;
                    }
                    return;
                }
            }
            if (size >= rotateAt && (atLineStart || size - rotateAt >= maxBytes)) {
                rotate();
            }
        }

        private Path numbered(int n) {
            return Paths.get(file.toString() + "." + n);
        }

        /** name.1 ... name.keep move up by one; the file becomes name.1. */
        private void shiftNumbered() throws IOException {
            for (int n = keep - 1; n >= 1; n--) {
                if (Files.exists(numbered(n), LinkOption.NOFOLLOW_LINKS)) {
                    Files.move(numbered(n), numbered(n + 1), StandardCopyOption.REPLACE_EXISTING);
                    if (numbered(n).equals(outPath)) {
                        outPath = numbered(n + 1);
                    }
                }
            }
            Files.move(file, numbered(1), StandardCopyOption.REPLACE_EXISTING);
            outPath = numbered(1);
        }

        /** The name's parts around the date: "service-output" and ".log". */
        private String[] stemAndExtension() {
            String name = file.getFileName().toString();
            int dot = name.lastIndexOf('.');
            return dot > 0 ? new String[] {name.substring(0, dot), name.substring(dot)}
                : new String[] {name, ""};
        }

        /** The file becomes the first free one of name.label.ext, name.label.1.ext, ... */
        private void moveToDated() throws IOException {
            String[] parts = stemAndExtension();
            for (int n = 0; n <= MAX_SAME_PERIOD; n++) {
                Path target = file.resolveSibling(parts[0] + "." + period.label + (n == 0 ? "" : "." + n) + parts[1]);
                if (Files.exists(target, LinkOption.NOFOLLOW_LINKS)) {
                    continue;
                }
                // Not replacing: a name taken since the look fails the move.
                Files.move(file, target);
                outPath = target;
                return;
            }
            throw new IOException("every name of " + period.label + " for " + file + " is taken");
        }

        /**
         * Removes the dated files beyond the newest keep (by date, then by
         * number). A file that cannot be removed stays until the next
         * rotation tries again.
         */
        private void removeOldDated() {
            String[] parts = stemAndExtension();
            Pattern dated = Pattern.compile(Pattern.quote(parts[0]) + "\\.(" + Period.labelPattern(every)
                + ")(?:\\.([1-9][0-9]{0,3}))?" + Pattern.quote(parts[1]));
            List<String> keys = new ArrayList<>();
            List<Path> found = new ArrayList<>();
            Path dir = file.getParent();
            try (DirectoryStream<Path> entries = Files.newDirectoryStream(dir)) {
                for (Path entry : entries) {
                    Matcher m = dated.matcher(entry.getFileName().toString());
                    if (m.matches()) {
                        // Sortable: the label, then the number in five places.
                        String number = m.group(2) == null ? "00000" : String.format("%05d", Integer.parseInt(m.group(2)));
                        keys.add(m.group(1) + " " + number + " " + keys.size());
                        found.add(entry);
                    }
                }
            } catch (IOException | RuntimeException e) {
                return;
            }
            List<String> order = new ArrayList<>(keys);
            Collections.sort(order);
            for (int i = 0; i + keep < order.size(); i++) {
                String key = order.get(i);
                Path old = found.get(Integer.parseInt(key.substring(key.lastIndexOf(' ') + 1)));
                try {
                    Files.deleteIfExists(old);
                } catch (IOException | RuntimeException e) {
                    // Tried again at the next rotation.
                }
            }
        }

        /** Rotates now; false when the file system refused (said in the file). */
        private boolean rotate() throws IOException {
            IOException failure = null;
            try {
                // Moved while open: the writes go on into the moved file
                // until the new one exists.
                if (every == null) {
                    shiftNumbered();
                } else {
                    moveToDated();
                }
                FileChannel fresh = createNew(file);
                out.close();
                out = fresh;
                outPath = file;
                size = 0;
            } catch (IOException e) {
                failure = e;
            }
            rotateAt = failure == null || maxBytes == Long.MAX_VALUE ? maxBytes : size + maxBytes;
            if (failure != null) {
                byte[] line = ("kerno: cannot rotate " + file + " (" + failure
                    + "); writing on in " + outPath + "\n").getBytes("UTF-8");
                writeAll(ByteBuffer.wrap(line));
                size += line.length;
                atLineStart = true;
                return false;
            }
            if (every != null) {
                removeOldDated();
            }
            return true;
        }

        @Override
        public synchronized void flush() {
            // Nothing is buffered here.
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
            Throwable thrown;
            try {
                main.invoke(null, (Object) args);
                return;
            } catch (InvocationTargetException e) {
                thrown = e.getCause();
            } catch (IllegalAccessException e) {
                thrown = new IllegalStateException(e);
            }
            mainFailure = thrown;
            Thread self = Thread.currentThread();
            if (Thread.getDefaultUncaughtExceptionHandler() != null
                || self.getUncaughtExceptionHandler() != self.getThreadGroup()) {
                // The application chose who hears of it.
                WinLauncher.<RuntimeException>rethrow(thrown);
            }
            // As the java command shows it, header and trace both on
            // System.err, which is the redirected file when there is one.
            synchronized (System.err) {
                System.err.print("Exception in thread \"" + self.getName() + "\" ");
                thrown.printStackTrace(System.err);
            }
        }
    }

    /** Throws the application's own exception unwrapped, checked or not. */
    @SuppressWarnings("unchecked")
    static <T extends Throwable> void rethrow(Throwable thrown) throws T {
        throw (T) thrown;
    }
}
