"""The same exchanges as net_bench through pyserial's RFC 2217 client.

Usage: /usr/bin/python3 pyserial_client.py URL RUNS DUMP_REGISTERS
Prints three lines: "<name> <median ms>" for status, transaction, dump; the
dump reads DUMP_REGISTERS registers (a quarter of a second each here), once.
ser2net on a pseudo-terminal never confirms SET-CONTROL, so pyserial needs
ign_set_control to open the port at all.
"""
import statistics
import sys
import time

import serial


def frame(cmd, payload=b""):
    body = bytes([0x02, len(payload) + 2, cmd]) + payload
    x = 0
    for b in body:
        x ^= b
    return body + bytes([x, 0x03])


def exchange(port, cmd, payload, reply_len):
    port.reset_input_buffer()
    port.rts = True
    port.write(frame(cmd, payload))
    time.sleep(0.002)
    port.rts = False
    return port.read(reply_len)


def transact(port, cmd, payload):
    time.sleep(0.010)
    return exchange(port, cmd, payload, 9)


def main():
    url, runs, registers = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    port = serial.serial_for_url(url + "?ign_set_control", baudrate=115200, timeout=0.5)
    tests = {
        "status": lambda: exchange(port, 0x00, b"", 6),
        "transaction": lambda: transact(port, 0x91, b"\xc8\x00\x00\x00"),
        "dump": lambda: [
            (transact(port, 0xA5, bytes([a, 0])), exchange(port, 0x24, b"", 7)) for a in range(registers)
        ],
    }
    for name, fn in tests.items():
        n = runs if name != "dump" else 1
        times = []
        for _ in range(n):
            t0 = time.perf_counter()
            fn()
            times.append((time.perf_counter() - t0) * 1000)
        print(name, "%.2f" % statistics.median(times))
    port.close()


main()
