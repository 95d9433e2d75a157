package com.example.demo;

import java.time.Instant;

/**
 * The example service's application: says when it starts, writes a heartbeat
 * line every ten seconds and says when it stops. The launcher's Java side
 * sends its standard output to logs\service-output.log beside the executable.
 */
public final class DemoService {
  private static final long HEARTBEAT_MILLIS = 10_000;

  private DemoService() {}

  public static void main(String[] args) throws InterruptedException {
    System.out.println(Instant.now() + " KernoDemo started");
    Runtime.getRuntime()
        .addShutdownHook(new Thread(() -> System.out.println(Instant.now() + " KernoDemo stopping")));
    for (long beat = 1; ; ++beat) {
      Thread.sleep(HEARTBEAT_MILLIS);
      System.out.println(Instant.now() + " KernoDemo heartbeat " + beat);
    }
  }
}
