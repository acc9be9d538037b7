"""The sigrok decoder under sigrok-cli on captures synthesised from known
frames at 115200 bit/s: a good exchange, a bad checksum, a frame that RTS
cuts one bit early, a reply after the receive window, pauses inside a frame,
and the line without RTS.

usage: sigrok_decoder_test.py DECODER_DIR
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sigrok_session import Line  # noqa: E402

DECODERS = None
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "samples", "session.sr")

BRIGHTNESS_200 = [0x02, 0x06, 0x91, 0xC8, 0x00, 0x00, 0x00, 0x5D, 0x03]
BRIGHTNESS_ACK = [0x02, 0x06, 0x91, 0x06, 0x00, 0x00, 0x00, 0x93, 0x03]
STATUS = [0x02, 0x02, 0x00, 0x00, 0x03]
STATUS_0X11 = [0x02, 0x03, 0x00, 0x11, 0x10, 0x03]
INIT = [0x02, 0x02, 0x70, 0x70, 0x03]
BIT = 1.0 / 115200


def host_sends(line, at, frame, hold=0.002, rts_early=0.0):
    """RTS up 20 µs before the first start bit, down `hold` after the last
    stop bit (or `rts_early` before it); returns when RTS fell."""
    line.set_rts(at - 20e-6, 1)
    end = line.frame(at, frame)
    fall = end - rts_early if rts_early else end + hold
    line.set_rts(fall, 0)
    return fall


def decode(line, channels="line=LINE:rts=RTS"):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "capture.sr")
        line.save(path)
        return decode_file(path, channels)


def decode_file(path, channels="line=LINE:rts=RTS", rows="pelvar"):
    env = dict(os.environ, SIGROKDECODE_DIR=DECODERS)
    out = subprocess.run(["sigrok-cli", "-i", path, "-P", "pelvar:" + channels, "-A", rows],
                         env=env, capture_output=True, text=True, timeout=120)
    if out.returncode != 0 or "Traceback" in out.stderr:
        raise AssertionError("sigrok-cli failed: " + out.stderr)
    prefix = "pelvar-1: "
    return [l[len(prefix):] for l in out.stdout.splitlines() if l.startswith(prefix)]


class DecoderTest(unittest.TestCase):
    def assertHas(self, annotations, *texts):
        for t in texts:
            self.assertIn(t, annotations)

    def assertMicros(self, annotations, pattern, expected):
        # Edges fall between samples: half a sample (0.25 µs) on each side.
        found = [float(m.group(1)) for m in (re.fullmatch(pattern, x) for x in annotations) if m]
        self.assertEqual(len(found), 1, annotations)
        self.assertAlmostEqual(found[0], expected, delta=0.6)

    def test_good_exchange_fields_meaning_response_and_hold(self):
        line = Line()
        fall = host_sends(line, 0.001, BRIGHTNESS_200)
        line.frame(fall + 350e-6, BRIGHTNESS_ACK)
        a = decode(line)
        self.assertHas(a, "STX", "LEN 6", "brightness", "payload C8 00 00 00", "checksum 5D", "ETX",
                       "request brightness 200", "reply 91 06 00 00 00",
                       "brightness 200: LINK_OK, reply after 2.35 ms", "hold 2.00 ms")
        self.assertFalse([x for x in a if "wrong" in x or "cut" in x or "garbage" in x], a)

    def test_bad_checksum(self):
        line = Line()
        fall = host_sends(line, 0.001, STATUS)
        line.frame(fall + 100e-6, [0x02, 0x03, 0x00, 0x11, 0x11, 0x03])
        a = decode(line)
        self.assertHas(a, "checksum wrong: 11, expected 10", "status: LINK_ERR_CHECKSUM, reply after 2.10 ms")

    def test_cut_frame_rts_falling_one_bit_early(self):
        line = Line()
        host_sends(line, 0.001, INIT, rts_early=BIT)
        a = decode(line)
        self.assertMicros(a, r"cut frame: RTS fell ([0-9.]+) µs before the end of the last stop bit", BIT * 1e6)
        self.assertFalse([x for x in a if x.startswith("hold")], a)

    def test_rts_rising_after_the_first_start_bit(self):
        line = Line()
        line.frame(0.001, INIT)
        line.set_rts(0.001 + 3 * BIT, 1)
        line.set_rts(0.001 + 50 * BIT + 0.002, 0)
        a = decode(line)
        self.assertMicros(a, r"cut frame: RTS rose ([0-9.]+) µs after the first start bit", 3 * BIT * 1e6)
        self.assertHas(a, "request init")

    def test_slow_reply_outside_the_receive_window(self):
        line = Line()
        fall = host_sends(line, 0.001, STATUS)
        line.frame(fall + 0.598, STATUS_0X11)
        a = decode(line)
        self.assertHas(a, "reply outside the receive window: 600.00 ms after the request",
                       "status: LINK_ERR_NO_REPLY, reply after 600.00 ms")

    def test_without_rts_requests_and_replies_alternate(self):
        line = Line(with_rts=False)
        end = line.frame(0.001, STATUS)
        end = line.frame(end + 0.001, STATUS_0X11)
        end = line.frame(end + 0.005, [0x02, 0x04, 0xA5, 0x10, 0x00, 0xB3, 0x03])
        end = line.frame(end + 0.001, [0x02, 0x03, 0xA5, 0x06, 0xA2, 0x03])
        end = line.frame(end + 0.005, [0x02, 0x02, 0x24, 0x24, 0x03])
        line.frame(end + 0.001, [0x02, 0x04, 0x24, 0xEF, 0xBE, 0x73, 0x03])
        a = decode(line, "line=LINE")
        self.assertHas(a, "status 0x11: active, ARVEN-L: LINK_OK, reply after 1.00 ms",
                       "reg address 0x0010: LINK_OK, reply after 1.00 ms",
                       "reg 0x0010 reads 0xbeef: LINK_OK, reply after 1.00 ms")

    def test_each_verdict_on_a_reply_as_pelvar_comes_to_it(self):
        rows = [
            (INIT, [0x02, 0x03, 0x70, 0x06, 0x77, 0x03], "init: LINK_OK"),
            (INIT, [0x02, 0x03, 0x70, 0x15, 0x64, 0x03], "init: LINK_ERR_NAK"),
            (STATUS, [0x02, 0x04, 0x00, 0x11, 0x00, 0x17, 0x03], "status: LINK_ERR_NO_REPLY"),
            (STATUS, [0x02, 0x03, 0x00, 0x11, 0x10, 0x04], "status: LINK_ERR_NO_REPLY"),
            (STATUS, [0x02, 0x03, 0x00, 0x11, 0x11, 0x03], "status: LINK_ERR_CHECKSUM"),
            (INIT, [0x02, 0x01, 0x03, 0x03], "init: LINK_ERR_REPLY_TOO_LONG"),
        ]
        line = Line(with_rts=False)
        end = 0.001
        for request, reply, _ in rows:
            end = line.frame(end + 0.005, request)
            end = line.frame(end + 0.001, reply)
        exchanges = [x.split(", reply after ")[0] for x in decode(line, "line=LINE") if ", reply after " in x]
        self.assertEqual(exchanges, [verdict for _, _, verdict in rows])

    def test_the_sample_capture_as_the_line_page_shows_it(self):
        a = decode_file(SAMPLE, rows="pelvar=exchange:warning")
        # Response times differ each time the sample is made.
        self.assertEqual([x.split(", reply after ")[0] for x in a], [
            "status 0x00: not started: LINK_OK",
            "brightness 200: LINK_OK",
            "reg address 0x0010: LINK_OK",
            "reg 0x0010 = 0xbeef: LINK_OK",
            "reg address 0x0010: LINK_ERR_NO_REPLY",
            "reg address 0x0010: LINK_OK",
            "reg 0x0010 reads 0xbeef: LINK_OK",
        ])

    def test_a_refused_or_unanswered_latch_leaves_the_register_unknown(self):
        latch_10 = [0x02, 0x04, 0xA5, 0x10, 0x00, 0xB3, 0x03]
        latch_20 = [0x02, 0x04, 0xA5, 0x20, 0x00, 0x83, 0x03]
        ack = [0x02, 0x06, 0xA5, 0x06, 0x00, 0x00, 0x00, 0xA7, 0x03]
        nak = [0x02, 0x06, 0xA5, 0x15, 0x00, 0x00, 0x00, 0xB4, 0x03]
        read = [0x02, 0x02, 0x24, 0x24, 0x03]
        beef = [0x02, 0x04, 0x24, 0xEF, 0xBE, 0x73, 0x03]
        line = Line()
        end = 0.001
        for request, reply in [(latch_10, ack), (latch_20, nak), (read, beef),
                               (latch_10, ack), (latch_20, None), (read, beef)]:
            end = host_sends(line, end + 0.005, request)
            if reply:
                end = line.frame(end + 0.001, reply)
        a = decode(line)
        exchanges = [x.split(", reply after ")[0] for x in a if ": LINK_" in x]
        self.assertEqual(exchanges, [
            "reg address 0x0010: LINK_OK",
            "reg address 0x0020: LINK_ERR_NAK",
            "reg ? reads 0xbeef: LINK_OK",
            "reg address 0x0010: LINK_OK",
            "reg address 0x0020: LINK_ERR_NO_REPLY",
            "reg ? reads 0xbeef: LINK_OK",
        ])
        self.assertEqual([x for x in a if x.startswith("request reg") and x.endswith("read")],
                         ["request reg ? read", "request reg ? read"])

    def test_a_pause_of_200_ms_stays_inside_a_frame_and_one_of_300_ms_cuts_it(self):
        # The same pause as pelvarctl monitor's.
        line = Line(with_rts=False)
        end = line.frame(0.001, STATUS)
        end = line.frame(end + 0.001, STATUS_0X11[:3])
        end = line.frame(end + 0.200, STATUS_0X11[3:])
        end = line.frame(end + 0.005, INIT)
        end = line.frame(end + 0.001, [0x02, 0x03])
        line.frame(end + 0.300, [0x70, 0x06, 0x77, 0x03])
        a = decode(line, "line=LINE")
        self.assertHas(a, "status 0x11: active, ARVEN-L: LINK_OK, reply after 1.00 ms", "partial frame: 02 03")

    def test_wrong_end_byte_and_garbage(self):
        line = Line(with_rts=False)
        end = line.frame(0.001, [0xFF])
        line.frame(end + 0.001, [0x02, 0x02, 0x00, 0x00, 0x04])
        a = decode(line, "line=LINE")
        self.assertHas(a, "garbage FF", "wrong end byte 04, expected 03")


if __name__ == "__main__":
    DECODERS = os.path.abspath(sys.argv.pop(1))
    unittest.main()
