"""An X server of a benchmark's own, started once for all its windowed runs (xvfb-run per run would
make each run wait for a server of its own). Shared by the Python harnesses of bench/."""
import os
import select
import subprocess
import sys


class Xvfb:
    def __init__(self, screen="1280x1024x24"):
        read, write = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", screen, "-nolisten", "tcp"],
                                     pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while select.select([read], [], [], 60)[0]:
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
            if number.endswith(b"\n"):
                break
        os.close(read)
        if not number.strip():
            self.proc.kill()
            sys.exit("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait()
