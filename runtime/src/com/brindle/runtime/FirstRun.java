package com.brindle.runtime;

/**
 * The first-run hook of the brindle flavour. The launcher calls {@link #firstRun()}
 * before {@code WinLauncher.main} when the installation directory holds the
 * marker {@code .brindle\firstrun}; false means that the application is not
 * started this time (the service still counts as started).
 *
 * <p>An application declares that it must not start on its first run with the
 * system property {@code kerno.firstRun=false}, given as a VM parameter of its
 * configuration or in the VM options file. Without it the hook lets the start
 * go on. The hook neither creates nor removes the marker.
 */
public final class FirstRun {
    /** The property through which an application declares its first-run answer. */
    public static final String PROPERTY = "kerno.firstRun";

    private FirstRun() {
    }

    /** True unless the property {@code kerno.firstRun} is "false" (any letter case). */
    public static boolean firstRun() {
        String declared = System.getProperty(PROPERTY);
        return declared == null || !declared.trim().equalsIgnoreCase("false");
    }
}
