#!/usr/bin/python3
"""The same three-line exchange as the console's GetCommandForce, with Debian's python3-serial:
write "0:CF?" and LF, read the echo, the value and "OK". Prints exchanges per second and the CPU
time per exchange of this process. Usage: pyserial-exchange.py PORT [EXCHANGES]"""
import sys
import time

import serial


def main():
    path = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    command = b"0:CF?\n"
    with serial.Serial(path, 9600, timeout=1) as port:
        port.reset_input_buffer()
        start, cpu = time.monotonic(), time.process_time()
        for _ in range(count):
            port.write(command)
            echo, value, ok = port.readline(), port.readline(), port.readline()
            if echo != command or ok != b"OK\n" or not value.endswith(b"\n"):
                sys.exit("bad exchange: %r %r %r" % (echo, value, ok))
        wall, cpu = time.monotonic() - start, time.process_time() - cpu
    print("%.1f %.4f" % (count / wall, cpu / count * 1e3))


if __name__ == "__main__":
    main()
