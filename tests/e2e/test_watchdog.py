"""The watchdog end to end: /threaddump against a running service (the file,
the service's record of it, the log line, the rate limit), a dump directory
that others can write refused, a tcpSocket liveness probe that trips when its
port closes, and a startup probe that holds the start until its port opens.

The Java side is the stand-in jvm.dll (tests/standins): its
ThreadDumps.dump answers a short fixed dump. The ports are this test's own,
chosen at run time and served by a listener in this process (which Wine
cannot tell from the service's own: it names no owner of a socket).

This module boots a Wine prefix of its own (KERNO_LOG=yes, the event log's
and the service manager's calls in the trace) and uses the helpers of
test_service_run with it."""

import os
import re
import socket
import threading
import time
import unittest

import harness
import test_service_run as base
from harness import sends_a_control
from service_support import RUNNING, STOPPED, PrivateSession, reported_statuses, wait_until

base.SESSION = SESSION = PrivateSession(
    "watchdog", {"KERNO_LOG": "yes"},
    relay_include="user32.MessageBoxA;advapi32.RegisterEventSourceW;advapi32.ReportEventW",
    channels=",+eventlog,+service")
START_PENDING = 2
ERROR_SERVICE_SPECIFIC_ERROR = 1066
EXIT_LIVENESS_FAILED = 1101
EXIT_NEVER_READY = 1102
# Short periods: the whole module stays within a few minutes.
FAST = {"periodSeconds": 1, "timeoutSeconds": 1}


def setUpModule():
    base.setUpModule()


def tearDownModule():
    base.tearDownModule()


class Listener:
    """A TCP listener on a free port of 127.0.0.1 that answers every
    connection as a healthy HTTP server would (a bare connection of a
    tcpSocket check just ends) and keeps the request lines it got."""

    def __init__(self, port=0):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", port))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.requests = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(5)
                try:
                    request = conn.recv(1024)
                    if request:
                        self.requests.append(request.split(b"\r\n")[0])
                        conn.sendall(b"HTTP/1.0 204 No Content\r\n\r\n")
                except OSError:
                    pass

    def close(self):
        self.sock.close()


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def service_exit_code(out):
    found = re.search(r"SERVICE_EXIT_CODE\s*:\s*(\d+)", out)
    return int(found.group(1)) if found else None


@sends_a_control
class Watchdog(base.ServiceRunTest):
    def test_threaddump_writes_a_private_file_once_per_ten_seconds(self):
        self.runtime("main=return")
        exe = self.service(eventLog=True)  # thread dumps are on by default (code 200)
        self.install(exe)
        self.start()
        wait_until(lambda: any(l.startswith("thread dumps on control code 200") for l in self.log()),
                   "the dump worker", base.STATE_TIMEOUT, processes=self.dir.name)
        rc, out = self.command(exe, "/threaddump")
        logs = self.dir / "logs"
        dumps = sorted(logs.glob(f"threaddump-{self.name}-*.txt"))
        self.assertEqual(len(dumps), 1, (rc, out))
        self.assertEqual(rc, 0, out)
        # The directory as the launcher names it (perhaps in short form).
        self.assertRegex(out, rf"^Thread dump of service '{self.name}' written to [A-Za-z]:\\.*\\"
                              rf"{re.escape(dumps[0].name)}\n$")
        wait_until(lambda: "Full thread dump" in dumps[0].read_text(), "the dump's text")
        line = f"Thread dump of service {self.name} written to "
        self.assertTrue(any(l.startswith(line) and l.endswith(dumps[0].name) for l in self.log()), self.log())
        self.assertIn(line, " ".join(e[2] or "" for e in self.events()))
        # A second request within ten seconds: a polite refusal, no file.
        rc, out = self.command(exe, "/threaddump")
        self.assertEqual(rc, 1, out)
        self.assertRegex(out, r"^A thread dump of service '.*' was written \d+ seconds ago .*please try again in \d+ seconds\.\n$")
        self.assertEqual(len(list(logs.glob("threaddump-*.txt"))), 1)
        self.assertEqual((logs / f"threaddump-{self.name}.last").read_text(), dumps[0].name)
        self.stop_cleanly(exe)

    def test_a_dump_directory_that_others_can_write_is_refused(self):
        self.runtime("main=return")
        exe = self.service(eventLog=True)
        logs = self.dir / "logs"
        logs.mkdir()
        os.chmod(logs, 0o777)  # Wine shows Everyone with write access
        # A planted dump name, and a record naming it.
        planted = logs / f"threaddump-{self.name}-99991231-235959-999.txt"
        planted.write_text("planted")
        (logs / f"threaddump-{self.name}.last").write_text(planted.name)
        self.install(exe)
        self.start()
        wait_until(lambda: any(l.startswith("thread dumps on control code 200") for l in self.log()),
                   "the dump worker", base.STATE_TIMEOUT, processes=self.dir.name)
        rc, out = self.command(exe, "/threaddump")
        self.assertEqual(rc, 1, out)
        self.assertRegex(out, rf"^No thread dump of service '{self.name}': .*logs is not the service's own: "
                              r"others can add or remove files there \(.*S-1-1-0.*\)\.\n$")
        self.assertEqual(sorted(p.name for p in logs.iterdir()), sorted([planted.name, f"threaddump-{self.name}.last"]))
        self.stop_cleanly(exe)

    def test_a_tcp_liveness_probe_whose_port_closes_trips_the_watchdog(self):
        listener = Listener()
        self.addCleanup(listener.close)
        self.runtime("main=return")
        exe = self.service(eventLog=True, onLivenessFailure={"threadDumps": 1},
                           livenessProbe=dict(FAST, tcpSocket={"port": listener.port},
                                              httpGet={"port": listener.port, "path": "/health?deep=1"},
                                              initialDelaySeconds=0, failureThreshold=2))
        self.install(exe)
        self.start()
        self.wait_launched()
        time.sleep(3)  # a few healthy probes, each a connection and an HTTP request
        self.assertEqual(self.status(), (RUNNING, 0))
        self.assertIn(b"GET /health?deep=1 HTTP/1.0", listener.requests)
        listener.close()
        self.assertEqual(self.wait_stopped(), (STOPPED, ERROR_SERVICE_SPECIFIC_ERROR))
        _, out = SESSION.wine("sc", "query", self.name)
        self.assertEqual(service_exit_code(out), EXIT_LIVENESS_FAILED, out)
        texts = [e[2] or "" for e in self.events() if e[0] == "error"]
        self.assertTrue(any(f"tcpSocket 127.0.0.1:{listener.port}" in t for t in texts), texts)
        # The configured dump was written before the end.
        self.assertEqual(len(list((self.dir / "logs").glob(f"threaddump-{self.name}-*.txt"))), 1)

    def test_a_startup_probe_holds_the_start_until_its_port_opens(self):
        port = free_port()
        self.runtime("main=return")
        exe = self.service(startupProbe=dict(FAST, tcpSocket={"port": port}, failureThreshold=600))
        self.install(exe)
        self.start()
        self.wait_launched()
        time.sleep(2)
        self.assertEqual(self.status(), (START_PENDING, 0))
        listener = Listener(port)
        self.addCleanup(listener.close)
        self.wait_state(lambda state: state == RUNNING)
        # Start pending with a rising checkpoint, then running.
        reported = [(s, c) for s, _, c in reported_statuses(SESSION.trace_since(self.trace_offset))
                    if s in (START_PENDING, RUNNING)]
        pending = [c for s, c in reported if s == START_PENDING]
        self.assertGreaterEqual(len(pending), 2, reported)
        self.assertEqual(pending, sorted(pending), reported)
        self.stop_cleanly(exe)

    def test_a_start_that_never_becomes_ready_fails(self):
        port = free_port()  # nobody listens there
        self.runtime("main=return")
        exe = self.service(eventLog=True, startupProbe=dict(FAST, tcpSocket={"port": port}, failureThreshold=2))
        self.install(exe)
        self.start()
        self.assertEqual(self.wait_stopped(), (STOPPED, ERROR_SERVICE_SPECIFIC_ERROR))
        _, out = SESSION.wine("sc", "query", self.name)
        self.assertEqual(service_exit_code(out), EXIT_NEVER_READY, out)
        texts = [e[2] or "" for e in self.events() if e[0] == "error"]
        self.assertTrue(any(t.startswith(f"Startup probe failed (tcpSocket 127.0.0.1:{port}: ") for t in texts), texts)
        # Never reported running. (The trace is the prefix's: Wine's own
        # services, started on demand meanwhile, report running there too,
        # so only what follows this service's first start pending counts.)
        states = [s for s, _, _ in reported_statuses(SESSION.trace_since(self.trace_offset))]
        self.assertIn(START_PENDING, states)
        self.assertNotIn(RUNNING, states[states.index(START_PENDING):])


if __name__ == "__main__":
    unittest.main()
