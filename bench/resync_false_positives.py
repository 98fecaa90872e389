#!/usr/bin/env python3
"""Feeds the salvage's search (the built bench/resync_bench) a gigabyte or more
of each kind of bytes that holds no archive, and prints what it accepted (must
be 0) and how long it took:

    random   bytes from os.urandom
    h264     an H.264 stream in Annex B (libx264, noisy test pattern)
    jpeg     JPEG pictures back to back (ffmpeg's mjpeg)
    zeros    zero bytes (written, not a hole)

    bench/resync_false_positives.py build/release/bench/resync_bench [--gib 1] [--scratch DIR] [--only h264,zeros]

Each input is made in the scratch directory, searched with both codecs'
checks, with the one-day window on record times and with any time accepted,
and removed before the next is made.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

BLOCK = 1 << 24


def write_blocks(path, size, block):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            data = block(min(BLOCK, left))
            f.write(data)
            left -= len(data)


def ffmpeg_until(path, size, source, codec_args, fmt):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", source, *codec_args, "-fs", str(size),
                    "-f", fmt, path], check=True)


MAKERS = {
    "random": lambda path, size: write_blocks(path, size, os.urandom),
    "zeros": lambda path, size: write_blocks(path, size, bytes),
    "h264": lambda path, size: ffmpeg_until(
        path, size, "testsrc2=size=1280x720:rate=30,noise=alls=40:allf=t",
        ["-c:v", "libx264", "-preset", "ultrafast", "-qp", "8", "-g", "60", "-t", "100000"], "h264"),
    "jpeg": lambda path, size: ffmpeg_until(
        path, size, "testsrc2=size=1280x720:rate=30,noise=alls=40:allf=t",
        ["-c:v", "mjpeg", "-q:v", "2", "-t", "100000"], "mjpeg"),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bench", help="the built resync_bench")
    parser.add_argument("--gib", type=float, default=1.0, help="size of each input (default 1)")
    parser.add_argument("--scratch", default=None, help="where the inputs are made (default: a temporary directory)")
    parser.add_argument("--only", default=",".join(MAKERS), help="inputs to make, comma-separated")
    args = parser.parse_args()
    size = int(args.gib * (1 << 30))
    failed = False
    with tempfile.TemporaryDirectory(dir=args.scratch, prefix="resync-bench-") as scratch:
        for kind in args.only.split(","):
            path = os.path.join(scratch, kind + ".bin")
            started = time.monotonic()
            MAKERS[kind](path, size)
            print(f"# {kind}: {os.path.getsize(path) / (1 << 30):.3f} GiB made in {time.monotonic() - started:.0f} s",
                  flush=True)
            result = subprocess.run([args.bench, path], capture_output=True, text=True)
            sys.stdout.write(result.stdout)
            sys.stderr.write(result.stderr)
            accepted = [line for line in result.stdout.splitlines() if "accepted 0 " not in line]
            failed = failed or result.returncode != 0 or bool(accepted)
            os.remove(path)
    print("# nothing accepted" if not failed else "# SOMETHING WAS ACCEPTED OR FAILED")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
