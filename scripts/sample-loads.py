#!/usr/bin/env python3
"""Samples a run's threads from outside: which kernel load each worker is in, and
which instructions it runs. Starts the program with the given options under Wine
(inside Xvfb), attaches gdb now and then, and counts every thread's instruction
pointer by the object file whose code holds it (from a linker map made by linking
the program again), and the instruction there. A stream sample is the 8 KB area's
or a cache-sized area's by the distance between its quarters in the registers.

    python3 scripts/sample-loads.py 64 60 /threads all
    python3 scripts/sample-loads.py 32 40 /threads all /kernel fma

Needs the build of scripts/test.sh (BUILD_DIR, BUILD64_DIR) and gdb.
"""
import collections
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOADS = [("WorkerKernel", "stream"), ("KernelClassFma", "fma"), ("KernelClassInteger", "integer"),
         ("KernelClassVector", "vector"), ("KernelClassCrypto", "crypto")]


def linker_map(build, exe):
    """Links the program again with a map; returns its code ranges by object."""
    link = open(os.path.join(build, "CMakeFiles", "Burnwright.dir", "link.txt")).read().strip().splitlines()[-1]
    out = tempfile.mkdtemp()
    mapfile = os.path.join(out, "map.txt")
    command = link.replace("-o " + exe, "-o %s/%s -Wl,-Map,%s" % (out, exe, mapfile))
    subprocess.run(command, shell=True, cwd=build, check=True)
    ranges = []
    for m in re.finditer(r"^ \.text\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+\S*\((\w+)\.cpp\.obj\)", open(mapfile).read(), re.M):
        start, size = int(m.group(1), 16), int(m.group(2), 16)
        if size:
            ranges.append((start, start + size, m.group(3)))
    return sorted(ranges)


def object_at(ranges, address):
    for start, end, obj in ranges:   # a few hundred: no need to bisect
        if start <= address < end:
            return obj
    return None


def program_process(exe):
    for p in os.listdir("/proc"):
        if not p.isdigit():
            continue
        try:
            cmdline = open("/proc/%s/cmdline" % p).read()
            if cmdline.split("\0")[0].endswith(exe):
                for line in open("/proc/%s/maps" % p):
                    if line.rstrip().endswith(exe):
                        return int(p), int(line.split("-")[0], 16)
        except OSError:
            continue
    return None, None


def quarter(registers):
    """The smallest distance between pointer-like registers that is a multiple of 512."""
    values = sorted(set(v for v in registers if v > 0x10000))
    best = None
    for i, low in enumerate(values):
        for high in values[i + 1:]:
            d = high - low
            if d >= 512 and d % 512 == 0 and d <= (64 << 20) and (best is None or d < best):
                best = d
    return best


def main(bits, seconds, options):
    build = os.environ.get("BUILD64_DIR" if bits == "64" else "BUILD_DIR",
                           os.path.join(ROOT, "build64" if bits == "64" else "build"))
    exe = "Burnwright64.exe" if bits == "64" else "Burnwright.exe"
    image_base, pc_name = (0x140000000, "rip") if bits == "64" else (0x400000, "eip")
    ranges = linker_map(build, exe)
    brand = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read()).group(1)
    runner = os.path.join(ROOT, "scripts", "wine64-run" if bits == "64" else "wine-run")
    minutes = max(1, int(seconds + 20) // 60 + 1)
    run = subprocess.Popen(["xvfb-run", "-a", "bash", runner, os.path.join(build, exe), "/run", "/hours", "0",
                            "/minutes", str(minutes)] + options, cwd=tempfile.mkdtemp(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pid = base = None
    for _ in range(120):
        time.sleep(0.5)
        pid, base = program_process(exe)
        if pid:
            break
    if not pid:
        print("the program did not start")
        return 1
    time.sleep(6)   # past the start and the fill

    counts, mnemonics = collections.Counter(), collections.Counter()
    snapshots = 0
    end = time.time() + seconds
    while time.time() < end and run.poll() is None:
        out = subprocess.run(["gdb", "-nx", "-batch", "-p", str(pid), "-ex", "thread apply all x/i $pc",
                              "-ex", "thread apply all info registers general"],
                             capture_output=True, text=True).stdout
        snapshots += 1
        quarters = {}
        for block in re.split(r"\nThread ", out):
            ip = re.search(r"^%s\s+0x([0-9a-f]+)" % pc_name, block, re.M)
            if ip:
                quarters[int(ip.group(1), 16)] = quarter(
                    int(v, 16) for name, v in re.findall(r"^([re][a-z0-9]+)\s+0x([0-9a-f]+)", block, re.M)
                    if name[1:] not in ("ip", "sp", "bp", "flags"))
        for m in re.finditer(r"=> 0x([0-9a-f]+)[^:]*:\s+(.*)", out):
            pc = int(m.group(1), 16)
            obj = object_at(ranges, pc - base + image_base) if base <= pc < base + (16 << 20) else None
            load = next((name for prefix, name in LOADS if obj and obj.startswith(prefix)), None)
            if not load:
                continue
            if load == "stream" and quarters.get(pc) != 2048:
                q = quarters.get(pc)
                load = "cache (%s area)" % ("%d KB" % (q * 4 // 1024) if q else "unknown")
            counts[load] += 1
            words = m.group(2).split()
            mnemonics[(words[0] if words else "?", bool(re.search(r"%[xyz]mm", m.group(2))))] += 1
        time.sleep(0.2)
    subprocess.run(["pkill", "-f", "^[^ ]*" + re.escape(exe)])
    run.wait()

    total = sum(counts.values())
    print("%s, %s-bit build, options %s: %d snapshots, %d samples in the workers' loads" %
          (brand, bits, " ".join(options) or "(none)", snapshots, total))
    for load, n in sorted(counts.items()):
        print("  %-26s %5d  %5.1f%%" % (load, n, 100.0 * n / max(total, 1)))
    vector = sum(n for (mn, wide), n in mnemonics.items() if wide)
    fused = sum(n for (mn, wide), n in mnemonics.items() if wide and re.match(r"vfn?m(add|sub)", mn))
    print("vector instructions %d, fused multiply-add %d (%.1f%%)" % (vector, fused, 100.0 * fused / max(vector, 1)))
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("32", "64"):
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], float(sys.argv[2]), sys.argv[3:]))
