# The bench's runs judged together (bench/bench.py, docs/performance.md): the machine's state at
# a run's start and end, whether a run is quiet, and whether the quiet runs agree on a figure
# within its band, in the tables bench.py prints.
import os, re, statistics, subprocess, time
from pathlib import Path

RUNS_NEEDED = 3
BUSY_LOAD_PER_CORE = 0.5  # 1.0 on a 2-core machine: one core's worth of other work
BUSY_CPU_PERCENT = 50
SETTLE_POLL_SECONDS = 10
# During a run (Linux): other processes may use at most this many cores' worth of processor time
# on average, and the hypervisor may take (steal) at most this share of the processors' time.
OTHERS_LIMIT_CORES = 0.25
STEAL_LIMIT = 0.05
CPUACCT = Path("/sys/fs/cgroup/cpuacct")  # the run's processes are counted in a group of their own
# How far apart the quiet runs' values of a figure may lie, highest minus lowest: a share of their
# median for ratios and memory, milliseconds for an absolute delay.
BANDS = {"ratio": ("share", 0.10), "memory": ("share", 0.05), "delay": ("ms", 20.0)}


def median(values):
    return statistics.median(values)


def command_output(*args):
    return subprocess.run(list(map(str, args)), check=True, capture_output=True).stdout.decode(errors="replace")


def cpu_times():
    # Busy and total seconds of all processors, and the steal among them (Linux).
    fields = [int(value) / os.sysconf("SC_CLK_TCK") for value in Path("/proc/stat").read_text().split()[1:9]]
    idle = fields[3] + fields[4]
    return {"busy": sum(fields) - idle, "total": sum(fields), "steal": fields[7]}


def join_own_group():
    # Puts this process, and so every process it starts (wineserver and Wine's services too), in
    # a processor accounting group of its own; returns the group, or None where there is none.
    group = CPUACCT / f"vexo-bench-{os.getpid()}"
    try:
        group.mkdir()
        (group / "tasks").write_text(str(os.getpid()))
    except OSError:
        return None
    return group


def leave_group(group):
    # Back to the root group; the run's group goes once its last process has ended.
    (CPUACCT / "tasks").write_text(str(os.getpid()))
    for _ in range(50):
        try:
            group.rmdir()
            return
        except OSError:
            time.sleep(0.1)


def group_seconds(group):
    return int((group / "cpuacct.usage").read_text()) / 1e9


def page_cache_share(path):
    # The share of a file's bytes in the page cache: 1 warm, 0 cold.
    resident, size = command_output("fincore", "--raw", "--bytes", "--noheadings", "-o", "RES,SIZE", path).split()
    return int(resident) / max(int(size), 1)


def available_mib():
    if os.name == "nt":
        free_kib = windows_query("(Get-CimInstance Win32_OperatingSystem).FreePhysicalMemory")
        return free_kib / 1024 if isinstance(free_kib, float) else -1
    meminfo = Path("/proc/meminfo").read_text()
    return int(re.search(r"MemAvailable:\s+(\d+) kB", meminfo).group(1)) / 1024


def windows_query(expression):
    # A number PowerShell prints, or its text when it prints none (a failed query included).
    text = subprocess.run(["powershell", "-NoProfile", "-Command", expression], capture_output=True,
                          text=True, errors="replace").stdout.strip()
    try:
        return float(text)
    except ValueError:
        return text


def busy_level():
    # What says the machine is busy, and its limit: the 1-minute load average beside half the
    # cores, or on Windows the processors' load in per cent.
    if os.name == "nt":
        level = windows_query("(Get-CimInstance Win32_Processor | Measure-Object LoadPercentage -Average).Average")
        return (level if isinstance(level, float) else float("inf")), BUSY_CPU_PERCENT  # unknown counts as busy
    return os.getloadavg()[0], BUSY_LOAD_PER_CORE * os.cpu_count()


def machine_state(images, group=None):
    state = {"time": time.strftime("%Y-%m-%d %H:%M:%S %Z"), "available memory MiB": round(available_mib())}
    level, limit = busy_level()
    state["busy level"], state["busy limit"] = level, limit
    if os.name == "nt":
        state["Defender real-time protection"] = str(windows_query("(Get-MpComputerStatus).RealTimeProtectionEnabled"))
    else:
        state["load"] = [round(value, 2) for value in os.getloadavg()]
        state["cpu"] = cpu_times()
        state["page cache"] = {name: round(page_cache_share(path), 3) for name, path in images.items()}
        if group:
            state["own processor seconds"] = group_seconds(group)
    return state


def busy():
    level, limit = busy_level()
    return level > limit


def settle(seconds):
    # Waits until the machine is quiet, at most `seconds`; returns the seconds waited.
    waited = 0
    while busy() and waited < seconds:
        time.sleep(SETTLE_POLL_SECONDS)
        waited += SETTLE_POLL_SECONDS
    return waited


def disturbance(record):
    # Other processes' average use in cores, and the stolen share, during the run (Linux only).
    start, end = record["start"], record["end"]
    if "cpu" not in start:
        return None
    cpu = {key: end["cpu"][key] - start["cpu"][key] for key in start["cpu"]}
    seconds = cpu["total"] / os.cpu_count()
    others = None
    if "own processor seconds" in end:
        others = max(cpu["busy"] - cpu["steal"] - end["own processor seconds"], 0) / max(seconds, 1e-9)
    return others, cpu["steal"] / max(cpu["total"], 1e-9)


def why_not_quiet(record):
    # Why a run is not a measurement's run, or None when it is quiet.
    if record["short"]:
        return "short mode"
    if record["start"]["busy level"] > record["start"]["busy limit"]:
        return "busy at the start"
    others, steal = disturbance(record) or (None, 0)
    if others is not None and others > OTHERS_LIMIT_CORES:
        return f"other processes used {others:.2f} cores"
    if steal > STEAL_LIMIT:
        return f"the hypervisor took {100 * steal:.0f} %"
    return None


def run_is_quiet(record):
    return why_not_quiet(record) is None


def band_text(kind):
    how, width = BANDS[kind]
    return f"≤ {100 * width:.0f} % of the median" if how == "share" else f"≤ {width:.0f} ms"


def shown(kind, value):
    return {"ratio": f"{value:.2f}×", "delay": f"{value:.1f} ms", "memory": f"{value:.2f} MiB"}[kind]


def judge(kind, values):
    # Whether the runs' values agree within the band of their kind, and how far apart they lie.
    how, width = BANDS[kind]
    distance = max(values) - min(values)
    allowed = width * median(values) if how == "share" else width
    apart = f"{100 * distance / median(values):.1f} %" if how == "share" else f"{distance:.1f} ms"
    return distance <= allowed, apart


def verdict(records, figure):
    # The row of the verdict table for one figure over the runs that measured it.
    rows = [(record, row) for record in records for row in record["rows"] if row["figure"] == figure]
    if not rows:
        return None
    kind = rows[0][1]["kind"]
    values = [shown(kind, row["value"]) + ("" if run_is_quiet(record) else " (not quiet)") for record, row in rows]
    quiet = [row for record, row in rows if run_is_quiet(record)]
    result, target = "—", rows[0][1]["target"]
    if len(quiet) < RUNS_NEEDED:
        said, apart = f"not a measurement: {len(quiet)} quiet run(s) of {RUNS_NEEDED} needed", "—"
    else:
        agree, apart = judge(kind, [row["value"] for row in quiet])
        said = "measurement" if agree else "not a measurement: the runs differ by more than the band"
        if agree:
            middle = median([row["value"] for row in quiet])
            said += f", {shown(kind, middle)}"
            result = rows[0][1]["result"] if target == "—" else target_met(target, kind, middle, quiet)
    return [figure, " / ".join(values), apart, band_text(kind), said, target, result]


def target_met(target, kind, middle, quiet):
    # The target judged on the median over the quiet runs.
    limit = float(re.search(r"[0-9.]+", target).group(0))
    if kind == "memory":
        limit += median([float(re.search(r"image ([0-9.]+) MiB", row["baseline"]).group(1)) for row in quiet])
    return "met" if middle <= limit else "MISSED"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return lines + ["| " + " | ".join(map(str, row)) + " |" for row in rows]


def report(records, figures):
    lines = []
    for number, record in enumerate(records, 1):
        start, end = record["start"], record["end"]
        lines += ["", f"Run {number} ({record['platform']}, commit {record['commit']}, {record['repeat']} counted "
                      f"round(s) after {record['warmup']} uncounted; medians, the launcher's lowest and highest round "
                      f"in brackets{'; short mode, not a measurement' if record['short'] else ''}):", ""]
        lines += table(("figure", "the launcher", "baseline in the same run", "ratio", "target", "result", "note"),
                       [(r["figure"], r["launcher"], r["baseline"], r["ratio"], r["target"], r["result"], r["note"])
                        for r in record["rows"]])
    lines += ["", "Machine state of each run:", ""]
    lines += table(("run", "started", "busy at the start (limit)", "at the end", "other", "quiet"),
                   [(number, record["start"]["time"],
                     f"{record['start']['busy level']:.2f} ({record['start']['busy limit']:.2f})",
                     f"{record['end']['busy level']:.2f}", state_details(record), "no: " + why_not_quiet(record)
                     if why_not_quiet(record) else "yes")
                    for number, record in enumerate(records, 1)])
    verdicts = [row for row in (verdict(records, figure) for figure in figures) if row]
    lines += ["", f"Over the runs (a measurement needs {RUNS_NEEDED} quiet runs within the band; a run is quiet when "
                  f"it starts with the machine at most at its busy limit, the 1-minute load average at most "
                  f"{BUSY_LOAD_PER_CORE} per core (on Windows the processors' load at most {BUSY_CPU_PERCENT} %), "
                  f"and, where it can be told, other processes used at most {OTHERS_LIMIT_CORES} cores and the "
                  f"hypervisor took at most {100 * STEAL_LIMIT:.0f} % of the processors during it):", ""]
    lines += table(("figure", "each run", "apart", "band", "verdict", "target", "result"), verdicts)
    return "\n".join(lines)


def state_details(record):
    start, end = record["start"], record["end"]
    if "load" not in start:
        return (f"available memory {start['available memory MiB']} MiB; Defender real-time protection "
                f"{start.get('Defender real-time protection')}")
    others, steal = disturbance(record)
    cache = "; ".join(f"{name} {100 * start['page cache'][name]:.0f} → {100 * end['page cache'][name]:.0f} %"
                      for name in start["page cache"])
    return (f"load {' '.join(map(str, start['load']))} → {' '.join(map(str, end['load']))}; during the run other "
            f"processes used {'an unknown share' if others is None else f'{others:.2f} cores'} and the hypervisor "
            f"took {100 * steal:.0f} %; available memory {start['available memory MiB']} MiB; images in the page "
            f"cache at start → end: {cache}")
