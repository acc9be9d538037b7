import sigrokdecode as srd
from .words import (ACK, ADJUSTMENTS, CMD_REG_ADDRESS, CMD_REG_READ, CMD_REG_WRITE, CMD_STATUS, COMMANDS, ETX,
                    FRAME_GAP_MS, PAIRING_MS, QUERY_ROOM, RESULTS, STATUS, STX, TEMPLATES, TRANSACT_ROOM,
                    WINDOW_MS)

# A frame this long after a request starts a new exchange instead of
# answering it (the host has long given up and sent again).
PAIRING_S = PAIRING_MS / 1000.0

class SamplerateError(Exception):
    pass

class Ann:
    BYTE, STX, LEN, CMD, PAYLOAD, CHECKSUM, ETX, REQUEST, REPLY, EXCHANGE, \
        WARNING, HOLD = range(12)

def hexbytes(values):
    return ' '.join('%02X' % v for v in values)

def le(values):
    v = 0
    for i, b in enumerate(values):
        v |= b << (8 * i)
    return v

def judge_reply(values, room, query):
    # The host's verdict on a reply heard whole, in the order pelvar's link
    # judges it (link/ReplyJudge.cpp).
    length = values[1]
    if values[0] != STX or len(values) < length + 3 or values[length + 2] != ETX:
        return 'LINK_ERR_NO_REPLY'
    if length >= 2 and length - 2 > room:
        # The host reads room + 5 bytes: a longer reply never completes.
        return 'LINK_ERR_NO_REPLY'
    checksum = 0
    for v in values[:length + 1]:
        checksum ^= v
    if checksum != values[length + 1]:
        return 'LINK_ERR_CHECKSUM'
    if length < 2:
        return 'LINK_ERR_REPLY_TOO_LONG'
    if not query and values[3] != ACK:
        return 'LINK_ERR_NAK'
    return 'LINK_OK'

def duration(seconds):
    if seconds >= 1e-3:
        return '%.2f ms' % (seconds * 1e3)
    return '%.1f µs' % (seconds * 1e6)

class Decoder(srd.Decoder):
    api_version = 3
    id = 'pelvar'
    name = 'Pelvar'
    longname = 'Pelvar camera board line'
    desc = 'Half-duplex frame link of the Pelvar camera board, with RTS.'
    license = 'gplv2+'
    inputs = ['logic']
    outputs = []
    tags = ['Embedded/industrial']
    channels = (
        {'id': 'line', 'name': 'LINE', 'desc': 'The data line both ends send on'},
    )
    optional_channels = (
        {'id': 'rts', 'name': 'RTS', 'desc': 'Host RTS, high while the host sends'},
    )
    options = (
        {'id': 'baudrate', 'desc': 'Bit rate', 'default': 115200},
        {'id': 'window_ms', 'desc': 'Host receive window (ms)', 'default': WINDOW_MS},
        {'id': 'gap_ms', 'desc': 'Pause that ends a frame (ms)', 'default': FRAME_GAP_MS},
    )
    annotations = (
        ('byte', 'Byte'),
        ('stx', 'Start of frame'),
        ('len', 'Length'),
        ('cmd', 'Command'),
        ('payload', 'Payload'),
        ('checksum', 'Checksum'),
        ('etx', 'End of frame'),
        ('request', 'Request'),
        ('reply', 'Reply'),
        ('exchange', 'Exchange'),
        ('warning', 'Warning'),
        ('hold', 'RTS hold'),
    )
    annotation_rows = (
        ('bytes', 'Bytes', (Ann.BYTE,)),
        ('fields', 'Fields', (Ann.STX, Ann.LEN, Ann.CMD, Ann.PAYLOAD,
                              Ann.CHECKSUM, Ann.ETX)),
        ('frames', 'Frames', (Ann.REQUEST, Ann.REPLY)),
        ('exchanges', 'Exchanges', (Ann.EXCHANGE,)),
        ('warnings', 'Warnings', (Ann.WARNING,)),
        ('rts-timing', 'RTS', (Ann.HOLD,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.samplerate = None
        self.frame = []          # (value, ss, es) of the frame being read
        self.rts_edges = []      # (samplenum, level) since the frame began
        self.request = None      # the request that waits for its reply
        self.hold_from = None    # end of a request's last stop bit
        self.latched = None      # the register the board latched last

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)
        # Asked once: libsigrokdecode 0.5.3 crashes when asked again and again.
        self.have_rts = self.has_channel(1)

    def metadata(self, key, value):
        if key == srd.SRD_CONF_SAMPLERATE:
            self.samplerate = value

    def put_ann(self, ss, es, cls, texts):
        self.put(int(ss), int(es), self.out_ann, [cls, texts])

    def seconds(self, samples):
        return samples / float(self.samplerate)

    # The line, sampled at the middle of each bit.

    def wait_until(self, target):
        # Skips to `target`, noting every RTS edge on the way.
        while self.samplenum < target:
            conds = [{'skip': int(target - self.samplenum)}]
            if self.have_rts:
                conds.append({1: 'e'})
            self.pins = self.wait(conds)
            if self.have_rts and self.matched[1]:
                self.rts_edge(self.pins[1])
        return self.pins

    def read_byte(self, ss):
        bit = self.bit
        value = 0
        for i in range(8):
            pins = self.wait_until(round(ss + bit * (i + 1.5)))
            value |= (pins[0] & 1) << i
        pins = self.wait_until(round(ss + bit * 9.5))
        return value, pins[0] == 1

    def rts_edge(self, level):
        now = self.samplenum
        self.rts_edges.append((now, level))
        if level == 0 and self.hold_from is not None:
            hold = self.seconds(now - self.hold_from)
            self.put_ann(self.hold_from, now, Ann.HOLD,
                         ['hold ' + duration(hold), duration(hold)])
            self.hold_from = None

    def decode(self):
        if not self.samplerate:
            raise SamplerateError('Cannot decode without samplerate.')
        self.bit = self.samplerate / float(self.options['baudrate'])
        self.pins = self.wait()
        gap = int(self.samplerate * self.options['gap_ms'] / 1000.0)
        while True:
            conds = [{0: 'f'}]
            if self.have_rts:
                conds.append({1: 'e'})
            if self.frame:
                conds.append({'skip': gap})
            self.pins = self.wait(conds)
            if self.have_rts and self.matched[1]:
                self.rts_edge(self.pins[1])
                if not self.matched[0]:
                    continue
            if self.frame and self.matched[-1] and not self.matched[0]:
                self.cut_short()
                continue
            if self.matched[0]:
                self.on_start_bit(self.samplenum, self.pins)

    def on_start_bit(self, ss, pins):
        if not self.frame:
            self.rts_edges = []
            self.rts_at_start = pins[1] if self.have_rts else None
        value, framed = self.read_byte(ss)
        es = ss + self.bit * 10
        self.put_ann(ss, es, Ann.BYTE, ['%02X' % value])
        if not framed:
            self.put_ann(ss, es, Ann.WARNING, ['framing error: no stop bit'])
        if not self.frame and value != STX:
            self.put_ann(ss, es, Ann.WARNING, ['garbage %02X' % value, 'garbage'])
            return
        self.frame.append((value, ss, es))
        if len(self.frame) >= 2 and len(self.frame) == self.frame[1][0] + 3:
            # RTS edges up to the end of the last stop bit belong to the frame.
            self.wait_until(int(es) - 1)
            self.on_frame()

    def cut_short(self):
        ss, es = self.frame[0][1], self.frame[-1][2]
        values = [b[0] for b in self.frame]
        self.put_ann(ss, es, Ann.WARNING,
                     ['partial frame: ' + hexbytes(values), 'partial frame'])
        self.frame = []

    # Frames, their fields, and the exchanges they make up.

    def on_frame(self):
        frame, self.frame = self.frame, []
        values = [b[0] for b in frame]
        ss, es = frame[0][1], frame[-1][2]
        length = values[1]
        is_request = self.direction(ss, es)
        self.put_fields(frame, is_request)
        if values[-1] != ETX:
            self.put_ann(frame[-1][1], es, Ann.WARNING,
                         ['wrong end byte %02X, expected 03' % values[-1],
                          'wrong end byte'])
        checksum = 0
        for v in values[:-2]:
            checksum ^= v
        checksum_ok = len(values) >= 3 and checksum == values[-2]
        if not checksum_ok and len(values) >= 3:
            self.put_ann(frame[-2][1], frame[-2][2], Ann.WARNING,
                         ['checksum wrong: %02X, expected %02X' % (values[-2], checksum),
                          'checksum wrong'])
        heard = {'values': values, 'ss': ss, 'es': es,
                 'checksum_ok': checksum_ok, 'end_ok': values[-1] == ETX}
        if is_request:
            self.on_request(heard)
        else:
            self.on_reply(heard)

    def direction(self, ss, es):
        if not self.have_rts:
            # Alternation: a frame answers the request before it, unless the
            # host has long given up on that one.
            if self.request is None:
                return True
            late = self.seconds(ss - self.request['es'])
            return late > PAIRING_S
        rose = [s for s, level in self.rts_edges if level == 1 and ss <= s < es]
        fell = [s for s, level in self.rts_edges if level == 0 and ss < s < es]
        if rose:
            self.put_ann(ss, rose[0], Ann.WARNING,
                         ['cut frame: RTS rose %s after the first start bit'
                          % duration(self.seconds(rose[0] - ss)), 'cut frame'])
        if fell:
            self.put_ann(fell[0], es, Ann.WARNING,
                         ['cut frame: RTS fell %s before the end of the last stop bit'
                          % duration(self.seconds(es - fell[0])), 'cut frame'])
        is_request = self.rts_at_start == 1 or bool(rose)
        if is_request and not fell:
            self.hold_from = es
        return is_request

    def put_fields(self, frame, is_request):
        values = [b[0] for b in frame]
        length = values[1]
        self.put_ann(frame[0][1], frame[0][2], Ann.STX, ['STX', 'S'])
        self.put_ann(frame[1][1], frame[1][2], Ann.LEN,
                     ['LEN %d' % length, '%d' % length])
        if len(frame) < 5:
            return
        cmd = values[2]
        name = COMMANDS.get(cmd, '0x%02x' % cmd)
        self.put_ann(frame[2][1], frame[2][2], Ann.CMD,
                     [name if is_request else 'CMD %02X' % cmd, '%02X' % cmd])
        payload = frame[3:-2]
        if payload:
            self.put_ann(payload[0][1], payload[-1][2], Ann.PAYLOAD,
                         ['payload ' + hexbytes(values[3:-2]), hexbytes(values[3:-2])])
        self.put_ann(frame[-2][1], frame[-2][2], Ann.CHECKSUM,
                     ['checksum %02X' % values[-2], '%02X' % values[-2]])
        self.put_ann(frame[-1][1], frame[-1][2], Ann.ETX, ['ETX', 'E'])

    def on_request(self, heard):
        if self.request is not None:
            self.put_exchange(self.request, None)
        values = heard['values']
        heard['cmd'] = values[2] if len(values) > 3 else 0
        heard['payload'] = values[3:-2] if len(values) > 5 else []
        heard['query'] = heard['cmd'] in QUERY_ROOM
        self.put_ann(heard['ss'], heard['es'], Ann.REQUEST,
                     ['request ' + self.meaning(heard, None, None),
                      COMMANDS.get(heard['cmd'], 'request')])
        self.request = heard

    def on_reply(self, heard):
        values = heard['values']
        self.put_ann(heard['ss'], heard['es'], Ann.REPLY,
                     ['reply ' + hexbytes(values[2:-2]), 'reply'])
        if self.request is None:
            self.put_ann(heard['ss'], heard['es'], Ann.WARNING,
                         ['reply without a request', 'no request'])
            return
        self.put_exchange(self.request, heard)
        self.request = None

    def meaning(self, request, result, value):
        cmd, payload = request['cmd'], request['payload']
        reg = '0x%04x' % self.latched if self.latched is not None else TEMPLATES['unknown_reg']
        if cmd == CMD_STATUS and request['query']:
            return STATUS[value & 0xFF] if result == 'LINK_OK' else TEMPLATES['status_failed']
        if cmd == CMD_REG_ADDRESS and len(payload) == 2:
            return TEMPLATES['reg_address'].format(value='0x%04x' % le(payload))
        if cmd == CMD_REG_WRITE and len(payload) == 2:
            return TEMPLATES['reg_write'].format(reg=reg, value='0x%04x' % le(payload))
        if cmd == CMD_REG_READ and request['query']:
            if result == 'LINK_OK':
                return TEMPLATES['reg_read'].format(reg=reg, value='0x%04x' % value)
            return TEMPLATES['reg_read_failed'].format(reg=reg)
        if cmd in ADJUSTMENTS and len(payload) == 4:
            v = le(payload)
            return ADJUSTMENTS[cmd].format(value=v - (1 << 32) if v & 0x80000000 else v)
        text = COMMANDS.get(cmd, '0x%02x' % cmd)
        return text + (' ' + hexbytes(payload) if payload else '')

    def put_exchange(self, request, reply):
        # The result the host's receive would come to, as pelvar names it.
        value = 0
        window = self.options['window_ms'] / 1000.0
        es = request['es']
        response = None
        if reply is None:
            result = 'LINK_ERR_NO_REPLY'
        else:
            es = reply['es']
            values = reply['values']
            response = self.seconds(reply['ss'] - request['es'])
            room = QUERY_ROOM[request['cmd']] if request['query'] else TRANSACT_ROOM
            if response > window:
                result = 'LINK_ERR_NO_REPLY'
                self.put_ann(request['es'], reply['ss'], Ann.WARNING,
                             ['reply outside the receive window: %s after the request'
                              % duration(response), 'late reply'])
            else:
                result = judge_reply(values, room, request['query'])
                if result == 'LINK_OK' and request['query']:
                    value = le(values[3:-2])
        text = self.meaning(request, result, value)
        if request['cmd'] == CMD_REG_ADDRESS and len(request['payload']) == 2:
            # A refused or lost latch leaves the board's register unknown.
            self.latched = le(request['payload']) if result == 'LINK_OK' else None
        long = '%s: %s' % (text, result)
        if response is not None:
            long += ', reply after %s' % duration(response)
        self.put_ann(request['ss'], es, Ann.EXCHANGE, [long, text])
