#!/usr/bin/env python3
# Where the launcher's time goes on the 64 MiB payload check under Wine, beside the CNG loop over
# the same bytes (docs/performance.md, "The large payload, broken down"). As root, after
# scripts/bench has built its programs:
#
#   payload_breakdown.py [--rounds N] [--instructions]
#
# Each round starts, in turn, the program that does nothing, the CNG loop, the launcher with
# --verify-payload, and a bench-only copy of that launcher linked with a file alignment of 4096
# (nothing else differs: same sources, same payload, same digests). Every start is taken twice:
# once plain, for its wall time and the process's own processor time and page faults (wait4),
# and once with Wine's timestamped debug channels (+module for the image mapping, +bcrypt for
# every hash call), which split it into phases: the image mapped and its sections copied, the
# process's start up to its first resource lookup, the resource lookups, each hash pass, and the
# end. --instructions adds callgrind's count of executed instructions per program (about ten
# seconds each, not affected by other load on the machine).
import argparse, os, re, statistics, subprocess, sys, time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402  (the bench's layout and helpers)

ALIGNED = bench.BENCH / "large-aligned"
ALIGNMENT_FLAG = "-Wl,--file-alignment=4096"
TRACE_CHANNELS = "+timestamp,+module,+bcrypt"
EVENT = re.compile(r"^(\d+\.\d+):[0-9a-f]+:(\w+):(\w+):(\S+) ?(.*)$")


def aligned_launcher(host_bytes):
    # The bench-only link: the launcher of the large tree's inputs with page-aligned sections.
    host = bench.BENCH / f"host-random-{host_bytes}.exe"
    bench.run("cmake", "--preset", "windows", "-B", ALIGNED, f"-DVEXO_PAYLOAD_HOST={host}",
              f"-DCMAKE_EXE_LINKER_FLAGS={ALIGNMENT_FLAG}", cwd=bench.SOURCE)
    bench.run("cmake", "--build", ALIGNED, "--target", "vexo_launcher")
    return ALIGNED / "bin/Vexo-Host.exe"


def file_alignment(path):
    data = Path(path).read_bytes()
    header = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[header + 24 + 36:header + 24 + 40], "little")


def start(command, env):
    # Wall milliseconds, and the process's own user and system milliseconds and minor faults.
    began = time.perf_counter()
    process = subprocess.Popen(command, env=env, **bench.QUIET)
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        bench.fail(f"{command} ended with status {status}")
    return {"wall ms": 1000 * (time.perf_counter() - began), "user ms": 1000 * usage.ru_utime,
            "system ms": 1000 * usage.ru_stime, "page faults": usage.ru_minflt}


def traced(command, env):
    # The debug channels' events as (seconds, channel, function, text).
    result = subprocess.run(command, env={**env, "WINEDEBUG": TRACE_CHANNELS}, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, errors="replace")
    return [(float(m[1]), m[3], m[4], m[5]) for m in map(EVENT.match, result.stderr.splitlines()) if m]


def phases(events, image):
    # The phases of one traced start of the launcher (or the loop, whose image has no resources).
    name = image.name
    mapped = next(i for i, e in enumerate(events) if e[2] == "map_image_into_view" and "mapping PE file" in e[3]
                  and name in e[3])
    copied = next(i for i in range(mapped + 1, len(events))
                  if not (events[i][2] == "map_image_into_view" and (name in events[i][3] or "clearing" in events[i][3])))
    result = {"image mapped and copied": events[copied][0] - events[mapped][0]}
    lookups = [i for i, e in enumerate(events) if e[2] == "FindResourceExW" and "#000a" in e[3]]
    first_hash = next(i for i, e in enumerate(events) if e[2] == "BCryptOpenAlgorithmProvider" and i > copied)
    result["start to the first hash"] = events[lookups[0] if lookups else first_hash][0] - events[copied][0]
    result["resource lookups"] = sum(
        events[next(j for j in range(i, len(events)) if events[j][2] == "BCryptOpenAlgorithmProvider")][0] - events[i][0]
        for i in lookups)
    passes, began, size, calls = [], None, 0, 0
    for when, _, function, text in events[first_hash:]:
        if function == "BCryptCreateHash":
            began, size, calls = when, 0, 0
        elif function == "BCryptHashData" and began is not None:
            size, calls = size + int(text.split(",")[2]), calls + 1
        elif function == "BCryptFinishHash" and began is not None:
            passes.append((size, calls, when - began))
            began = None
    largest = max(passes)
    result[f"hash of the {largest[0] / bench.MIB:.0f} MiB Host in {largest[1]} call(s)"] = largest[2]
    result["hashes of the other files"] = sum(p[2] for p in passes if p is not largest)
    result["end after the last hash"] = events[-1][0] - max(e[0] for e in events if e[2] == "BCryptFinishHash")
    return {key: 1000 * value for key, value in result.items()}


def instructions(command, env):
    output = subprocess.run(["valgrind", "--tool=callgrind", "--trace-children=yes", "--callgrind-out-file=/dev/null",
                             *command], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, errors="replace").stderr
    return max(int(n.replace(",", "")) for n in re.findall(r"I\s+refs:\s+([\d,]+)", output))


def main():
    options = argparse.ArgumentParser(description=__doc__)
    options.add_argument("--rounds", type=int, default=7)
    options.add_argument("--instructions", action="store_true", help="count instructions with callgrind")
    args = options.parse_args()
    large = bench.large_launcher(bench.LARGE_HOST_BYTES)
    aligned = aligned_launcher(bench.LARGE_HOST_BYTES)
    files = bench.payload_files(bench.LARGE)
    loop = [bench.PLAIN / "bin/vexo-bench-cng-sha256.exe", *[a for p, d in files.items() for a in (bench.windows_path(p), d)]]
    programs = {"no-op start": [bench.PLAIN / "bin/vexo-bench-noop.exe"], "CNG loop": loop,
                "launcher": [large, "--verify-payload"], "launcher, aligned 4096": [aligned, "--verify-payload"]}
    env = {**os.environ, **bench.WINE_ENV}
    subprocess.run([bench.SOURCE / "cmake/wine-run", bench.PREFIX, "cmd", "/c", "exit", "0"], **bench.QUIET)
    subprocess.run(["wineserver", "-p"], env=env, **bench.QUIET)
    try:
        samples, split = {}, {}
        for round_number in range(args.rounds + 1):  # the first round is not counted
            for name, command in programs.items():
                command = ["wine", *map(str, command)]
                figures = start(command, env)
                events = traced(command, env) if name != "no-op start" else []
                if round_number == 0:
                    continue
                for key, value in figures.items():
                    samples.setdefault(name, {}).setdefault(key, []).append(value)
                if events:
                    image = Path(programs[name][0])
                    for key, value in phases(events, image).items():
                        split.setdefault(name, {}).setdefault(key, []).append(value)
        counted = {name: instructions(["wine", *map(str, command)], env) for name, command in programs.items()} \
            if args.instructions else {}
    finally:
        subprocess.run(["wineserver", "-k"], env=env, **bench.QUIET)
    print(f"\n{args.rounds} counted rounds; medians, lowest and highest in brackets; load average "
          f"{' '.join(f'{v:.2f}' for v in os.getloadavg())} at the end\n")
    keys = ("wall ms", "user ms", "system ms", "page faults")
    print("| program | file alignment | " + " | ".join(keys) + (" | instructions |" if counted else " |"))
    print("|---|---|" + "---|" * (len(keys) + bool(counted)))
    for name, command in programs.items():
        cells = [f"{statistics.median(samples[name][k]):.0f} ({min(samples[name][k]):.0f} to "
                 f"{max(samples[name][k]):.0f})" for k in keys]
        print(f"| {name} | {file_alignment(command[0])} | " + " | ".join(cells) +
              (f" | {counted[name] / 1e6:.1f} M |" if counted else " |"))
    for name, parts in split.items():
        print(f"\n{name}, by the debug channels (ms; 1 ms resolution):\n")
        print("| phase | median | lowest | highest |\n|---|---|---|---|")
        for key, values in parts.items():
            print(f"| {key} | {statistics.median(values):.0f} | {min(values):.0f} | {max(values):.0f} |")


if __name__ == "__main__":
    main()
