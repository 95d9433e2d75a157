"""Start-up as seen from outside: command words and exit codes, messages on
standard error or in message boxes, the diagnostic log, damaged blocks."""

import re
import struct
import unittest

from harness import LauncherTest, block_offset, message_boxes, windows_to_unix

BASE = {"serviceName": "KernoE2E", "executableType": 3}
INTERNAL_16 = "An internal error occurred (error code: 16)"
MB_ICONERROR = 0x10


class CommandWords(LauncherTest):
    def test_without_a_known_word_the_dispatcher_fails_and_the_process_exits_silently(self):
        # Which spellings are words is the unit tier's (config_test).
        r = self.run_exe(self.pack(BASE), "/bogus", "Other")
        self.assertEqual((r.rc, r.out, r.err), (0, "", ""), r)


class Messages(LauncherTest):
    def failing(self, **extra):
        # An included-file name with a path separator makes start-up fail
        # with internal error 16: the launcher writes nothing outside its
        # extraction directory. The packer refuses such a name, so the count
        # and the name are patched in afterwards.
        exe = self.pack(dict(BASE, includedFileNames="a.jar;b.jar", **extra))
        data = exe.read_bytes()
        record = struct.pack("<ii", 2002, 1)
        at = data.index(record + b"0", block_offset(data))
        data = data[:at + 8] + b"2" + data[at + 9:]
        at = data.index(b"a.jar;b.jar", block_offset(data))
        exe.write_bytes(data[:at] + b"a/jar;b.jar" + data[at + 11:])
        return exe

    def test_console_message_on_stderr_with_exit_code_1(self):
        r = self.run_exe(self.failing())
        self.assertEqual((r.rc, r.out, r.err), (1, "", INTERNAL_16 + "\n"), r)

    def test_message_box_mode_shows_the_text_with_the_configured_caption(self):
        for kind in (1, 5):
            with self.subTest(executableType=kind):
                exe = self.failing(executableType=kind, MSG_ERROR_CAPTION="My Caption")
                r = self.run_exe(exe, relay=True)
                self.assertEqual(r.rc, 1, r)
                self.assertEqual(r.err, "")
                self.assertEqual(message_boxes(r), [(INTERNAL_16, "My Caption", MB_ICONERROR)])

    def test_absent_message_key_gives_an_empty_line(self):
        r = self.run_exe(self.failing(MSG_INTERNAL_ERROR=None))
        self.assertEqual((r.rc, r.err), (1, "\n"), r)

    def test_log_path_follows_the_message_and_the_log_starts_with_its_header(self):
        exe = self.failing()
        for env in ({"KERNO_LOG": "yes"}, {"BRINDLE_LOG": "yes", "KERNO_LOG": "no"}):
            with self.subTest(env=env):
                r = self.run_exe(exe, env=env)
                self.assertEqual(r.rc, 1, r)
                m = re.fullmatch(re.escape(INTERNAL_16) + r"\n\nLog: (.+)\n", r.err)
                self.assertTrue(m, r)
                log_path = m.group(1)
                self.assertIn("brd_nlog_", log_path)
                text = windows_to_unix(log_path).read_bytes().decode("cp1252")
                lines = text.split("\r\n")
                self.assertRegex(lines[0], r"^Started executable [A-Za-z]:\\.*svc\.exe at "
                                 r"\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$")
                self.assertEqual(lines[1:4], ["", "extracting files", "Included files: 2"])

    def test_log_stays_off_unless_the_value_is_exactly_yes(self):
        exe = self.failing()
        # Which values switch it on is the unit tier's (isLogSwitchOn).
        r = self.run_exe(exe, env={"KERNO_LOG": "YES", "BRINDLE_LOG": "YES"})
        self.assertEqual((r.rc, r.err), (1, INTERNAL_16 + "\n"), r)


class DamagedBlock(LauncherTest):
    """A block that cannot be read is reported in a message box, even when
    key 107 asks for console messages, with its fixed text; the caption is
    key 1000 when that record came before the damage, else empty. Which
    damage gives which text is the unit tier's (config_test)."""

    def test_a_damaged_block_shows_its_text_in_a_box(self):
        def wrong_magic(d, s):
            d[s] ^= 0xFF
            return d

        def huge_count(d, s):
            # The wide count: past the real records only zero padding
            # follows, read as empty records until an integer comes short.
            pos, count = s + 8, struct.unpack_from("<i", d, s + 4)[0]
            for _ in range(count):
                pos += 8 + struct.unpack_from("<i", d, pos + 4)[0]
            struct.pack_into("<i", d, pos, 0x7FFFFFFF)
            return d
        # (damage, text, standard output, caption)
        cases = [(wrong_magic, "Internal Error: magic", "^$", ""),
                 (huge_count, "Internal Error: readInt", r"^error \d+\n$", "Error")]
        for change, text, stdout, caption in cases:
            with self.subTest(damage=change.__name__):
                exe = self.pack(dict(BASE, records={"108": "x" * 40}))
                data = bytearray(exe.read_bytes())
                exe.write_bytes(bytes(change(data, block_offset(data))))
                r = self.run_exe(exe, relay=True)
                self.assertEqual(r.rc, 1, r)
                self.assertEqual(message_boxes(r), [(text, caption, MB_ICONERROR)], r)
                self.assertRegex(r.out, stdout)


if __name__ == "__main__":
    unittest.main()
