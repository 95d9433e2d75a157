package com.kerno.testapp;

/** A class without a main method. */
public final class NoMain {
    private NoMain() {
    }

    public static void run(String[] args) {
    }
}
