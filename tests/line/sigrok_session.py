"""Logic captures in sigrok's session format (.sr: a zip with a version, the
metadata and the samples), synthesised from frames on a half-duplex line:
channel 1 the line (8N1, idle high), channel 2 the host's RTS."""

import zipfile

SAMPLERATE = 2_000_000
BAUD = 115200


class Line:
    def __init__(self, samplerate=SAMPLERATE, baud=BAUD, with_rts=True):
        self.samplerate = samplerate
        self.with_rts = with_rts
        self.bit = 1.0 / baud
        self.line = []  # (time, level)
        self.rts = []
        self.end = 0.0

    def frame(self, at, values):
        """Sends `values` from `at` (seconds); returns the end of the last stop bit."""
        t = at
        for v in values:
            bits = [0] + [(v >> i) & 1 for i in range(8)] + [1]
            for b in bits:
                self.line.append((t, b))
                t += self.bit
        self.end = max(self.end, t)
        return t

    def set_rts(self, at, level):
        self.rts.append((at, level))
        self.end = max(self.end, at)

    def samples(self):
        n = int((self.end + 0.001) * self.samplerate)
        data = bytearray(n)
        for events, mask, idle in ((self.line, 1, 1), (self.rts, 2, 0)):
            level = idle
            points = sorted(events) + [(n / self.samplerate, None)]
            pos = 0
            for t, new in points:
                upto = min(n, int(round(t * self.samplerate)))
                if level:
                    for i in range(pos, upto):
                        data[i] |= mask
                pos = max(pos, upto)
                if new is not None:
                    level = new
        return bytes(data)

    def save(self, path):
        metadata = (
            "[global]\nsigrok version=0.5.2\n\n"
            "[device 1]\ncapturefile=logic-1\ntotal probes=%d\n"
            "samplerate=%d kHz\ntotal analog=0\nprobe1=LINE\n%sunitsize=1\n"
            % (2 if self.with_rts else 1, self.samplerate // 1000, "probe2=RTS\n" if self.with_rts else ""))
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("version", "2")
            z.writestr("metadata", metadata)
            z.writestr("logic-1-1", self.samples())
