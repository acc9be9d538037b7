"""The Wireshark dissector under tshark on a capture pelvarctl wrote while
talking to the simulated board: each frame's direction, command, meaning,
result and pairing, in the traffic pane's words.

usage: wireshark_dissector_test.py PELVARCTL PELVAR_SIM DISSECTOR
"""

import os
import subprocess
import sys
import tempfile
import unittest

PELVARCTL = PELVAR_SIM = DISSECTOR = None

SCRIPT = "set brightness 200\nreg write 0x0010 0xbeef\nreg read 0x0010\n"

FIELDS = ["frame.number", "pelvar.direction", "pelvar.command", "pelvar.meaning", "pelvar.result",
          "pelvar.request_in", "pelvar.payload", "pelvar.checksum_ok"]


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
        return ctl, path

    def dissect(self, path):
        cmd = ["tshark", "-X", "lua_script:" + DISSECTOR, "-r", path, "-T", "fields", "-E", "separator=|"]
        for f in FIELDS:
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

    def test_corrupt_replies_are_flagged_and_retried(self):
        with tempfile.TemporaryDirectory() as tmp:
            ctl, path = self.capture(tmp, "--corrupt", stdin="set brightness 1\n")
            rows = self.dissect(path)
        self.assertNotEqual(ctl.returncode, 0)
        self.assertEqual(rows[1].split("|")[3:5], ["status", "LINK_ERR_CHECKSUM"])
        self.assertEqual(rows[1].split("|")[7], "0")


if __name__ == "__main__":
    PELVARCTL, PELVAR_SIM, DISSECTOR = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main()
