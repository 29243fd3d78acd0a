#!/usr/bin/env python3
"""Stress test of the tag store: writers and readers of vellgrim-tool at once against one store.

Writers resize, replace, import into and resave maps; some are killed at random moments. Readers
check, show and dump maps all the while and must never be refused or told a sound map is corrupt.
At the end every map must load and match its collection, no temporary may be left, and no two
writers may ever have held the store lock together (the lock witness records each holder).

    scripts/stress.py --tool build/vellgrim-tool --seconds 300 --writers 3 --readers 3
"""

import argparse
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

TEMPORARY_PREFIX = ".vellgrim-temporary-replacement-"
BUSY_TEXTS = ("another program is using the tag store",)
CORRUPT_HINTS = ("can't be read", "corrupt", "disagrees", "bitmaps where", "could not be loaded",
                 "loading reported errors", "cut short", "past the", "no problems")


def bitmap(path, width, height, seed):
    """An 8-bit uncompressed Windows bitmap with a grey palette and a pattern of the seed."""
    palette = b"".join(struct.pack("<BBBB", i, i, i, 0) for i in range(256))
    pixels = bytes(((x // 16) * 7 + (y // 16) * 13 + seed) % 200 + 20 for y in range(height) for x in range(width))
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


class Counts:
    def __init__(self):
        self.values = {}

    def add(self, key, n=1):
        self.values[key] = self.values.get(key, 0) + n

    def __getitem__(self, key):
        return self.values.get(key, 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", default="build/vellgrim-tool")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--writers", type=int, default=3)
    parser.add_argument("--readers", type=int, default=3)
    parser.add_argument("--kill-chance", type=float, default=0.3, help="share of writers killed part-way")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--keep", action="store_true", help="keep the store folder afterwards")
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    rng = random.Random(args.seed)

    work = tempfile.mkdtemp(prefix="vellgrim-stress-")
    root = os.path.join(work, "store")
    witness = os.path.join(work, "witness")
    os.makedirs(witness)
    env = dict(os.environ, VELLGRIM_LOCK_WITNESS=witness)
    subprocess.run([tool, "content", "build", "--out", root], check=True, stdout=subprocess.DEVNULL)
    bitmaps = {}
    for w, h in ((256, 256), (512, 256), (256, 512), (512, 512)):
        for seed in (1, 2):
            path = os.path.join(work, f"b{w}x{h}-{seed}.bmp")
            bitmap(path, w, h, seed)
            bitmaps.setdefault((w, h), []).append(path)
    maps = ["Stress One", "Stress Two", "Demo Valley"]
    for name in maps[:2]:
        subprocess.run([tool, "--root", root, "map", "new", "--name", name, "--media", "water", "--bitmap",
                        bitmaps[(256, 256)][0], "--replace"], check=True, stdout=subprocess.DEVNULL, env=env)

    identifiers = {}
    listing = subprocess.run([tool, "--root", root, "map", "list", "--json"], capture_output=True, text=True, env=env)
    for entry in json.loads(listing.stdout):
        identifiers[entry["name"]] = entry["id_hex"]

    def writer_command():
        name = rng.choice(maps)
        kind = rng.choice(["resize", "new", "import", "resave", "shift"])
        if kind == "resize":
            return ["map", "resize", name, "--cells", f"{rng.choice([32, 64])},{rng.choice([32, 64])}"]
        if kind == "new" and name != "Demo Valley":
            size = rng.choice(list(bitmaps))
            return ["map", "new", "--name", name, "--media", "water", "--bitmap", rng.choice(bitmaps[size]),
                    "--replace"]
        if kind == "import":
            size = rng.choice(list(bitmaps))
            return ["map", "import", "color", name, rng.choice(bitmaps[size]), "--resize"]
        if kind == "shift":
            return ["map", "shift", name, "--dx", str(rng.choice([-1, 1])), "--dy", "0"]
        return ["map", "resave", name]

    def reader_command():
        name = rng.choice(maps)
        kind = rng.choice(["check", "info", "cat", "list"])
        if kind == "check":
            return ["map", "check", name]
        if kind == "info":
            return ["map", "info", name, "--json"]
        if kind == "cat":
            return ["tags", "cat", "mesh", identifiers[name]]
        return ["map", "list"]

    counts = Counts()
    failures = []
    running = {}  # pid -> (process, role, command, kill_at or None)
    deadline = time.monotonic() + args.seconds

    def start(role):
        command = writer_command() if role == "writer" else reader_command()
        process = subprocess.Popen([tool, "--root", root] + command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=env)
        kill_at = None
        if role == "writer" and rng.random() < args.kill_chance:
            kill_at = time.monotonic() + rng.uniform(0.0, 0.4)
        running[process.pid] = (process, role, command, kill_at)

    def finish(process, role, command, killed):
        out, err = process.communicate()
        out, err = out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
        counts.add(role + "s run")
        if killed:
            counts.add("writers killed")
            return
        if process.returncode == 0:
            counts.add(role + "s succeeded")
            return
        if role == "writer" and any(text in err for text in BUSY_TEXTS):
            counts.add("writers refused (lock held)")
            return
        if role == "writer":
            counts.add("writers failed otherwise")
            failures.append(f"writer {' '.join(command)} exited {process.returncode}: {err.strip()[:300]}")
            return
        counts.add("readers failed")
        text = out + err
        if any(hint in text for hint in CORRUPT_HINTS) and "no problems" not in text:
            counts.add("false corrupt")
        failures.append(f"reader {' '.join(command)} exited {process.returncode}: {text.strip()[:300]}")

    while time.monotonic() < deadline or running:
        now = time.monotonic()
        if now < deadline:
            writers = sum(1 for _, role, _, _ in running.values() if role == "writer")
            readers = len(running) - writers
            for _ in range(args.writers - writers):
                start("writer")
            for _ in range(args.readers - readers):
                start("reader")
        for pid, (process, role, command, kill_at) in list(running.items()):
            killed = False
            if process.poll() is None:
                if kill_at is not None and time.monotonic() >= kill_at:
                    process.send_signal(signal.SIGKILL)
                    process.wait()
                    killed = True
                else:
                    continue
            del running[pid]
            finish(process, role, command, killed)
        time.sleep(0.005)

    # The end: one more writer finishes whatever a killed one left, then every map is checked.
    subprocess.run([tool, "--root", root, "map", "list"], stdout=subprocess.DEVNULL, env=env)
    subprocess.run([tool, "--root", root, "prefs", "show"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=env)
    for name in maps:
        # A resave takes the store lock: a stopped commit is finished before the check below.
        subprocess.run([tool, "--root", root, "map", "resave", name], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=env)
        check = subprocess.run([tool, "--root", root, "map", "check", name], capture_output=True, text=True, env=env)
        counts.add("maps checked at the end")
        if check.returncode != 0:
            counts.add("maps unsound at the end")
            failures.append(f"final check of {name}: {check.stdout.strip()} {check.stderr.strip()}")
    leftovers = []
    for folder, _, files in os.walk(root):
        leftovers += [os.path.join(folder, f) for f in files if f.startswith(TEMPORARY_PREFIX) or f == "tarn2 commit"]
    counts.add("temporaries left", len(leftovers))
    failures += [f"left over: {path}" for path in leftovers]
    violations_path = os.path.join(witness, "violations")
    violations = open(violations_path).read().splitlines() if os.path.exists(violations_path) else []
    counts.add("double lock holders", len(violations))
    failures += violations

    print(f"stress: {args.seconds:.0f} s, {args.writers} writers, {args.readers} readers")
    for key in ("writers run", "writers succeeded", "writers refused (lock held)", "writers killed",
                "writers failed otherwise", "readers run", "readers succeeded", "readers failed", "false corrupt",
                "maps checked at the end", "maps unsound at the end", "temporaries left", "double lock holders"):
        print(f"  {key}: {counts[key]}")
    for failure in failures[:40]:
        print("  FAULT " + failure)
    if args.keep:
        print(f"  store kept in {root}")
    else:
        shutil.rmtree(work, ignore_errors=True)
    bad = (counts["readers failed"] + counts["false corrupt"] + counts["maps unsound at the end"] +
           counts["temporaries left"] + counts["double lock holders"] + counts["writers failed otherwise"])
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
