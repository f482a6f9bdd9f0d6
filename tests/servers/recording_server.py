#!/usr/bin/env python3
"""An HTTP/1.1 server for tests that records every byte it is sent and answers as a script says.

    recording_server.py --out DIR [--script FILE] [--max-seconds 120]

Binds 127.0.0.1 on a port of the system's choosing and prints "PORT <n>" first. Stops by itself
after --max-seconds, or on SIGTERM or SIGINT.

Each connection's bytes go unchanged to DIR/conn-<k>.bin (k from 1, in accepting order), and each
request to one line of DIR/requests.jsonl:
    {"connection": k, "index": n, "time": seconds since start, "request_line": "...",
     "headers": [[name, value], ...], "body_hex": "..."}
n counts requests over all connections from 1, in the order they were read. Requests are parsed
here, pipelined or not (http.server answers in HTTP/1.0 terms, which switches pipelining off):
bodies by Content-Length or chunked transfer coding (the body recorded is the decoded one).

The script is JSON: {"default": ANSWER, "requests": {"<n>": ANSWER, ...}}. An ANSWER holds, all
optional:
    "status":  the raw status line, default "HTTP/1.1 200 OK"
    "headers": [[name, value], ...]; Content-Length is added unless given or "raw" is true
    "body":    text (UTF-8), default ""
    "body_hex": the body's bytes in hex, in place of "body"
    "delay":   seconds before answering
    "pause":   seconds between the bytes of the answer
    "close":   close the connection after answering
    "silent":  never answer (the connection stays open until the client or the end closes it)
"""
import argparse
import json
import os
import signal
import socket
import sys
import threading
import time


class Recorder:
    def __init__(self, out, script):
        self.out = out
        self.script = script
        self.lock = threading.Lock()
        self.start = time.monotonic()
        self.index = 0
        self.requests = open(os.path.join(out, "requests.jsonl"), "a", encoding="utf-8")

    def record(self, connection, request_line, headers, body):
        with self.lock:
            self.index += 1
            line = {
                "connection": connection,
                "index": self.index,
                "time": round(time.monotonic() - self.start, 6),
                "request_line": request_line,
                "headers": headers,
                "body_hex": body.hex(),
            }
            self.requests.write(json.dumps(line) + "\n")
            self.requests.flush()
            return self.index

    def answer_for(self, index):
        answer = dict(self.script.get("default", {}))
        answer.update(self.script.get("requests", {}).get(str(index), {}))
        return answer

    def send(self, sock, answer, stopping):
        """Writes the answer; True when the connection must close after it. Raises OSError when
        the peer has gone."""
        data = answer_bytes(answer)
        pause = float(answer.get("pause", 0))
        if pause > 0:
            for i in range(len(data)):
                sock.sendall(data[i:i + 1])
                if stopping.wait(pause):
                    break
        else:
            sock.sendall(data)
        return False


class NeedMore(Exception):
    pass


def parse_request(buffer):
    """One request from the front of `buffer`: (request_line, headers, body, bytes used)."""
    end = buffer.find(b"\r\n\r\n")
    if end < 0:
        raise NeedMore()
    head = buffer[:end].decode("latin-1").split("\r\n")
    request_line, headers = head[0], []
    for line in head[1:]:
        name, _, value = line.partition(":")
        headers.append([name.strip(), value.strip()])
    fields = {name.lower(): value for name, value in headers}
    at = end + 4
    if "chunked" in fields.get("transfer-encoding", "").lower():
        body = b""
        while True:
            line_end = buffer.find(b"\r\n", at)
            if line_end < 0:
                raise NeedMore()
            size = int(buffer[at:line_end].split(b";")[0].strip() or b"0", 16)
            at = line_end + 2
            if size == 0:
                trailer_end = buffer.find(b"\r\n\r\n", at - 2)
                if trailer_end < 0:
                    raise NeedMore()
                return request_line, headers, body, trailer_end + 4
            if len(buffer) < at + size + 2:
                raise NeedMore()
            body += buffer[at:at + size]
            at += size + 2
    length = int(fields.get("content-length", "0") or "0")
    if len(buffer) < at + length:
        raise NeedMore()
    return request_line, headers, buffer[at:at + length], at + length


def answer_bytes(answer):
    if "body_hex" in answer:
        body = bytes.fromhex(answer["body_hex"])
    else:
        body = answer.get("body", "").encode("utf-8")
    headers = [list(h) for h in answer.get("headers", [])]
    if not answer.get("raw") and not any(h[0].lower() == "content-length" for h in headers):
        headers.append(["Content-Length", str(len(body))])
    text = answer.get("status", "HTTP/1.1 200 OK") + "\r\n"
    text += "".join(f"{name}: {value}\r\n" for name, value in headers) + "\r\n"
    return text.encode("latin-1") + body


def serve(recorder, sock, number, stopping):
    sock.settimeout(0.2)
    buffer = b""
    with open(os.path.join(recorder.out, f"conn-{number}.bin"), "wb") as raw:
        while not stopping.is_set():
            try:
                chunk = sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                break
            if not chunk:
                break
            raw.write(chunk)
            raw.flush()
            buffer += chunk
            closing = False
            while True:
                try:
                    request_line, headers, body, used = parse_request(buffer)
                except NeedMore:
                    break
                except ValueError:
                    closing = True
                    break
                buffer = buffer[used:]
                answer = recorder.answer_for(recorder.record(number, request_line, headers, body))
                if answer.get("silent"):
                    continue
                if answer.get("delay"):
                    stopping.wait(float(answer["delay"]))
                try:
                    if recorder.send(sock, answer, stopping):
                        closing = True
                        break
                except OSError:
                    closing = True
                    break
                if answer.get("close"):
                    closing = True
                    break
            if closing:
                break
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()


def main(make_recorder=Recorder):
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--script")
    parser.add_argument("--max-seconds", type=float, default=120.0)
    args = parser.parse_args()

    script = {}
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            script = json.load(f)
    os.makedirs(args.out, exist_ok=True)
    recorder = make_recorder(args.out, script)

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    listener.settimeout(0.1)
    print(f"PORT {listener.getsockname()[1]}", flush=True)

    deadline = time.monotonic() + args.max_seconds
    threads, count = [], 0
    while not stopping.is_set() and time.monotonic() < deadline:
        try:
            sock, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            break
        count += 1
        thread = threading.Thread(target=serve, args=(recorder, sock, count, stopping), daemon=True)
        thread.start()
        threads.append(thread)
    stopping.set()
    listener.close()
    for thread in threads:
        thread.join(1.0)
    recorder.requests.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
