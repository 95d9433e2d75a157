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
        exe = self.pack(BASE)
        for args in ([], ["/INSTALL"], ["//install"], ["install"], ["/bogus", "Other"]):
            with self.subTest(args=args):
                r = self.run_exe(exe, *args)
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
        for value in ("yes ", "YES", "1"):
            with self.subTest(value=value):
                r = self.run_exe(exe, env={"KERNO_LOG": value, "BRINDLE_LOG": value})
                self.assertEqual((r.rc, r.err), (1, INTERNAL_16 + "\n"), r)


class DamagedBlock(LauncherTest):
    """A block that cannot be read is reported in a message box, even when
    key 107 asks for console messages, with its fixed text; the caption is
    key 1000 when that record came before the damage, else empty."""

    def damaged(self, change):
        exe = self.pack(dict(BASE, records={"108": "x" * 40}))
        data = bytearray(exe.read_bytes())
        start = block_offset(data)
        exe.write_bytes(bytes(change(data, start)))
        return exe

    def expect_box(self, exe, text, stdout="^$", caption=""):
        r = self.run_exe(exe, relay=True)
        self.assertEqual(r.rc, 1, r)
        self.assertEqual(message_boxes(r), [(text, caption, MB_ICONERROR)], r)
        self.assertRegex(r.out, stdout)

    def test_wrong_magic(self):
        def change(d, s):
            d[s] ^= 0xFF
            return d
        self.expect_box(self.damaged(change), "Internal Error: magic")

    def test_counts_and_lengths_the_file_cannot_hold(self):
        def huge_count(d, s):
            # The wide count: past the real records only zero padding
            # follows, read as empty records until an integer comes short.
            pos, count = s + 8, struct.unpack_from("<i", d, s + 4)[0]
            for _ in range(count):
                pos += 8 + struct.unpack_from("<i", d, pos + 4)[0]
            struct.pack_into("<i", d, pos, 0x7FFFFFFF)
            return d

        def huge_length(d, s):
            struct.pack_into("<i", d, s + 12, 0x7FFFFFF0)  # first record's length
            return d

        def negative_length(d, s):
            struct.pack_into("<i", d, s + 12, -5)
            return d
        self.expect_box(self.damaged(huge_count), "Internal Error: readInt", r"^error \d+\n$",
                        caption="Error")
        self.expect_box(self.damaged(huge_length), "Internal Error: readString")
        self.expect_box(self.damaged(negative_length), "Internal Error: readString")

    def test_block_cut_short(self):
        def cut_in_first_text(d, s):
            return d[:s + 16 + 2]

        def cut_in_count(d, s):
            return d[:s + 6]

        self.expect_box(self.damaged(cut_in_first_text), "Internal Error: readString")
        self.expect_box(self.damaged(cut_in_count), "Internal Error: readInt", r"^error \d+\n$")

    def test_wide_text_cut_short(self):
        exe = self.pack(dict(BASE, serviceDescription="A description"))
        data = exe.read_bytes()
        end = data.index("A description".encode("utf-16le")) + 6
        exe.write_bytes(data[:end])
        self.expect_box(exe, "Internal Error: readWString", caption="Error")


if __name__ == "__main__":
    unittest.main()
