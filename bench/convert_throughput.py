#!/usr/bin/env python3
"""Conversion speed of the whole tool against the honest floor for its job.

The tool reads every archive, writes its output next to it, makes the output
durable and deletes the archive. The least any program doing that must cost
is the floor measured here on the same tree:

    cp -r SRC DST && sync && rm -r SRC && sync

(copy, make the copy durable, delete the sources, make that durable). `cp -r`
followed by `sync` alone is shown for reference. Each timed command starts
from a cold page cache (`sync; echo 3 > /proc/sys/vm/drop_caches`) when that
file can be written (root); otherwise the output says that caches stayed
warm. Floor and tool run side by side, alternately, `--repeat` times each,
every run on a fresh copy of the corpus; medians are printed with the range,
and ratio = floor time / tool time (1.0: as fast as the floor).

Corpora that hold H.264 archives are converted a second time with
`--format mp4`, side by side with the FLV runs: ratio = FLV time / MP4 time
(the MP4 writer reads the frames twice, the second time from the cache).
The `day` corpus, one recording of 24 hours at 25 fps (2.16 million
frames), gives the MP4 mode's peak resident memory: its index costs a few
bytes per frame.

The `million` corpus (a million tiny archives) measures the tool's peak
resident memory, read from its own /proc/PID/status (VmHWM) while it runs,
and its time per archive; it has no floor. Building it takes a while: it is
built once and copied for each repeat.

Payload bytes are not decoded, so their content does not matter for speed.
Prints figures; never fails on them.

    bench/convert_throughput.py build/release/app/avdconv [--scratch DIR] [--repeat 3] [--only NAME[,NAME]] [--scale 1.0]
        [--formats flv,mp4]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import avdfixture  # noqa: E402

MIB = 1024 * 1024
SPS = bytes.fromhex("6742c00dd90141fb011000000300100000030320f142a480")
PPS = bytes.fromhex("68cb83cb20")
DROP_CACHES = "/proc/sys/vm/drop_caches"


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


def archive_name(n):
    """Names as recorders write them: the time of the recording and a number."""
    return f"2026-12-09_12-00-00_{n:06d}.avd"


class Corpus:
    def __init__(self, name, title, layout, per_directory, floor=True):
        self.name = name
        self.title = title
        self.layout = layout  # (count, kind, size, frame size) groups
        self.per_directory = per_directory
        self.floor = floor

    def build(self, root):
        """Writes the archives; returns how many."""
        n = 0
        cache = {}
        for count, kind, size, frame_size in self.layout:
            key = (kind, size, frame_size)
            if key not in cache:
                cache[key] = archive_bytes(kind, size, frame_size)
            data = cache[key]
            for _ in range(count):
                sub = os.path.join(root, f"d{n // self.per_directory:04d}")
                if n % self.per_directory == 0:
                    os.makedirs(sub, exist_ok=True)
                fd = os.open(os.path.join(sub, archive_name(n)), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
                try:
                    os.write(fd, data)
                finally:
                    os.close(fd)
                n += 1
        return n


def corpora(scale):
    def scaled(count):
        return max(int(count * scale), 1)

    return [
        Corpus("large", "large: 4 x 100 MiB",
               [(scaled(2), "h264", 100 * MIB, 25_000), (scaled(2), "mjpeg", 100 * MIB, 100_000)], 500),
        Corpus("mixed", "mixed: 2 x 100 MiB + 200 x 1 MiB",
               [(1, "h264", int(100 * MIB * scale), 25_000), (1, "mjpeg", int(100 * MIB * scale), 100_000),
                (scaled(100), "h264", MIB, 25_000), (scaled(100), "mjpeg", MIB, 100_000)], 500),
        Corpus("small", "small: 2,000 x 0.1 MiB",
               [(scaled(1000), "h264", MIB // 10, 10_000), (scaled(1000), "mjpeg", MIB // 10, 10_000)], 500),
        Corpus("many", "many: 20,000 x 4 KiB in 80 directories",
               [(scaled(10_000), "h264", 4096, 1000), (scaled(10_000), "mjpeg", 4096, 1000)], 250),
        Corpus("million", "million: 1,000,000 tiny archives",
               [(scaled(500_000), "h264", 120, 120), (scaled(500_000), "mjpeg", 120, 120)], 2000, floor=False),
        Corpus("day", "day: 24 hours at 25 fps, 2,160,000 frames",
               [(1, "h264", scaled(2_160_000) * 40, 40)], 1, floor=False),
    ]


def tree_bytes(root):
    return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(root) for n in names)


def can_drop_caches():
    if os.geteuid() != 0 or not os.access(DROP_CACHES, os.W_OK):
        return False
    return drop_caches()


def drop_caches():
    subprocess.run(["sync"], check=True)
    try:
        with open(DROP_CACHES, "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def sh(*command):
    subprocess.run(command, check=True)


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


def run_tool(avdconv, target, log, options=()):
    """Wall time, peak resident memory (KiB), exit status and the last line
    of standard error of one run of the tool."""
    with open(log, "w+b") as err:
        start = time.perf_counter()
        process = subprocess.Popen([avdconv, *options, target], stdout=subprocess.DEVNULL, stderr=err)
        peak = 0
        while process.poll() is None:
            peak = max(peak, peak_resident_kib(process.pid))
            time.sleep(0.002)
        elapsed = time.perf_counter() - start
        err.seek(0)
        lines = err.read().decode(errors="replace").splitlines()
    return elapsed, peak, process.returncode, lines[-1] if lines else ""


class Bench:
    def __init__(self, avdconv, work, cold):
        self.avdconv = avdconv
        self.work = work
        self.cold = cold

    def fresh_copy(self, pristine, name):
        path = os.path.join(self.work, name)
        if os.path.exists(path):
            sh("rm", "-r", path)
        sh("cp", "-r", pristine, path)
        return path

    def settle(self):
        if self.cold:
            drop_caches()
        else:
            sh("sync")

    def floor(self, pristine):
        """(cp -r + sync, the whole floor) in seconds."""
        source = self.fresh_copy(pristine, "floor-source")
        copy = os.path.join(self.work, "floor-copy")
        self.settle()
        start = time.perf_counter()
        sh("cp", "-r", source, copy)
        sh("sync")
        copied = time.perf_counter() - start
        sh("rm", "-r", source)
        sh("sync")
        whole = time.perf_counter() - start
        sh("rm", "-r", copy)
        return copied, whole

    def tool(self, pristine, options=()):
        """(seconds, peak RSS KiB, note) of the tool on a fresh copy."""
        target = self.fresh_copy(pristine, "tool-target")
        self.settle()
        # The converted tree goes with the next copy or the scratch
        # directory, after the figures are out: deleting a million files
        # takes a while.
        elapsed, peak, status, last = run_tool(self.avdconv, target, os.path.join(self.work, "tool-stderr"), options)
        note = f"exit {status}: {last}" if status != 0 or last else ""
        return elapsed, peak, note


def spread(values, unit="s", digits=2):
    return f"{statistics.median(values):.{digits}f} {unit} [{min(values):.{digits}f} - {max(values):.{digits}f}]"


def measure(bench, corpus, pristine, count, size_mib, repeat, formats):
    copies, floors, notes = [], [], set()
    tools = {f: [] for f in formats}
    peaks = {f: [] for f in formats}
    for i in range(repeat):
        # Alternate the order of the sides, so that a drift of the disk
        # favours none.
        sides = (["floor"] if corpus.floor else []) + list(formats)
        if i % 2:
            sides.reverse()
        for side in sides:
            if side == "floor":
                copied, whole = bench.floor(pristine)
                copies.append(copied)
                floors.append(whole)
            else:
                elapsed, peak, note = bench.tool(pristine, ("--format", side))
                tools[side].append(elapsed)
                peaks[side].append(peak)
                if note:
                    notes.add(note)

    if corpus.floor:
        print(f"  floor  cp -r + sync + rm -r + sync  {spread(floors):28} {size_mib / statistics.median(floors):8.1f} MiB/s")
        print(f"  copy   cp -r + sync                 {spread(copies):28} {size_mib / statistics.median(copies):8.1f} MiB/s")
    for fmt in formats:
        per_archive = [t / count * 1000 for t in tools[fmt]]
        print(f"  {fmt:6} avdconv --format {fmt:12} {spread(tools[fmt]):28} "
              f"{size_mib / statistics.median(tools[fmt]):8.1f} MiB/s"
              f"   {spread(per_archive, 'ms/archive', 3)}   peak RSS {max(peaks[fmt]) / 1024:.1f} MiB")
        if corpus.floor:
            ratios = [f / t for f, t in zip(floors, tools[fmt])]
            print(f"  ratio  floor / {fmt:21} {spread(ratios, '')}")
    if "flv" in formats and "mp4" in formats:
        ratios = [f / m for f, m in zip(tools["flv"], tools["mp4"])]
        print(f"  ratio  flv / mp4                    {spread(ratios, '')}")
    for note in sorted(notes):
        print(f"  note   {note}")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("avdconv")
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies every corpus size")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each side; the median counts")
    parser.add_argument("--only", help="comma-separated corpus names: large, mixed, small, many, million, day")
    parser.add_argument("--formats", default="flv,mp4",
                        help="comma-separated: flv, mp4 (H.264 outputs; MJPEG is AVI either way)")
    parser.add_argument("--scratch", default=None, help="where to build the corpora (default: system temp)")
    args = parser.parse_args()
    avdconv = os.path.abspath(args.avdconv)
    chosen = corpora(args.scale)
    if args.only:
        wanted = {name.strip() for name in args.only.split(",")}
        unknown = wanted - {c.name for c in chosen}
        if unknown:
            parser.error(f"unknown corpus: {', '.join(sorted(unknown))}")
        chosen = [c for c in chosen if c.name in wanted]

    cold = can_drop_caches()
    print(f"avdconv: {avdconv}")
    print("page cache: dropped before each timed command" if cold else
          f"page cache: could NOT be dropped (needs root and a writable {DROP_CACHES}); figures are from a warm cache")
    print(f"repeats: {args.repeat} of each side, median [range]")
    for corpus in chosen:
        work = tempfile.mkdtemp(prefix="avdconv-bench-", dir=args.scratch)
        try:
            pristine = os.path.join(work, "pristine")
            start = time.perf_counter()
            count = corpus.build(pristine)
            sh("sync")
            built = time.perf_counter() - start
            size_mib = tree_bytes(pristine) / MIB
            print(f"{corpus.title}: {count} archives, {size_mib:.1f} MiB, built in {built:.1f} s", flush=True)
            # Only H.264 archives have a format to choose.
            formats = [f.strip() for f in args.formats.split(",")]
            if not any(kind == "h264" for _, kind, _, _ in corpus.layout):
                formats = formats[:1]
            measure(Bench(avdconv, work, cold), corpus, pristine, count, size_mib, args.repeat, formats)
        finally:
            subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
