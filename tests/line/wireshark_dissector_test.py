"""The Wireshark dissector under tshark on a capture pelvarctl wrote while
talking to the simulated board: each frame's direction, command, meaning,
result and pairing, in the traffic pane's words.

usage: wireshark_dissector_test.py PELVARCTL PELVAR_SIM DISSECTOR
"""

import fcntl
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

PELVARCTL = PELVAR_SIM = DISSECTOR = None
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "samples", "session.pcapng")

SCRIPT = "set brightness 200\nreg write 0x0010 0xbeef\nreg read 0x0010\n"

FIELDS = ["frame.number", "pelvar.direction", "pelvar.command", "pelvar.meaning", "pelvar.result",
          "pelvar.request_in", "pelvar.payload", "pelvar.checksum_ok"]


def block(kind, body):
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)


def write_capture(path, frames):
    """A pcapng as pelvar writes it: `frames` are (sent, bytes), 1 ms apart."""
    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    out += block(1, struct.pack("<HHI", 147, 0, 0))  # DLT_USER0
    for i, (sent, data) in enumerate(frames):
        us = 1_700_000_000_000_000 + i * 1000
        body = struct.pack("<IIIII", 0, us >> 32, us & 0xFFFFFFFF, len(data), len(data)) + bytes(data)
        body += b"\0" * (-len(body) % 4)
        body += struct.pack("<HHIHH", 2, 4, 2 if sent else 1, 0, 0)  # epb_flags: outbound or inbound
        out += block(6, body)
    with open(path, "wb") as f:
        f.write(out)


STATUS = [0x02, 0x02, 0x00, 0x00, 0x03]
INIT = [0x02, 0x02, 0x70, 0x70, 0x03]


def option(code, value):
    return struct.pack("<HH", code, len(value)) + value + b"\0" * (-len(value) % 4)


def write_pcapng(path, interfaces, packets):
    """interfaces: names; packets: (interface, outbound, "02 04 ...") one ms apart; an
    outbound of None is noise."""
    data = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    for name in interfaces:
        data += block(1, struct.pack("<HHI", 147, 0, 0) + option(2, name.encode()) + option(0, b""))
    for i, (interface, outbound, text) in enumerate(packets):
        frame = bytes.fromhex(text)
        us = 1700000000000000 + i * 1000
        body = struct.pack("<IIIII", interface, us >> 32, us & 0xFFFFFFFF, len(frame), len(frame))
        body += frame + b"\0" * (-len(frame) % 4)
        if outbound is None:
            body += option(1, b"noise")
        body += option(2, struct.pack("<I", 2 if outbound else 1)) + option(0, b"")
        data += block(6, body)
    with open(path, "wb") as f:
        f.write(data)


class DissectorTest(unittest.TestCase):
    def capture(self, tmp, *args, stdin=None):
        ports = os.path.join(tmp, "ports")
        os.mkdir(ports, 0o700)
        env = dict(os.environ, PELVAR_PORTS_DIR=ports)
        sim = subprocess.Popen([PELVAR_SIM, "--com", "231"] + list(args), env=env,
                               stdout=subprocess.PIPE, text=True)
        try:
            self.assertTrue(sim.stdout.readline().startswith("COM231 "))
            path = os.path.join(tmp, "session.pcapng")
            ctl = subprocess.run([PELVARCTL, "--port", "231", "--capture", path, "run", "-"], env=env,
                                 input=stdin, capture_output=True, text=True, timeout=60)
        finally:
            sim.terminate()
            sim.wait(timeout=30)
            sim.stdout.close()
        return ctl, path

    def capture_boards(self, tmp, coms, *args):
        ports = os.path.join(tmp, "ports")
        os.mkdir(ports, 0o700)
        env = dict(os.environ, PELVAR_PORTS_DIR=ports)
        sims = []
        try:
            for com in coms:
                sims.append(subprocess.Popen([PELVAR_SIM, "--com", str(com)], env=env, stdout=subprocess.PIPE,
                                             text=True))
                self.assertTrue(sims[-1].stdout.readline().startswith("COM%d " % com))
            path = os.path.join(tmp, "boards.pcapng")
            ctl = subprocess.run([PELVARCTL, "--port", ",".join(str(c) for c in coms), "--capture", path]
                                 + list(args), env=env, capture_output=True, text=True, timeout=60)
        finally:
            for sim in sims:
                sim.terminate()
                sim.wait(timeout=30)
                sim.stdout.close()
        return ctl, path

    def dissect(self, path, fields=FIELDS, two_pass=False, display_filter=None):
        cmd = ["tshark", "-X", "lua_script:" + DISSECTOR, "-r", path, "-T", "fields", "-E", "separator=|"]
        if two_pass:
            # The read filter gives the first pass the fields the pairing reads.
            cmd += ["-2", "-R", "pelvar"]
        if display_filter:
            cmd += ["-Y", display_filter]
        for f in fields:
            cmd += ["-e", f]
        out = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertNotIn("Lua: Error", out.stderr)
        return out.stdout.splitlines()

    def test_a_session_reads_as_the_traffic_pane_with_requests_paired(self):
        with tempfile.TemporaryDirectory() as tmp:
            ctl, path = self.capture(tmp, stdin=SCRIPT)
            self.assertEqual(ctl.returncode, 0, ctl.stderr)
            rows = self.dissect(path)
        self.assertEqual(rows, [
            "1|0|status|status||||1",
            "2|1|status|status 0x00: not started|LINK_OK|1|00|1",
            "3|0|brightness|brightness 200|||c8 00 00 00|1",
            "4|1|brightness|brightness 200|LINK_OK|3|06 00 00 00|1",
            "5|0|reg_address|reg address 0x0010|||10 00|1",
            "6|1|reg_address|reg address 0x0010|LINK_OK|5|06 00 00 00|1",
            "7|0|reg_write|reg 0x0010 = 0xbeef|||ef be|1",
            "8|1|reg_write|reg 0x0010 = 0xbeef|LINK_OK|7|06 00 00 00|1",
            "9|0|reg_address|reg address 0x0010|||10 00|1",
            "10|1|reg_address|reg address 0x0010|LINK_OK|9|06 00 00 00|1",
            "11|0|reg_read|reg 0x0010 read||||1",
            "12|1|reg_read|reg 0x0010 reads 0xbeef|LINK_OK|11|ef be|1",
        ])

    def test_each_verdict_on_the_bytes_a_read_took_as_pelvar_comes_to_it(self):
        rows = [
            (INIT, [0x02, 0x03, 0x70, 0x06, 0x77, 0x03], "LINK_OK"),
            (INIT, [0x02, 0x03, 0x70, 0x15, 0x64, 0x03], "LINK_ERR_NAK"),
            (INIT, [0x02, 0x03, 0x70, 0x06, 0x77, 0x03, 0x02], "LINK_OK"),  # bytes after the frame stay out
            (STATUS, [0x02, 0x04, 0x00, 0x11, 0x00, 0x17, 0x03], "LINK_ERR_NO_REPLY"),  # longer than the room
            (STATUS, [0x02, 0x03, 0x00, 0x11, 0x10, 0x04], "LINK_ERR_NO_REPLY"),  # wrong end byte
            (STATUS, [0x02, 0x03, 0x00, 0x11, 0x11, 0x03], "LINK_ERR_CHECKSUM"),
            (INIT, [0x02, 0x01, 0x03, 0x03], "LINK_ERR_REPLY_TOO_LONG"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "verdicts.pcapng")
            write_capture(path, [f for request, reply, _ in rows for f in ((True, request), (False, reply))])
            results = [r.split("|")[4] for r in self.dissect(path)[1::2]]
        self.assertEqual(results, [verdict for _, _, verdict in rows])

    def test_several_boards_read_each_under_its_port(self):
        with tempfile.TemporaryDirectory() as tmp:
            script = os.path.join(tmp, "script.txt")
            with open(script, "w") as f:
                f.write("reg write 0x0010 0xbeef\nreg read 0x0010\n")
            ctl, path = self.capture_boards(tmp, [232, 233], "run", script)
            self.assertEqual(ctl.returncode, 0, ctl.stderr)
            rows = self.dissect(path, ["frame.number", "frame.interface_name", "pelvar.port", "pelvar.direction",
                                       "pelvar.meaning", "pelvar.result", "pelvar.request_in", "_ws.col.Info"])
        # The boards ran at once: their frames may interleave, each board's
        # in order and paired among themselves.
        by_port = {}
        port_of = {}
        for row in rows:
            number, interface, port, direction, meaning, result, request_in, info = row.split("|")
            port_of[number] = port
            if request_in:
                self.assertEqual(port_of[request_in], port, row)
            self.assertEqual(info.split(": ")[0], port, row)
            by_port.setdefault(interface, []).append("|".join([port, direction, meaning, result]))
        for port in ["COM232", "COM233"]:
            self.assertEqual(by_port.get(port), [
                port + "|0|status|",
                port + "|1|status 0x00: not started|LINK_OK",
                port + "|0|reg address 0x0010|",
                port + "|1|reg address 0x0010|LINK_OK",
                port + "|0|reg 0x0010 = 0xbeef|",
                port + "|1|reg 0x0010 = 0xbeef|LINK_OK",
                port + "|0|reg address 0x0010|",
                port + "|1|reg address 0x0010|LINK_OK",
                port + "|0|reg 0x0010 read|",
                port + "|1|reg 0x0010 reads 0xbeef|LINK_OK",
            ], port)
        self.assertEqual(sorted(by_port), ["COM232", "COM233"])

    def test_interleaved_boards_pair_and_latch_each_on_its_own(self):
        # COM7 latches 0x0010 and COM8 0x0020 before either has answered;
        # COM7 then reads its register.
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "boards.pcapng")
            write_pcapng(path, ["COM7", "COM8"], [
                (0, True, "02 04 A5 10 00 B3 03"),
                (1, True, "02 04 A5 20 00 83 03"),
                (0, False, "02 06 A5 06 00 00 00 A7 03"),
                (1, False, "02 06 A5 06 00 00 00 A7 03"),
                (0, True, "02 02 24 24 03"),
                (0, False, "02 04 24 EF BE 73 03"),
            ])
            rows = self.dissect(path, ["frame.number", "pelvar.port", "pelvar.meaning", "pelvar.result",
                                       "pelvar.request_in"])
        self.assertEqual(rows, [
            "1|COM7|reg address 0x0010||",
            "2|COM8|reg address 0x0020||",
            "3|COM7|reg address 0x0010|LINK_OK|1",
            "4|COM8|reg address 0x0020|LINK_OK|2",
            "5|COM7|reg 0x0010 read||",
            "6|COM7|reg 0x0010 reads 0xbeef|LINK_OK|5",
        ])

    def test_corrupt_replies_are_flagged_and_retried(self):
        with tempfile.TemporaryDirectory() as tmp:
            ctl, path = self.capture(tmp, "--corrupt", stdin="set brightness 1\n")
            rows = self.dissect(path)
        self.assertNotEqual(ctl.returncode, 0)
        # A query is not repeated: the connect's status fails at once.
        self.assertEqual(rows, [
            "1|0|status|status||||1",
            "2|1|status|status|LINK_ERR_CHECKSUM|1|00|0",
        ])

    def test_the_sample_capture_reads_with_its_links_as_the_line_page_shows(self):
        rows = self.dissect(SAMPLE, ["frame.number", "pelvar.port", "pelvar.meaning", "pelvar.result",
                                     "pelvar.request_in", "pelvar.reply_in", "_ws.col.Info"], two_pass=True)
        # Response times differ each time the sample is made.
        rows = [re.sub(r"  [0-9]+ ms$", "", row) for row in rows]
        self.assertEqual(rows, [
            "1||status|||2|> status",
            "2||status 0x00: not started|LINK_OK|1||< status 0x00: not started  LINK_OK",
            "3||brightness 200|||4|> brightness 200",
            "4||brightness 200|LINK_OK|3||< brightness 200  LINK_OK",
            "5||reg address 0x0010|||6|> reg address 0x0010",
            "6||reg address 0x0010|LINK_OK|5||< reg address 0x0010  LINK_OK",
            "7||reg 0x0010 = 0xbeef|||8|> reg 0x0010 = 0xbeef",
            "8||reg 0x0010 = 0xbeef|LINK_OK|7||< reg 0x0010 = 0xbeef  LINK_OK",
            "9||reg address 0x0010|LINK_ERR_NO_REPLY|||> reg address 0x0010  LINK_ERR_NO_REPLY",
            "10||reg address 0x0010|||11|> reg address 0x0010",
            "11||reg address 0x0010|LINK_OK|10||< reg address 0x0010  LINK_OK",
            "12||reg 0x0010 read|||13|> reg 0x0010 read",
            "13||reg 0x0010 reads 0xbeef|LINK_OK|12||< reg 0x0010 reads 0xbeef  LINK_OK",
        ])

    def test_a_request_without_a_reply_reads_as_no_reply_and_unlatches(self):
        # COM7's second latch goes unanswered: the read after it names no
        # register; the capture ends on a status nobody answers.
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "lost.pcapng")
            write_pcapng(path, ["COM7"], [
                (0, True, "02 04 A5 10 00 B3 03"),
                (0, False, "02 06 A5 06 00 00 00 A7 03"),
                (0, True, "02 04 A5 20 00 83 03"),
                (0, True, "02 02 24 24 03"),
                (0, False, "02 04 24 EF BE 73 03"),
                (0, True, "02 02 00 00 03"),
            ])
            fields = ["frame.number", "pelvar.meaning", "pelvar.result", "pelvar.request_in", "pelvar.reply_in",
                      "_ws.expert.message"]
            rows = self.dissect(path, fields, two_pass=True)
            lost = self.dissect(path, ["frame.number"], two_pass=True, display_filter='pelvar.result != "LINK_OK"')
        self.assertEqual(rows, [
            "1|reg address 0x0010|||2|",
            "2|reg address 0x0010|LINK_OK|1||",
            "3|reg address 0x0020|LINK_ERR_NO_REPLY|||Request without a reply",
            "4|reg ? read|||5|",
            "5|reg ? reads 0xbeef|LINK_OK|4||",
            "6|status|LINK_ERR_NO_REPLY|||Request without a reply",
        ])
        self.assertEqual(lost, ["3", "6"])

    def test_noise_is_shown_as_noise_and_never_taken_for_a_reply(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "noise.pcapng")
            write_pcapng(path, ["COM7"], [
                (0, True, "02 02 70 70 03"),
                (0, None, "FF 02 03 70 06 77"),
                (0, False, "02 03 70 06 77 03"),
                (0, None, "FF"),
            ])
            rows = self.dissect(path, ["frame.number", "pelvar.noise", "pelvar.meaning", "pelvar.result",
                                       "pelvar.request_in", "_ws.col.Info"], two_pass=True)
        self.assertEqual(rows, [
            "1||init|||COM7: > init",
            "2|ff 02 03 70 06 77||||COM7: noise FF 02 03 70 06 77",
            "3||init|LINK_OK|1|COM7: < init  LINK_OK  2 ms",
            "4|ff||||COM7: noise FF",
        ])

    def test_bytes_the_link_dropped_are_noise_in_its_capture(self):
        # The stray byte comes in the read that holds the reply: the host
        # takes no reply from it, nor the dissector.
        with tempfile.TemporaryDirectory() as tmp:
            ctl, path = self.capture(tmp, "--garbage", stdin="set brightness 1\n")
            rows = self.dissect(path, ["frame.number", "frame.comment", "pelvar.meaning", "pelvar.result",
                                       "pelvar.request_in", "pelvar.noise"], two_pass=True)
        self.assertNotEqual(ctl.returncode, 0)
        self.assertEqual(rows[0], "1||status|LINK_ERR_NO_REPLY||")
        self.assertGreater(len(rows), 1)
        for row in rows[1:]:
            number, comment, meaning, result, request_in, noise = row.split("|")
            self.assertEqual([comment, meaning, result, request_in], ["noise", "", "", ""], row)
        # The reply's read: the stray byte, then the reply, its end in the next read.
        self.assertEqual(" ".join(r.split("|")[5] for r in rows[1:]), "00 02 03 00 00 01 03")

    def test_a_monitored_session_keeps_its_noise_as_noise(self):
        with tempfile.TemporaryDirectory() as tmp:
            ports = os.path.join(tmp, "ports")
            os.mkdir(ports, 0o700)
            master, slave = os.openpty()
            os.symlink(os.ttyname(slave), os.path.join(ports, "COM210"))
            path = os.path.join(tmp, "monitor.pcapng")
            monitor = subprocess.Popen([PELVARCTL, "--port", "210", "--capture", path, "monitor"],
                                       env=dict(os.environ, PELVAR_PORTS_DIR=ports), stdout=subprocess.PIPE,
                                       text=True)
            try:
                self.wait_raw(slave)
                self.send(master, slave, "02 02 00 00 03 02 03 00 11 10 03")
                self.send(master, slave, "FF 00 FF")
                self.send(master, slave, "02 02 F0 F0 03")
                # The release goes unanswered: it is out once the monitor stops waiting.
                while "release" not in monitor.stdout.readline():
                    pass
                self.send(master, slave, "FF 00 FF")
                # Out once the line has been quiet for the frame gap: Ctrl-C
                # before then would race the read that holds it.
                while "garbage" not in monitor.stdout.readline():
                    pass
            finally:
                monitor.send_signal(signal.SIGINT)
                monitor.communicate(timeout=30)
                os.close(master)
                os.close(slave)
            self.assertEqual(monitor.returncode, 0)
            rows = self.dissect(path, ["frame.number", "pelvar.noise", "pelvar.meaning", "pelvar.result",
                                       "pelvar.request_in"], two_pass=True)
        self.assertEqual(rows, [
            "1||status||",
            "2||status 0x11: active, ARVEN-L|LINK_OK|1",
            "3|ff 00 ff|||",
            "4||release|LINK_ERR_NO_REPLY|",
            "5|ff 00 ff|||",
        ])

    def wait_raw(self, slave):
        # The monitor has put the line into raw mode: bytes written now reach it unchanged.
        while termios.tcgetattr(slave)[3] & termios.ICANON:
            time.sleep(0.01)

    def send(self, master, slave, text):
        # Each write in a read of its own: wait until the monitor has taken it.
        os.write(master, bytes.fromhex(text))
        pending = bytearray(4)
        while True:
            fcntl.ioctl(slave, termios.FIONREAD, pending)
            if int.from_bytes(pending, sys.byteorder) == 0:
                return
            time.sleep(0.002)


if __name__ == "__main__":
    PELVARCTL, PELVAR_SIM, DISSECTOR = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main()
