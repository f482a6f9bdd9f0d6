#!/usr/bin/env python3
"""The content-ads API as tests need it: the recording server, answering each request by its path.

    kiosk_api_server.py --out DIR [--script FILE] [--max-seconds 120]

The script (JSON) is the recording server's, plus:
    "secret": the publisher secret every request is checked against
    "paths":  {"/v3/publisher/open/": ANSWER or [ANSWER, ...], ...}; a list answers the path's
              first request with its first element and so on, the last repeating
Requests are answered by, in order: "requests" by index, "paths", "default". "$HOST" in a body
becomes the request's Host field, so an answer can name addresses of this server.

Each request's query is read as a server reads it ("+" is a blank) and its signature recomputed
from token, session, gid, nonce and the secret: one line of DIR/checks.jsonl per request,
    {"index": n, "path": "...", "params": {...}, "signature": "ok" | "bad" | "none"}
and a request whose signature is wrong is answered 403 {"error":"signature"}.
"""
import base64
import hashlib
import json
import os
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recording_server  # noqa: E402


def signature(params, secret):
    text = ":".join(params.get(k, "") for k in ("token", "session", "gid", "nonce")) + ":" + secret
    return base64.urlsafe_b64encode(hashlib.sha1(text.encode("utf-8")).digest()).rstrip(b"=").decode()


class KioskRecorder(recording_server.Recorder):
    def __init__(self, out, script):
        super().__init__(out, script)
        self.checks = open(os.path.join(out, "checks.jsonl"), "a", encoding="utf-8")
        self.lines = {}
        self.per_path = {}

    def record(self, connection, request_line, headers, body):
        index = super().record(connection, request_line, headers, body)
        with self.lock:
            self.lines[index] = (request_line, dict((k.lower(), v) for k, v in headers).get("host", ""))
        return index

    def answer_for(self, index):
        answer = self.choose(index)
        if "body" in answer:
            answer["body"] = answer["body"].replace("$HOST", self.lines.get(index, ("", ""))[1])
        return answer

    def choose(self, index):
        with self.lock:
            request_line = self.lines.get(index, ("", ""))[0]
        target = request_line.split(" ")[1] if request_line.count(" ") >= 2 else ""
        parts = urllib.parse.urlsplit(target)
        params = dict(urllib.parse.parse_qsl(parts.query, keep_blank_values=True))
        verdict = "none"
        if "secret" in self.script and "signature" in params:
            verdict = "ok" if params["signature"] == signature(params, self.script["secret"]) else "bad"
        with self.lock:
            self.checks.write(json.dumps({"index": index, "path": parts.path, "params": params,
                                          "signature": verdict}) + "\n")
            self.checks.flush()
            count = self.per_path.get(parts.path, 0)
            self.per_path[parts.path] = count + 1
        if verdict == "bad":
            return {"status": "HTTP/1.1 403 Forbidden", "body": '{"error":"signature"}'}
        if str(index) in self.script.get("requests", {}):
            return super().answer_for(index)
        answer = self.script.get("paths", {}).get(parts.path)
        if isinstance(answer, list):
            answer = answer[min(count, len(answer) - 1)] if answer else None
        if answer is None:
            return dict(self.script.get("default", {}))
        return dict(answer)


if __name__ == "__main__":
    sys.exit(recording_server.main(KioskRecorder))
