#!/usr/bin/env python3
"""Conversion speed of the whole tool against the disk's own limit.

Builds each corpus of synthetic archives under a scratch directory (payload
bytes are not decoded, so their content does not matter for speed), then
times, side by side in the same run, `cp -r` of the tree followed by `sync`
(the same bytes read and written, and made durable) and `avdconv` over
another copy of it. Prints MB/s, the ratio of the copy's time to the tool's
(1.0: as fast as copying), time per archive and the tool's peak resident
memory. Prints figures; never fails on them.

    bench/convert_throughput.py build/release/app/avdconv [--scale 1.0] [--repeat 3] [--only NAME]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import avdfixture  # noqa: E402

MIB = 1024 * 1024
SPS = bytes.fromhex("6742c00dd90141fb011000000300100000030320f142a480")
PPS = bytes.fromhex("68cb83cb20")


def flv_tag(body):
    return bytes([9]) + len(body).to_bytes(3, "big") + b"\0" * 7 + body + (len(body) + 11).to_bytes(4, "big")


def archive_bytes(kind, size, frame_size):
    """An archive of about `size` bytes in frames of about `frame_size`."""
    payload = os.urandom(frame_size)
    if kind == "mjpeg":
        head, frame = avdfixture.mjpeg_header(25, 1280, 720), payload
    else:
        head, frame = avdfixture.h264_header(SPS, PPS), flv_tag(b"\x17\x01\0\0\0" + payload[:max(frame_size - 20, 1)])
    records = [avdfixture.record(1, frame, *avdfixture.frame_time(i, 25)) for i in range(max(size // frame_size, 1))]
    return head + b"".join(records)


def make_corpus(root, layout):
    """`layout`: (count, kind, size, frame size) groups, spread over directories of 500."""
    n = 0
    cache = {}
    for count, kind, size, frame_size in layout:
        key = (kind, size, frame_size)
        if key not in cache:
            cache[key] = archive_bytes(kind, size, frame_size)
        for _ in range(count):
            sub = os.path.join(root, f"d{n // 500}")
            os.makedirs(sub, exist_ok=True)
            with open(os.path.join(sub, f"a{n}.avd"), "wb") as f:
                f.write(cache[key])
            n += 1
    return n


def tree_bytes(root):
    return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(root) for n in names)


def peak_resident_kib(pid):
    """The process's own high-water mark, which the rusage of a child forked
    from this large process would overstate."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_timed(command):
    """Wall time and peak resident memory (KiB) of one command."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        peak = max(peak, peak_resident_kib(process.pid))
        time.sleep(0.005)
    elapsed = time.perf_counter() - start
    if process.returncode != 0:
        raise SystemExit(f"{command[0]} failed with status {process.returncode}")
    return elapsed, peak


def measure(avdconv, work, source, repeat):
    """Best of `repeat`: (copy time, tool time, tool peak RSS KiB)."""
    best_cp = best_tool = float("inf")
    peak = 0
    for i in range(repeat):
        copy = os.path.join(work, f"copy{i}")
        start = time.perf_counter()
        subprocess.run(["cp", "-r", source, copy], check=True)
        subprocess.run(["sync"], check=True)
        best_cp = min(best_cp, time.perf_counter() - start)
        shutil.rmtree(copy)
        target = os.path.join(work, f"target{i}")
        subprocess.run(["cp", "-r", source, target], check=True)
        subprocess.run(["sync"], check=True)
        elapsed, rss = run_timed([avdconv, target])
        best_tool = min(best_tool, elapsed)
        peak = max(peak, rss)
        shutil.rmtree(target)
        subprocess.run(["sync"], check=True)
    return best_cp, best_tool, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("avdconv")
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies every corpus size")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each side; the best counts")
    parser.add_argument("--only", help="run the corpora whose name contains this")
    parser.add_argument("--scratch", default=None, help="where to build the corpora (default: system temp)")
    args = parser.parse_args()
    s = args.scale
    corpora = {
        "large: 2 x 100 MiB": [(1, "h264", int(100 * MIB * s), 25_000), (1, "mjpeg", int(100 * MIB * s), 100_000)],
        "small: 2000 x 1 MiB": [(int(1000 * s), "h264", MIB, 25_000), (int(1000 * s), "mjpeg", MIB, 100_000)],
        "mixed: 2 x 100 MiB + 200 x 1 MiB": [(1, "h264", int(100 * MIB * s), 25_000),
                                             (1, "mjpeg", int(100 * MIB * s), 100_000),
                                             (int(100 * s), "h264", MIB, 25_000), (int(100 * s), "mjpeg", MIB, 100_000)],
        "tiny: 100000 x 4 KiB": [(int(50_000 * s), "h264", 4096, 1000), (int(50_000 * s), "mjpeg", 4096, 1000)],
    }
    print(f"{'corpus':34} {'MiB':>7} {'cp+sync MB/s':>13} {'tool MB/s':>10} {'ratio':>6} "
          f"{'cp ms/file':>11} {'tool ms/file':>13} {'peak RSS MiB':>13}")
    for name, layout in corpora.items():
        if args.only and args.only not in name:
            continue
        work = tempfile.mkdtemp(prefix="avdconv-bench-", dir=args.scratch)
        try:
            source = os.path.join(work, "source")
            count = make_corpus(source, layout)
            size = tree_bytes(source) / MIB
            cp_time, tool_time, peak = measure(args.avdconv, work, source, args.repeat)
            print(f"{name:34} {size:7.1f} {size / cp_time:13.1f} {size / tool_time:10.1f} {cp_time / tool_time:6.2f} "
                  f"{cp_time / count * 1000:11.3f} {tool_time / count * 1000:13.3f} {peak / 1024:13.1f}", flush=True)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
