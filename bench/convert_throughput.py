#!/usr/bin/env python3
"""Conversion throughput of the whole tool against a plain copy of the same bytes.

Builds corpora of synthetic archives (payload bytes are not decoded, so their
content does not matter for speed), then for each corpus times `cp -r` of the
tree and `avdconv` over a copy of it, and reports MB/s, the ratio to the copy,
and the tool's peak resident memory. Prints figures; never fails on them.

    bench/convert_throughput.py build/release/app/avdconv [--scale 1.0]
"""

import argparse
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import avdfixture  # noqa: E402

MIB = 1024 * 1024


def flv_tag(body):
    return (bytes([9]) + len(body).to_bytes(3, "big") + b"\0" * 7 + body + (len(body) + 11).to_bytes(4, "big"))


def write_archive(path, kind, frames, frame_size):
    payload = os.urandom(frame_size)
    with open(path, "wb") as f:
        if kind == "mjpeg":
            f.write(avdfixture.mjpeg_header(25, 1280, 720))
            frame = payload
        else:
            sps = bytes.fromhex("6742c00dd90141fb011000000300100000030320f142a480")
            f.write(avdfixture.h264_header(sps, bytes.fromhex("68cb83cb20")))
            frame = flv_tag(b"\x17\x01\0\0\0" + payload[: frame_size - 20])
        for i in range(frames):
            f.write(avdfixture.record(1, frame, *avdfixture.frame_time(i, 25)))


def make_corpus(root, layout):
    os.makedirs(root)
    for i, (kind, frames, frame_size) in enumerate(layout):
        sub = os.path.join(root, f"d{i % 16}")
        os.makedirs(sub, exist_ok=True)
        write_archive(os.path.join(sub, f"a{i}.avd"), kind, frames, frame_size)


def tree_bytes(root):
    return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(root) for n in names)


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("avdconv")
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies every corpus size")
    args = parser.parse_args()
    s = args.scale
    corpora = {
        "MJPEG, 2 large archives": [("mjpeg", int(1500 * s), 100_000)] * 2,
        "H.264, 2 large archives": [("h264", int(6000 * s), 25_000)] * 2,
        "mixed, 2000 small archives": [("mjpeg" if i % 2 else "h264", 10, 5_000) for i in range(int(2000 * s))],
        "mixed, 4 large + 400 small": ([("mjpeg", int(800 * s), 100_000)] * 2 + [("h264", int(3000 * s), 25_000)] * 2
                                       + [("h264", 20, 4_000)] * int(400 * s)),
    }
    print(f"{'corpus':32} {'MiB':>8} {'cp MB/s':>9} {'tool MB/s':>10} {'ratio':>6} {'peak RSS MiB':>13}")
    for name, layout in corpora.items():
        work = tempfile.mkdtemp(prefix="avdconv-bench-")
        try:
            source = os.path.join(work, "source")
            make_corpus(source, layout)
            size = tree_bytes(source)
            cp_time = timed(["cp", "-r", source, os.path.join(work, "copy")])
            target = os.path.join(work, "target")
            shutil.copytree(source, target)
            subprocess.run(["sync"], check=False)
            before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
            tool_time = timed([args.avdconv, target])
            peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
            peak_note = f"{peak / 1024:13.1f}" if peak > before else f"{'<=' + format(peak / 1024, '.1f'):>13}"
            print(f"{name:32} {size / MIB:8.1f} {size / MIB / cp_time:9.1f} {size / MIB / tool_time:10.1f} "
                  f"{cp_time / tool_time:6.2f} {peak_note}")
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
