#!/usr/bin/env python3
"""dk-kiosk-cli's JSON parser and writer against Python's json module.

Usage: json_differential.py DK_KIOSK_CLI CORPUS_DIR [COUNT]

Every *.json file of CORPUS_DIR and COUNT documents of a seeded generator (valid JSON only, each
an object or an array, integers within 64 bits, no raw NUL) go through `dk-kiosk-cli json parse`;
Python reads the input and the tool's output alike (numbers as Decimal, members in order) and
the two must be equal. Exit status 1 on the first difference."""
import decimal
import json
import os
import random
import subprocess
import sys

INT64 = 2 ** 63


def normal(value):
    """Comparable form: numbers as Decimal (1e2 equals 100), objects as lists of members."""
    if isinstance(value, bool) or value is None or isinstance(value, str):
        return value
    if isinstance(value, (int, decimal.Decimal)):
        return ("number", decimal.Decimal(value))
    if isinstance(value, list):
        return [normal(v) for v in value]
    return [(k, normal(v)) for k, v in value.items()]


def load(text):
    return json.loads(text, parse_float=decimal.Decimal)


class Generator:
    def __init__(self, seed):
        self.rng = random.Random(seed)

    def string(self):
        pool = ['"', "\\", "/", "\b", "\f", "\n", "\r", "\t", "\x00", "\x1f", "\x7f", "é", "€", "\ufffd", "😀",
                "\U0010ffff", " "]
        return "".join(self.rng.choice(pool) if self.rng.random() < 0.3 else chr(self.rng.randint(0x20, 0x7e))
                       for _ in range(self.rng.randint(0, 10)))

    def number(self):
        kind = self.rng.randint(0, 3)
        if kind == 0:
            return self.rng.choice([0, 1, -1, INT64 - 1, -INT64 + 1, self.rng.randint(-INT64 + 1, INT64 - 1)])
        if kind == 1:
            return self.rng.uniform(-1, 1) * 10 ** self.rng.randint(-60, 60)
        digits = "".join(self.rng.choice("0123456789") for _ in range(self.rng.randint(1, 30)))
        return decimal.Decimal(f"{self.rng.choice(['', '-'])}1{digits}E{self.rng.randint(-90, 90)}")

    def value(self, depth):
        kind = self.rng.randint(0, 7)
        if kind == 0:
            return None
        if kind == 1:
            return self.rng.random() < 0.5
        if kind in (2, 3):
            return self.number()
        if kind in (4, 5) or depth > 5:
            return self.string()
        return self.container(depth + 1)

    def container(self, depth=0):
        n = self.rng.randint(0, 5)
        if self.rng.random() < 0.5:
            return [self.value(depth) for _ in range(n)]
        return {self.string(): self.value(depth) for _ in range(n)}

    def text(self):
        return dump(self.container(), self.rng.choice(["", "  ", "\t\r\n"]), self.rng.random() < 0.5)


def dump(value, blank, ascii):
    """JSON text with `blank` around every token; json.dumps cannot write a Decimal as a number."""
    if isinstance(value, list):
        inner = ",".join(blank + dump(v, blank, ascii) + blank for v in value)
        return "[" + inner + "]"
    if isinstance(value, dict):
        inner = ",".join(f"{blank}{json.dumps(k, ensure_ascii=ascii)}{blank}:{blank}{dump(v, blank, ascii)}{blank}"
                         for k, v in value.items())
        return "{" + inner + "}"
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, decimal.Decimal):
        return str(value)
    return json.dumps(value, ensure_ascii=ascii)


def documents(corpus, count):
    for name in sorted(os.listdir(corpus)):
        if name.endswith(".json"):
            with open(os.path.join(corpus, name), encoding="utf-8") as f:
                yield name, f.read()
    for seed in range(count):
        yield f"generated #{seed}", Generator(seed).text()


def main():
    cli, corpus = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    checked = 0
    for name, text in documents(corpus, count):
        run = subprocess.run([cli, "json", "parse", "--max-depth", "0"], input=text.encode("utf-8"),
                             capture_output=True, timeout=30)
        expected = normal(load(text))
        if run.returncode != 0:
            print(f"{name}: refused\n{text}\n{run.stdout.decode(errors='replace')}")
            return 1
        got = normal(load(run.stdout.decode("utf-8")))
        if got != expected:
            print(f"{name}: differs\ninput:  {text}\noutput: {run.stdout.decode('utf-8')}")
            return 1
        checked += 1
    print(f"{checked} documents read alike")
    return 0


if __name__ == "__main__":
    sys.exit(main())
