#!/usr/bin/env python3
"""The recording server with answers no honest server gives: what the clients must survive.

    hostile_server.py --out DIR [--script FILE] [--max-seconds 120]

The script is the recording server's; an ANSWER may also hold "attack", one of:
    "gzip-zeros":     200, Content-Encoding gzip, the gzip of "size" zero bytes (default 1 GiB),
                      compressed as it is sent and never held whole; the connection then closes
    "big-body":       200 with a Content-Length of "size" bytes (default 600 MB) of "fill" (a
                      byte, default "x"), written as the client reads them
    "endless-header": a status line, then one header line that never ends
    "trickle":        a head announcing a body of a million bytes, then one byte every
                      "interval" seconds (default 0.5) until the client goes
    "trickle-head":   a status line, then short header lines without end, one byte every
                      "interval" seconds (default 0.5) until the client goes
"status" and "headers" (extra fields) apply to each; "body" is not used.
"""
import os
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recording_server  # noqa: E402

CHUNK = 1 << 16


def head(answer, fields):
    text = answer.get("status", "HTTP/1.1 200 OK") + "\r\n"
    for name, value in fields + [list(h) for h in answer.get("headers", [])]:
        text += f"{name}: {value}\r\n"
    return (text + "\r\n").encode("latin-1")


class HostileRecorder(recording_server.Recorder):
    def send(self, sock, answer, stopping):
        attack = answer.get("attack")
        if attack:
            sock.settimeout(30)  # a client busy inflating is slow to read, not gone
        if attack == "gzip-zeros":
            sock.sendall(head(answer, [["Content-Encoding", "gzip"], ["Connection", "close"]]))
            packer = zlib.compressobj(9, zlib.DEFLATED, 31)
            zeros = bytes(CHUNK)
            left = int(answer.get("size", 1 << 30))
            while left > 0 and not stopping.is_set():
                out = packer.compress(zeros[:min(left, CHUNK)])
                left -= min(left, CHUNK)
                if out:
                    sock.sendall(out)
            sock.sendall(packer.flush())
            return True  # no length was given: the close ends the body
        elif attack == "big-body":
            size = int(answer.get("size", 600 * 1000 * 1000))
            sock.sendall(head(answer, [["Content-Length", str(size)]]))
            block = answer.get("fill", "x").encode("latin-1") * CHUNK
            while size > 0 and not stopping.is_set():
                sock.sendall(block[:min(size, CHUNK)])
                size -= min(size, CHUNK)
        elif attack == "endless-header":
            sock.sendall(answer.get("status", "HTTP/1.1 200 OK").encode("latin-1") + b"\r\nX-Endless: ")
            block = b"a" * CHUNK
            while not stopping.is_set():
                sock.sendall(block)
        elif attack == "trickle":
            sock.sendall(head(answer, [["Content-Length", "1000000"]]))
            interval = float(answer.get("interval", 0.5))
            while not stopping.wait(interval):
                sock.sendall(b" ")
        elif attack == "trickle-head":
            sock.sendall(head(answer, [])[:-2])  # the head is never ended
            interval = float(answer.get("interval", 0.5))
            line = b"X-T: 1\r\n"
            at = 0
            while not stopping.wait(interval):
                sock.sendall(line[at:at + 1])
                at = (at + 1) % len(line)
        else:
            return super().send(sock, answer, stopping)
        return False


if __name__ == "__main__":
    sys.exit(recording_server.main(HostileRecorder))
