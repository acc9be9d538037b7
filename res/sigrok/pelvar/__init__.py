'''
Pelvar camera board line: the half-duplex frame link between a host and the
Pelvar camera demonstration board (STX, LEN, CMD, payload, XOR checksum,
ETX at 115200 bit/s, 8N1), with the host's RTS when it is probed.

The decoder samples the line itself rather than stacking on the UART
decoder, so that it sees RTS beside the data: a frame that RTS does not
cover (RTS rising after the first start bit, or falling before the last
stop bit) is flagged as cut, and the hold after the last stop bit is
measured. Requests are paired with their replies and the response time is
given; a wrong checksum, a wrong end byte and a reply after the host's
receive window are flagged. Commands and meanings are worded as pelvar's
traffic pane words them.
'''

from .pd import Decoder
