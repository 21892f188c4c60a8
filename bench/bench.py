#!/usr/bin/env python3
# The bench: the launcher's figures side by side with their floors (docs/performance.md).
#
#   bench.py [--short] [--runs K] [--repeat N]   under Wine, as root (scripts/bench builds first)
#   bench.py --native TREE [--runs K] [--repeat N] [--summary FILE]
#                                                on Windows, with the programs of a cross-built
#                                                tree (.github/workflows/windows.yml)
#   bench.py --combine RECORD...                 the verdict over runs recorded earlier
#   bench.py --prepare-large PRESET TREE         builds the launcher with the 64 MiB Host there
#
# A run is a fresh start of everything: a process of its own (under Wine also its own network and
# mount namespace and a fresh wineserver), one uncounted round, then N counted rounds in which
# the commands of a figure run in turn, so that a load that comes and goes touches them alike.
# Each run is written to build/bench/runs/ with the machine's state: load, available memory, and
# how much of each launcher image was in the page cache. A figure is a measurement only when at
# least three quiet runs agree within its band; a run is quiet when, at its start, the 1-minute
# load average is at most half the number of cores (on Windows: the processors' load at most
# 50 %); bench_runs.py holds these rules. Before each run the bench waits up to
# --settle-seconds for a quiet machine. --short is one run of one round with a 4 MiB Host in
# place of the 64 MiB one, so that scripts/test keeps the bench alive; it is never a
# measurement. The update figures run the launcher against the shipped update site
# (server/nginx/) in nginx on port 443 inside the run's namespace, as tests/update/update_e2e.py
# does; they exist under Wine only.
import argparse, hashlib, json, os, random, re, secrets, shutil, socket, statistics, subprocess, sys, tempfile, time
from pathlib import Path

from bench_runs import RUNS_NEEDED, join_own_group, leave_group, machine_state, report, settle

SOURCE = Path(__file__).resolve().parents[1]
BUILD = SOURCE / "build"
PLAIN, EMULATED, BENCH = BUILD / "windows", BUILD / "windows-emulated", BUILD / "bench"
LARGE, PREFIX, RUNS = BENCH / "large", BENCH / "wineprefix", BENCH / "runs"
TOOL, KEY = BUILD / "native/bin/vexo-update", PLAIN / "update-signing/throwaway-private-key.pem"
NATIVE_LARGE = "bench-large"  # where --prepare-large puts the large launcher inside a tree
MIB = 1 << 20
LARGE_HOST_BYTES, SHORT_HOST_BYTES = 64 * MIB, 4 * MIB  # the payload check's inclusive limit
MANIFEST = "api/program-updates/v1/manifest/host"
HOST_CLOSE_AFTER_MS = 200  # the stand-in Host closes its window by itself (docs/host-contract.md)
HOST_KNOBS = {"VEXO_DEMO_HOST_TEST": f"close-after={HOST_CLOSE_AFTER_MS}"}
BROKER_SERVICE_PREFIX = "VexoDesktopBrokerPortable"  # followed by the run id (docs/host-contract.md)
DEPLOY_HASH_PASSES = 4  # the proof at the start, the resource before writing, the write handle, the pin
SAVED_AGAIN = "Vexo-Host (1).exe"  # a browser's name for a second download: no update check
LAUNCHER_USER_AGENT = "Vexolink-Startup-Update/1"  # update/http_client_win.h
REFUSED_UNELEVATED = 5  # under Wine the re-start through "runas" is not elevated and refuses
WORK_VARIABLE = "VEXO_BENCH_WORK"
PROBE_ATTEMPTS = 3  # starts of one measurement, when Wine fails to create a process
WINE_CREATION_FAILED = 1359  # ERROR_INTERNAL_ERROR, what such a failed creation gives
WINHTTP_ERRORS = range(12001, 12200)  # the codes of WinHTTP's failed transfers
WINE_ENV = {"WINEPREFIX": str(PREFIX), "WINEARCH": "win64", "WINEDEBUG": "-all", "DISPLAY": "",
            "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe="}
DEVNULL = subprocess.DEVNULL
QUIET = {"stdin": DEVNULL, "stdout": DEVNULL, "stderr": DEVNULL}
# The figures, in table order; checked in short mode by tests/bench/bench_short_test.sh.
FIGURES = ("payload check", "payload check, large", "deploy to Host start",
           "memory", "update check, nothing newer", "update server refusing")


def median(values):
    return statistics.median(values)


def minus(values, others):
    return [value - other for value, other in zip(values, others)]  # round by round


def plus(*series):
    return [sum(values) for values in zip(*series)]  # round by round


def spread(values, unit="ms", digits=1):
    # The median, with the lowest and the highest round beside it.
    return f"{median(values):.{digits}f} {unit} ({min(values):.{digits}f} to {max(values):.{digits}f})"


def run(*args, **options):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, **options)


def fail(why):
    sys.exit(f"bench: {why}")


def windows_path(path):
    # The name Wine gives a host path: drive C: inside the prefix, Z: (the host's root) elsewhere.
    path = Path(path).absolute()
    drive_c = PREFIX / "drive_c"
    if path.is_relative_to(drive_c):
        return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")
    return "Z:" + str(path).replace("/", "\\")


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def wall_ms(*commands, cwd=None):
    # Wall time of native commands run one after the other.
    start = time.perf_counter()
    for command in commands:
        subprocess.run([str(a) for a in command], check=True, stdout=DEVNULL, cwd=cwd)
    return {"ms": 1000 * (time.perf_counter() - start)}


def staged(tree):
    return tree / "generated/payload/files"


def payload_files(tree):
    # The staged copies of a build's eight embedded files: those whose SHA-256 the build compiled
    # into the payload check.
    digests = set(re.findall(r'"([0-9a-f]{64})"', (tree / "generated/payload/payload_digests.h").read_text()))
    files = {path: sha256(path) for path in sorted(staged(tree).rglob("*")) if path.is_file()}
    files = {path: digest for path, digest in files.items() if digest in digests}
    if sorted(files.values()) != sorted(digests):
        fail(f"the staged payload of {tree} does not match its digests")
    return files


def image_size(path):
    # SizeOfImage of a PE file: what the loader maps.
    data = Path(path).read_bytes()
    header = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[header + 24 + 56:header + 24 + 60], "little")


def resource_section(path):
    # The file offset and size of a PE file's resource section (.rsrc), where the payload is.
    data = Path(path).read_bytes()
    header = int.from_bytes(data[0x3C:0x40], "little")
    count, optional = (int.from_bytes(data[header + at:header + at + 2], "little") for at in (6, 20))
    for table in range(header + 24 + optional, header + 24 + optional + 40 * count, 40):
        if data[table:table + 8].rstrip(b"\0") == b".rsrc":
            return (int.from_bytes(data[table + 20:table + 24], "little"),
                    int.from_bytes(data[table + 16:table + 20], "little"))
    fail(f"{path} has no resource section")


def how_wine_loads(path):
    # Wine maps a section of an image from the file only when the section starts on a page of the
    # file; otherwise it reads the section into private memory at every start. Where the payload's
    # section starts follows from the size of the code before it, so it can change with any build.
    offset, size = resource_section(path)
    verb = "maps it from the file" if offset % 4096 == 0 else f"copies its {size / MIB:.1f} MiB into private memory"
    return f"payload section at file offset {offset:#x}: Wine {verb}"


def der_signature(raw):
    # A P1363 ECDSA signature (r and s, 32 bytes each) in the DER form openssl verifies.
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        value = b"\0" + value if value[0] & 0x80 else value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


class Wine:
    # Windows programs under Wine, in the bench's prefix; the bench's programs come from the
    # windows build, the deployment from the emulated file security flavour.
    name, linux_tools = "Wine", True  # sha256sum, openssl and cp beside the Windows programs

    def __init__(self):
        self.env = {**os.environ, **WINE_ENV}
        self.programs = PLAIN / "bin"
        self.check_tree, self.deploy_tree = PLAIN, EMULATED
        self.deploy_launcher = EMULATED / "bin/Vexo-Host.exe"
        self.folder = PREFIX / "drive_c/vexo-bench"

    def command(self, program, *args):
        return ["wine", str(program), *map(str, args)]

    def path(self, path):
        return windows_path(path)

    def delete_service(self, name):
        subprocess.run(self.command("sc", "delete", name), env=self.env, **QUIET)

    def copy_and_flush(self, root, relative, target):
        return wall_ms(["cp", "--parents", *relative, target], ["sync", *(target / path for path in relative)],
                       cwd=root)["ms"]


class Native:
    # The programs of a tree cross-built for the Windows runner, run by Windows itself.
    name, linux_tools = "Windows", False

    def __init__(self, tree):
        self.env = dict(os.environ)
        self.programs = tree / "bin"
        self.check_tree = self.deploy_tree = tree
        self.deploy_launcher = tree / "bin/Vexo-Host.exe"
        self.folder = Path(os.environ.get("SystemDrive", "C:") + "\\") / "vexo-bench"  # the volume of Program Files

    def command(self, program, *args):
        return [str(program), *map(str, args)]

    def path(self, path):
        return str(path)

    def delete_service(self, name):
        subprocess.run(["sc.exe", "delete", name], **QUIET)

    def copy_and_flush(self, root, relative, target):
        start = time.perf_counter()
        for path in relative:
            (target / path).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(root / path, target / path)
            with open(target / path, "rb+") as copy:
                os.fsync(copy.fileno())
        return 1000 * (time.perf_counter() - start)


def probe(system, program, *args, limited=False, watch=False, env=None, exit_code=0, unmeasured_codes=()):
    # One start of `program` under vexo-bench-probe; its figures (milliseconds, bytes). The output
    # goes through a file: a process the program leaves behind inherits it and would hold a pipe.
    # Under Wine 8, about one process creation in a thousand fails with 1359 (an internal error):
    # the probe's, so that the program never runs, or the program's own, which then ends with
    # that code. Such a start measured nothing and is made again, at most PROBE_ATTEMPTS times in
    # all, saying so; so is one that ended with any of `unmeasured_codes`. A program that ran and
    # ended with any other unexpected code fails the run.
    options = [*(["--limited"] if limited else []), *(["--watch"] if watch else [])]
    for attempt in range(1, PROBE_ATTEMPTS + 1):
        with tempfile.TemporaryFile() as output:
            status = subprocess.run(system.command(system.programs / "vexo-bench-probe.exe", *options, "--",
                                                   program, *args), stdin=DEVNULL, stdout=output, stderr=output,
                                    env={**system.env, **(env or {})}).returncode
            output.seek(0)
            text = output.read().decode(errors="replace").strip()
        figures = {key: float(value) for key, value in re.findall(r"([a-z-]+)=(-?[0-9.]+)", text)}
        unmeasured = "exit-code" not in figures or figures["exit-code"] in {WINE_CREATION_FAILED, *unmeasured_codes} - {exit_code}
        if not unmeasured or attempt == PROBE_ATTEMPTS:
            break
        print(f"bench: {program} measured nothing (probe exit {status}: {text or 'no output'}); starting it again",
              file=sys.stderr)
    if status != 0 or figures.get("exit-code") != exit_code:
        fail(f"{program} {' '.join(map(str, args))} did not end as expected (exit {exit_code}; probe exit {status}): "
             f"{text or 'no output'}")
    return figures


class Nginx:
    # The shipped update site (server/nginx/) serving `tree` over HTTPS on port 443, in nginx with
    # the update tests' main configuration.
    def __init__(self, work, host, tree):
        self.work, self.host, self.tree, self.process = work, host, tree, None

    def __enter__(self):
        site = self.work / "site"
        run(SOURCE / "server/nginx/vexo-update-site.sh", "render", "--host", self.host, "--certificate",
            self.work / "server.crt", "--key", self.work / "server.key", "--tree", self.tree, "--conf", site)
        conf = (SOURCE / "tests/update/nginx.conf.in").read_text()
        (self.work / "nginx.conf").write_text(conf.replace("@WORK@", str(self.work)).replace("@SITE@", str(site)))
        self.log = self.work / "logs/vexo-updates.access.log"
        self.log.write_bytes(b"")
        self.process = subprocess.Popen(["nginx", "-c", self.work / "nginx.conf"], **QUIET)
        while not port_open() and self.process.poll() is None:
            time.sleep(0.02)
        return self

    def __exit__(self, *_):
        self.process.terminate()
        self.process.wait()
        while port_open():
            time.sleep(0.02)

    def requests_from(self, user_agent):
        # The requests the site logged with this user agent.
        return sum(f'"{user_agent}"' in line for line in self.log.read_text().splitlines())

    def fetch_and_verify(self):
        # The floor of an update check that finds nothing newer: curl of the manifest and
        # openssl's verification of its signature. Taking the envelope apart is not timed.
        fetched, payload, signature = (self.work / name for name in ("fetched.json", "payload", "signature.der"))
        curl = wall_ms(["curl", "-sS", "--fail", "-o", fetched, f"https://{self.host}/{MANIFEST}"])["ms"]
        envelope = json.loads(fetched.read_bytes())
        payload.write_bytes(envelope["payload"].encode())
        signature.write_bytes(der_signature(bytes.fromhex(envelope["signature"])))
        verify = wall_ms(["openssl", "dgst", "-sha256", "-verify", self.work / "public.pem", "-signature",
                          signature, payload])["ms"]
        return {"ms": curl + verify}


def port_open():
    with socket.socket() as connection:
        return connection.connect_ex(("127.0.0.1", 443)) == 0


class Bench:
    def __init__(self, system, work, short, repeat):
        self.system, self.work, self.short, self.rows = system, work, short, []
        self.repeat, self.warmup = (1, 0) if short else (repeat, 1)

    def rounds(self, commands):
        # Runs the commands in turn, round after round: each figure of each command, by round.
        samples = {}
        for round_number in range(self.warmup + self.repeat):
            for name, command in commands.items():
                for key, value in command().items():
                    if round_number >= self.warmup:
                        samples.setdefault((name, key), []).append(value)
        return samples

    def start(self, program, *args, **options):
        return probe(self.system, self.system.path(program), *args, **options)

    def cng_loop(self, files, passes=1):
        # The CNG loop over the files, each hashed `passes` times.
        arguments = [argument for path, digest in files.items() for argument in (self.system.path(path), digest)]
        return self.start(self.system.programs / "vexo-bench-cng-sha256.exe", *arguments * passes)

    def add(self, figure, kind, value, launcher, baseline, target, met, note=""):
        # One row of a run; `value` is what runs are compared by: the ratio, the delay or the memory.
        ratio = f"{value:.2f}×" if kind == "ratio" else "—"
        self.rows.append({"figure": figure, "kind": kind, "value": value, "launcher": launcher,
                          "baseline": baseline, "ratio": ratio, "target": target,
                          "result": met if isinstance(met, str) else ("met" if met else "MISSED"), "note": note})

    def payload_check(self, figure, launcher, files):
        paths = list(files)
        commands = {"launcher": lambda: self.start(launcher, "--verify-payload"),
                    "no-op": lambda: self.start(self.system.programs / "vexo-bench-noop.exe"),
                    "CNG loop": lambda: self.cng_loop(files)}
        if self.system.linux_tools:
            commands["sha256sum"] = lambda: wall_ms(["sha256sum", *paths])
            commands["openssl"] = lambda: wall_ms(["openssl", "dgst", "-sha256", *paths])
        s = self.rounds(commands)
        start = s["no-op", "exit-ms"]
        own, cng = minus(s["launcher", "exit-ms"], start), median(minus(s["CNG loop", "exit-ms"], start))
        mib = sum(path.stat().st_size for path in paths) / MIB
        baseline, note = f"CNG loop {cng:.1f} ms", f"{mib:.1f} MiB; CNG hashes at {1000 * mib / cng:.0f} MiB/s"
        if self.system.linux_tools:
            baseline += f"; sha256sum {median(s['sha256sum', 'ms']):.1f} ms"
            note += (f" without SHA extensions (openssl with them: {1000 * mib / median(s['openssl', 'ms']):.0f} "
                     f"MiB/s)")
        if self.system.linux_tools:
            note += f"; {how_wine_loads(launcher)}"
        self.add(figure, "ratio", median(own) / cng, spread(own), baseline, "≤ 1.10×", median(own) <= 1.1 * cng,
                 f"{note}; no-op start {median(start):.1f} ms subtracted")

    def deployment(self, launcher, files):
        # A fresh run of the launcher to its Host window, and the run's peak private bytes, beside
        # the floor of the same unavoidable work done alone, round by round: three program starts
        # (the CNG loop stands for the launcher's own start and hashes every payload file as many
        # times as the deployment does; the Host with --uac-install registers its broker service
        # through the service manager; the Host is started to its window), and the eight files
        # copied and flushed. The old floor, copies hashed three times by sha256sum, is in the note.
        root = staged(self.system.deploy_tree)
        relative = [path.relative_to(root) for path in files]
        run_id = secrets.token_hex(16)
        host = self.system.folder / "floor" / run_id / "Vexo-Host.exe"
        host.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(root / "Vexo-Host.exe", host)
        copies = iter(range(1 << 30))

        def copy_and_flush():  # onto the volume the deployment writes to
            target = self.system.folder / "copies" / f"copy-{next(copies)}"
            target.mkdir(parents=True)
            return {"ms": self.system.copy_and_flush(root, relative, target)}

        def registration():
            # A run folder of its own each round (copied, not timed): when Wine fails to start the
            # deletion's `sc` (see probe), the service left behind has a name no later round
            # registers, instead of failing that round with 1073.
            round_id = secrets.token_hex(16)
            registering = self.system.folder / "floor" / round_id / "Vexo-Host.exe"
            registering.parent.mkdir(parents=True)
            shutil.copyfile(host, registering)
            figures = self.start(registering, "--uac-install", env=HOST_KNOBS)
            self.system.delete_service(BROKER_SERVICE_PREFIX + round_id)  # not timed
            return figures

        commands = {"launcher": lambda: self.start(launcher, watch=True, env=HOST_KNOBS),
                    "hashing": lambda: self.cng_loop(files, DEPLOY_HASH_PASSES),
                    "registration": registration,
                    "Host": lambda: self.start(host, watch=True, env=HOST_KNOBS),
                    "copy": copy_and_flush}
        def copy_and_hash():
            target = self.work / f"copy-{next(copies)}"
            target.mkdir()
            return wall_ms(["cp", "--parents", *relative, target],
                           *[["sha256sum", *(target / path for path in relative)]] * 3, cwd=root)

        if self.system.linux_tools:
            commands["old floor"] = copy_and_hash
        shutil.rmtree(self.system.folder / "copies", ignore_errors=True)
        s = self.rounds(commands)
        for folder in (self.system.folder / "copies", host.parent):
            shutil.rmtree(folder, ignore_errors=True)
        window = s["launcher", "host-window-ms"]
        if min(window) < 0 or min(s["Host", "host-window-ms"]) < 0:
            fail("a start ended without a Host window")
        parts = {"CNG loop ×4": s["hashing", "exit-ms"], "Host --uac-install": s["registration", "exit-ms"],
                 "Host to its window": s["Host", "host-window-ms"], "copy and flush": s["copy", "ms"]}
        floor = median(plus(*parts.values()))
        # The old floor (native copies and hashes, no program start, no service, no CNG) stays in
        # the note for continuity, not judged: native tools beside Wine's starts drift by themselves.
        old = ""
        if "old floor" in commands:
            old_ms = median(s["old floor", "ms"])
            old = f"; beside the old floor of earlier runs (cp + 3 sha256sum {old_ms:.1f} ms) {median(window) / old_ms:.2f}×, not judged"
        self.add("deploy to Host start", "ratio", median(window) / floor, spread(window),
                 f"fair floor {floor:.1f} ms = " + " + ".join(f"{name} {median(v):.1f}" for name, v in parts.items()),
                 "≤ 1.50×", median(window) <= 1.5 * floor,
                 f"{'emulated file security flavour, Program Files seeded' if self.system.linux_tools else 'plain launcher'};"
                 " the floor's three starts, service registration and four CNG passes are what the deployment cannot avoid"
                 + old)
        peak, size = [value / MIB for value in s["launcher", "peak-private-bytes"]], launcher.stat().st_size / MIB
        self.add("memory", "memory", median(peak), spread(peak, "MiB", 2),
                 f"image {size:.2f} MiB (SizeOfImage {image_size(launcher) / MIB:.2f} MiB)", "≤ image + 4 MiB",
                 median(peak) <= size + 4, "peak private bytes of the launcher in those runs, sampled every 1 ms" +
                 (f"; {how_wine_loads(launcher)}: those bytes count here when copied" if self.system.linux_tools else ""))

    def fetch_and_verify_floor(self, server, public_key_hex):
        # The floor program's start, given the manifest as served (fetched once, untimed, by curl),
        # its signed bytes and signature taken apart, and the build's public key.
        envelope, signed_bytes = self.work / "served.json", self.work / "signed-bytes"
        run("curl", "-sS", "--fail", "-o", envelope, f"https://{server.host}/{MANIFEST}")
        fields = json.loads(envelope.read_bytes())
        signed_bytes.write_bytes(fields["payload"].encode())
        arguments = [server.host, f"/{MANIFEST}", self.system.path(envelope), self.system.path(signed_bytes),
                     public_key_hex, fields["signature"]]
        # A transfer that failed with a WinHTTP error did not do the work the floor stands for, so
        # that start is made again. (Under Wine 8 one start in about a hundred failed, before the
        # floor told a failed transfer from a wrong answer.)
        return lambda: self.start(self.system.programs / "vexo-bench-fetch-verify.exe", *arguments, limited=True,
                                  unmeasured_codes=WINHTTP_ERRORS)

    def update_checks(self, launcher, host, public_key_hex):
        # The launcher named Vexo-Host.exe asks the server at its start, the same launcher saved under
        # another name does not: the difference of their times to their first window is the check.
        folder = self.system.folder / "update"
        folder.mkdir(parents=True, exist_ok=True)
        for name in ("Vexo-Host.exe", SAVED_AGAIN):
            (folder / name).write_bytes(launcher.read_bytes())
        starts = {label: (lambda name=name: probe(self.system, f"C:\\vexo-bench\\update\\{name}", limited=True,
                                                  watch=True, exit_code=REFUSED_UNELEVATED))
                  for label, name in (("named", "Vexo-Host.exe"), ("saved again", SAVED_AGAIN))}
        tree = self.work / "site"
        run(TOOL, "publish", "--private-key", KEY, "--program", launcher, "--version", "0.2.1", "--sequence", "2",
            "--out", tree)
        with Nginx(self.work, host, tree) as server:
            fetch_and_verify = self.fetch_and_verify_floor(server, public_key_hex)
            s = self.rounds({**starts, "curl + openssl": server.fetch_and_verify, "fetch + verify": fetch_and_verify,
                             "no-op": lambda: self.start(self.system.programs / "vexo-bench-noop.exe", limited=True)})
            if server.requests_from(LAUNCHER_USER_AGENT) != self.warmup + self.repeat:
                fail("the launcher named Vexo-Host.exe did not ask the server once at each start")
        added = minus(s["named", "first-box-ms"], s["saved again", "first-box-ms"])
        floor, native = median(minus(s["fetch + verify", "exit-ms"], s["no-op", "exit-ms"])), median(s["curl + openssl", "ms"])
        self.add("update check, nothing newer", "ratio", median(added) / floor, spread(added),
                 f"fair floor {floor:.1f} ms: WinHTTP + CNG in a program of its own, less its start", "≤ 1.30×",
                 median(added) <= 1.3 * floor,
                 "limited token; to the first window, under Wine the box of the unelevated re-start; "
                 f"beside the native curl + openssl of earlier runs ({native:.1f} ms) {median(added) / native:.2f}×, "
                 "not judged: a native TLS stack against Wine's")
        s = self.rounds(starts)
        added = minus(s["named", "first-box-ms"], s["saved again", "first-box-ms"])
        self.add("update server refusing", "delay", median(added), spread(added), "none: an absolute added delay",
                 "≤ 50 ms", median(added) <= 50, "nothing listening on 443")


# --- one run -------------------------------------------------------------------------------


def large_launcher(host_bytes, preset="windows", tree=LARGE, fill="random"):
    # A launcher whose Host is the stand-in padded to `host_bytes`, in a build tree of its own.
    # The Wine bench pads with seeded random bytes; a tree for the runner with zeros, which its
    # artifact compresses away (SHA-256 takes as long over either).
    host = BENCH / f"host-{fill}-{host_bytes}.exe"
    stand_in = (tree.parent / "demo-host/Vexo-Host.exe" if fill == "zeros" else PLAIN / "demo-host/Vexo-Host.exe")
    if not host.exists() or host.stat().st_size != host_bytes:
        BENCH.mkdir(parents=True, exist_ok=True)
        padding = host_bytes - stand_in.stat().st_size
        body = random.Random(host_bytes).randbytes(padding) if fill == "random" else bytes(padding)
        host.write_bytes(stand_in.read_bytes() + body)
    run("cmake", "--preset", preset, "-B", tree, f"-DVEXO_PAYLOAD_HOST={host}", cwd=SOURCE)
    run("cmake", "--build", tree, "--target", "vexo_launcher")
    return tree / "bin/Vexo-Host.exe"


def enter_namespace(work, host):
    # Port 443 and the update host name are this namespace's; its CA bundle trusts the bench's CA.
    for name, ca in (("ca", None), ("server", "ca")):
        run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
            "-keyout", work / f"{name}.key", "-out", work / f"{name}.crt", "-subj", f"/CN={host if ca else name}",
            *(["-CA", work / f"{ca}.crt", "-CAkey", work / f"{ca}.key", "-addext", f"subjectAltName=DNS:{host}",
               "-addext", "basicConstraints=CA:FALSE", "-addext", "extendedKeyUsage=serverAuth"] if ca else []))
    run("openssl", "pkey", "-in", KEY, "-pubout", "-out", work / "public.pem")
    (work / "hosts").write_text(f"127.0.0.1 localhost\n127.0.0.1 {host}\n")
    bundle = Path("/etc/ssl/certs/ca-certificates.crt")
    (work / "bundle.crt").write_bytes(bundle.read_bytes() + (work / "ca.crt").read_bytes())
    run("ip", "link", "set", "lo", "up")
    run("mount", "--bind", work / "hosts", "/etc/hosts")
    run("mount", "--bind", work / "bundle.crt", bundle)
    (work / "logs").mkdir()  # where the update site logs, as on the server
    run("mount", "--bind", work / "logs", "/var/log/nginx")


def start_wine():
    # A fresh wineserver inside the namespace (a server reads the CA bundle once), kept alive,
    # with Wine's own processes started with no pipes attached; Program Files as Windows has it.
    # A Windows session always has its desktop; Wine starts one (explorer.exe /desktop) for the
    # first window and ends it a moment after the last, so a window stays open for the whole run
    # and no figure pays for a desktop's start. Returns that window's program.
    env = {**os.environ, **WINE_ENV}
    subprocess.run([SOURCE / "cmake/wine-run", PREFIX, "cmd", "/c", "exit", "0"], **QUIET)
    subprocess.run(["wineserver", "-k"], env=env, **QUIET)
    subprocess.run(["wineserver", "-w"], env=env, **QUIET)
    subprocess.run(["wineserver", "-p"], env=env, **QUIET)
    subprocess.run(["wine", "cmd", "/c", "exit", "0"], env=env, **QUIET)
    run("wine", EMULATED / "bin/vexo-testctl.exe", "seed-program-files", env=env)
    return subprocess.Popen(["wine", "notepad.exe"], env=env, **QUIET)


def deployed_launcher(system):
    # The launcher in a download folder, as a customer starts it.
    folder = system.folder / "deploy"
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(system.deploy_launcher, folder / "Vexo-Host.exe")
    return folder / "Vexo-Host.exe"


def images(system, large):
    # The launcher images whose pages the runs read; the deployed copy is written anew each run.
    watched = {"launcher": system.check_tree / "bin/Vexo-Host.exe", "large launcher": large}
    return {name: path for name, path in watched.items() if path.exists()}


def one_run(args, record_path):
    # One run, in a process of its own; its rows and the machine's state go to `record_path`.
    work = Path(os.environ.get(WORK_VARIABLE) or tempfile.mkdtemp(prefix="vexo-bench-"))
    group = None if args.native else join_own_group()
    system = Native(Path(args.native)) if args.native else Wine()
    large = (Path(args.native) / NATIVE_LARGE / "bin/Vexo-Host.exe" if args.native
             else (LARGE / "bin/Vexo-Host.exe"))
    watched = images(system, large)
    record = {"platform": system.name, "short": args.short, "commit": commit(), "start": machine_state(watched, group)}
    bench = Bench(system, work, args.short, args.repeat)
    desktop = None
    if isinstance(system, Wine):
        update_host = re.search(r'kUpdateServerHost\[\] = L"([^"]+)"',
                                (PLAIN / "generated/update/update_server.h").read_text()).group(1)
        public_key_hex = re.search(r'kUpdatePublicKeyHex\[\] = "([0-9a-f]+)"',
                                   (PLAIN / "generated/update/update_public_key.h").read_text()).group(1)
        enter_namespace(work, update_host)
        desktop = start_wine()
        record["platform"] = run("wine", "--version").stdout.decode().strip()
    try:
        bench.payload_check("payload check", system.check_tree / "bin/Vexo-Host.exe", payload_files(system.check_tree))
        if large.exists():
            bench.payload_check("payload check, large", large, payload_files(large.parent.parent))
        bench.deployment(deployed_launcher(system), payload_files(system.deploy_tree))
        if isinstance(system, Wine):
            bench.update_checks(PLAIN / "bin/Vexo-Host.exe", update_host, public_key_hex)
    finally:
        if desktop:
            desktop.terminate()
            subprocess.run(["wineserver", "-k"], env=system.env, **QUIET)
    record.update(rows=bench.rows, repeat=bench.repeat, warmup=bench.warmup, end=machine_state(watched, group))
    if group:
        leave_group(group)
    record_path.write_text(json.dumps(record, indent=1, ensure_ascii=False))


def commit():
    if os.environ.get("GITHUB_SHA"):
        return os.environ["GITHUB_SHA"][:7]
    head = subprocess.run(["git", "-C", SOURCE, "rev-parse", "--short", "HEAD"], capture_output=True, text=True)
    dirty = subprocess.run(["git", "-C", SOURCE, "diff", "--quiet", "HEAD"]).returncode != 0
    return head.stdout.strip() + (" with changes" if dirty else "")


def measure(args):
    # The runs, each in a process of its own after the machine has settled, then their verdict.
    RUNS.mkdir(parents=True, exist_ok=True)
    stamp = time.strftime("%Y%m%d-%H%M%S")
    records = []
    for number in range(1, args.runs + 1):
        waited = 0 if args.short else settle(args.settle_seconds)
        path = RUNS / f"{stamp}-run{number}.json"
        command = [sys.executable, __file__, "--one-run", path, "--repeat", args.repeat,
                   *(["--short"] if args.short else []), *(["--native", args.native] if args.native else [])]
        with tempfile.TemporaryDirectory(prefix="vexo-bench-") as work:
            if not args.native:
                command = ["unshare", "--net", "--mount", *command]
            status = subprocess.run(list(map(str, command)), env={**os.environ, WORK_VARIABLE: work}).returncode
        if status != 0:
            fail(f"run {number} failed")
        record = json.loads(path.read_text())
        record["settled seconds"] = waited
        path.write_text(json.dumps(record, indent=1, ensure_ascii=False))
        records.append(record)
        print(f"bench: run {number} of {args.runs} recorded in {path}", flush=True)
    return records


def main():
    options = argparse.ArgumentParser(description=__doc__)
    options.add_argument("--short", action="store_true", help="one run of one round, a 4 MiB Host (scripts/test)")
    options.add_argument("--runs", type=int, default=RUNS_NEEDED, help="separate runs")
    options.add_argument("--repeat", type=int, default=31, help="counted rounds of each figure in a run")
    options.add_argument("--settle-seconds", type=int, default=300, help="longest wait for a quiet machine per run")
    options.add_argument("--native", metavar="TREE", help="run natively on Windows with this cross-built tree")
    options.add_argument("--summary", metavar="FILE", help="also append the report to FILE (Markdown)")
    options.add_argument("--combine", nargs="+", metavar="RECORD", help="report runs recorded earlier")
    options.add_argument("--prepare-large", nargs=2, metavar=("PRESET", "TREE"), help=argparse.SUPPRESS)
    options.add_argument("--one-run", metavar="RECORD", help=argparse.SUPPRESS)
    args = options.parse_args()
    if args.prepare_large:
        preset, tree = args.prepare_large
        print(large_launcher(LARGE_HOST_BYTES, preset, Path(tree).resolve() / NATIVE_LARGE, "zeros"))
        return
    if args.one_run:
        one_run(args, Path(args.one_run))
        return
    if args.combine:
        records = [json.loads(Path(path).read_text()) for path in args.combine]
    else:
        if args.short:
            args.runs = 1
        if not args.native:
            large_launcher(SHORT_HOST_BYTES if args.short else LARGE_HOST_BYTES)
        records = measure(args)
    text = report(records, FIGURES)
    print(text)
    if args.summary:
        with open(args.summary, "a", encoding="utf-8") as summary:
            summary.write("## Bench\n" + text + "\n")


if __name__ == "__main__":
    main()
