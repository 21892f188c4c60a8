#!/usr/bin/env python3
# The bench: the launcher's figures side by side with their floors, all measured in one run
# (docs/performance.md). scripts/bench builds what it needs and runs this as root:
#
#   bench.py [--short] [--repeat N]
#
# The commands of a figure run in turn, round after round, the first round uncounted, so a load
# that comes and goes touches them alike; the table gives medians, the launcher's figure over
# its baseline and the target. --short is one round with a 4 MiB Host in place of the 64 MiB one,
# so that scripts/test keeps the bench alive. The update figures run the launcher against the
# shipped update site (server/nginx/) in nginx on port 443 inside a private network and mount
# namespace, as tests/update/update_e2e.py does.
import argparse, hashlib, json, os, random, re, socket, statistics, subprocess, sys, tempfile, time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
BUILD = SOURCE / "build"
PLAIN, EMULATED, BENCH = BUILD / "windows", BUILD / "windows-emulated", BUILD / "bench"
LARGE, PREFIX = BENCH / "large", BENCH / "wineprefix"
TOOL, KEY = BUILD / "native/bin/vexo-update", PLAIN / "update-signing/throwaway-private-key.pem"
PROBE, NOOP, CNG = (PLAIN / f"bin/vexo-bench-{name}.exe" for name in ("probe", "noop", "cng-sha256"))
MIB = 1 << 20
LARGE_HOST_BYTES, SHORT_HOST_BYTES = 64 * MIB, 4 * MIB  # the payload check's inclusive limit
MANIFEST = "api/program-updates/v1/manifest/host"
HOST_CLOSE_AFTER_MS = 200  # the stand-in Host closes its window by itself (docs/host-contract.md)
SAVED_AGAIN = "Vexo-Host (1).exe"  # a browser's name for a second download: no update check
REFUSED_UNELEVATED = 5  # under Wine the re-start through "runas" is not elevated and refuses
WORK_VARIABLE = "VEXO_BENCH_WORK"
WINE_ENV = {"WINEPREFIX": str(PREFIX), "WINEARCH": "win64", "WINEDEBUG": "-all", "DISPLAY": "",
            "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe="}
DEVNULL = subprocess.DEVNULL
QUIET = {"stdin": DEVNULL, "stdout": DEVNULL, "stderr": DEVNULL}
FIGURES = ("payload check", "payload check, large", "deploy to Host start",
           "update check, nothing newer", "update server refusing", "memory")


def median(values):
    return statistics.median(values)


def minus(values, others):
    return [value - other for value, other in zip(values, others)]  # round by round


def spread(values, unit="ms", digits=1):
    # The median, with the lowest and the highest round beside it.
    return f"{median(values):.{digits}f} {unit} ({min(values):.{digits}f} to {max(values):.{digits}f})"


def run(*args, **options):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, **options)


def fail(why):
    sys.exit(f"bench: {why}")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")  # Wine sees the host's root as drive Z:


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


def probe(program, *args, limited=False, watch=False, env=None, exit_code=0):
    # One start of `program` under vexo-bench-probe; its figures (milliseconds, bytes). The output
    # goes through a file: a process the program leaves behind inherits it and would hold a pipe.
    options = [*(["--limited"] if limited else []), *(["--watch"] if watch else [])]
    with tempfile.TemporaryFile() as output:
        status = subprocess.run(["wine", PROBE, *options, "--", program, *args], stdin=DEVNULL, stdout=output,
                                stderr=output, env={**os.environ, **WINE_ENV, **(env or {})}).returncode
        output.seek(0)
        text = output.read().decode(errors="replace").strip()
    figures = {key: float(value) for key, value in re.findall(r"([a-z-]+)=(-?[0-9.]+)", text)}
    if status != 0 or figures.get("exit-code") != exit_code:
        fail(f"{program} {' '.join(args)} did not end as expected (exit {exit_code}): {text}")
    return figures


def image_size(path):
    # SizeOfImage of a PE file: what the loader maps.
    data = Path(path).read_bytes()
    header = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[header + 24 + 56:header + 24 + 60], "little")


def der_signature(raw):
    # A P1363 ECDSA signature (r and s, 32 bytes each) in the DER form openssl verifies.
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        value = b"\0" + value if value[0] & 0x80 else value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


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

    def requests(self):
        return len(self.log.read_text().splitlines())

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
    def __init__(self, work, short, repeat):
        self.work, self.short, self.rows = work, short, []
        self.repeat, self.warmup = (1, 0) if short else (repeat, 1)
        self.host = re.search(r'kUpdateServerHost\[\] = L"([^"]+)"',
                              (PLAIN / "generated/update/update_server.h").read_text()).group(1)

    def rounds(self, commands):
        # Runs the commands in turn, round after round: each figure of each command, by round.
        samples = {}
        for round_number in range(self.warmup + self.repeat):
            for name, command in commands.items():
                for key, value in command().items():
                    if round_number >= self.warmup:
                        samples.setdefault((name, key), []).append(value)
        return samples

    def add(self, figure, launcher, baseline, ratio, target, met, note=""):
        self.rows.append((figure, launcher, baseline, "—" if ratio is None else f"{ratio:.2f}×", target,
                          "met" if met else "MISSED", note))

    def payload_check(self, figure, launcher, files):
        paths = list(files)
        cng_arguments = [argument for path, digest in files.items() for argument in (windows_path(path), digest)]
        s = self.rounds({"launcher": lambda: probe(launcher, "--verify-payload"), "no-op": lambda: probe(NOOP),
                         "CNG loop": lambda: probe(CNG, *cng_arguments),
                         "sha256sum": lambda: wall_ms(["sha256sum", *paths]),
                         "openssl": lambda: wall_ms(["openssl", "dgst", "-sha256", *paths])})
        start = s["no-op", "exit-ms"]
        own, cng = minus(s["launcher", "exit-ms"], start), median(minus(s["CNG loop", "exit-ms"], start))
        mib = sum(path.stat().st_size for path in paths) / MIB
        self.add(figure, spread(own), f"CNG loop {cng:.1f} ms; sha256sum {median(s['sha256sum', 'ms']):.1f} ms",
                 median(own) / cng, "≤ 1.10×", median(own) <= 1.1 * cng,
                 f"{mib:.1f} MiB; cap: Wine's CNG hashes at {1000 * mib / cng:.0f} MiB/s without SHA extensions "
                 f"(openssl with them: {1000 * mib / median(s['openssl', 'ms']):.0f} MiB/s); "
                 f"no-op start {median(start):.1f} ms subtracted")

    def deployment(self, launcher, files):
        # A fresh run of the emulated launcher to its Host window, and the run's peak private bytes;
        # the floor copies the eight files and hashes the copies three times.
        root = staged(EMULATED)
        relative = [path.relative_to(root) for path in files]
        copies = iter(range(1 << 30))

        def copy_and_hash():
            target = self.work / f"copy-{next(copies)}"
            target.mkdir()
            return wall_ms(["cp", "--parents", *relative, target],
                           *[["sha256sum", *(target / path for path in relative)]] * 3, cwd=root)

        knobs = {"VEXO_DEMO_HOST_TEST": f"close-after={HOST_CLOSE_AFTER_MS}"}
        s = self.rounds({"launcher": lambda: probe(launcher, watch=True, env=knobs), "copy": copy_and_hash})
        window, floor = s["launcher", "host-window-ms"], median(s["copy", "ms"])
        if min(window) < 0:
            fail("a deployment ended without a Host window")
        self.add("deploy to Host start", spread(window), f"cp + 3 sha256sum {floor:.1f} ms", median(window) / floor,
                 "≤ 1.50×", median(window) <= 1.5 * floor, "emulated file security flavour, Program Files seeded")
        peak, size = [value / MIB for value in s["launcher", "peak-private-bytes"]], launcher.stat().st_size / MIB
        self.add("memory", spread(peak, "MiB", 2), f"image {size:.2f} MiB (SizeOfImage {image_size(launcher) / MIB:.2f} MiB)",
                 None, "≤ image + 4 MiB", median(peak) <= size + 4, "peak private bytes of the launcher in those runs, "
                 "sampled every 1 ms; under Wine they include the image, which Wine copies into private memory")

    def update_checks(self, launcher):
        # The launcher named Vexo-Host.exe asks the server at its start, the same launcher saved under
        # another name does not: the difference of their times to their first window is the check.
        folder = PREFIX / "drive_c/vexo-bench/update"
        folder.mkdir(parents=True, exist_ok=True)
        for name in ("Vexo-Host.exe", SAVED_AGAIN):
            (folder / name).write_bytes(launcher.read_bytes())
        starts = {label: (lambda name=name: probe(f"C:\\vexo-bench\\update\\{name}", limited=True, watch=True,
                                                  exit_code=REFUSED_UNELEVATED))
                  for label, name in (("named", "Vexo-Host.exe"), ("saved again", SAVED_AGAIN))}
        tree = self.work / "site"
        run(TOOL, "publish", "--private-key", KEY, "--program", launcher, "--version", "0.2.1", "--sequence", "2",
            "--out", tree)
        with Nginx(self.work, self.host, tree) as server:
            s = self.rounds({**starts, "curl + openssl": server.fetch_and_verify})
            if server.requests() != 2 * (self.warmup + self.repeat):  # the launcher's and curl's
                fail("the launcher named Vexo-Host.exe did not ask the server once at each start")
        added, floor = minus(s["named", "first-box-ms"], s["saved again", "first-box-ms"]), median(s["curl + openssl", "ms"])
        self.add("update check, nothing newer", spread(added), f"curl + openssl {floor:.1f} ms", median(added) / floor,
                 "≤ 1.30×", median(added) <= 1.3 * floor,
                 "limited token; to the first window, under Wine the box of the unelevated re-start")
        s = self.rounds(starts)
        added = minus(s["named", "first-box-ms"], s["saved again", "first-box-ms"])
        self.add("update server refusing", spread(added), "none: an absolute added delay", None, "≤ 50 ms",
                 median(added) <= 50, "nothing listening on 443")

    def print_table(self):
        print(f"\n{self.repeat} counted round(s) after {self.warmup} uncounted: medians, the launcher's lowest and "
              f"highest round in brackets{'; short mode, not a measurement' if self.short else ''}\n")
        print("| figure | the launcher | baseline in the same run | ratio | target | result | note |")
        print("|---|---|---|---|---|---|---|")
        for row in self.rows:
            print("| " + " | ".join(row) + " |")


def large_launcher(host_bytes):
    # A launcher whose Host is the stand-in padded to `host_bytes`, in a build tree of its own.
    host = BENCH / f"host-{host_bytes}.exe"
    if not host.exists() or host.stat().st_size != host_bytes:
        stand_in = (PLAIN / "demo-host/Vexo-Host.exe").read_bytes()
        host.write_bytes(stand_in + random.Random(host_bytes).randbytes(host_bytes - len(stand_in)))
    run("cmake", "--preset", "windows", "-B", LARGE, f"-DVEXO_PAYLOAD_HOST={host}", cwd=SOURCE)
    run("cmake", "--build", LARGE, "--target", "vexo_launcher")
    return LARGE / "bin/Vexo-Host.exe"


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


def deployed_launcher():
    # The emulated launcher in a download folder on C:, as a customer starts it.
    folder = PREFIX / "drive_c/vexo-bench/deploy"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "Vexo-Host.exe").write_bytes((EMULATED / "bin/Vexo-Host.exe").read_bytes())
    return folder / "Vexo-Host.exe"


def main():
    options = argparse.ArgumentParser(description=__doc__)
    options.add_argument("--short", action="store_true", help="one round, a 4 MiB Host (scripts/test)")
    options.add_argument("--repeat", type=int, default=21, help="counted rounds of each figure")
    args = options.parse_args()
    if WORK_VARIABLE not in os.environ:
        BENCH.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory(prefix="vexo-bench-") as work:
            sys.exit(subprocess.run(["unshare", "--net", "--mount", sys.executable, *sys.argv],
                                    env={**os.environ, WORK_VARIABLE: work}).returncode)
    bench = Bench(Path(os.environ[WORK_VARIABLE]), args.short, args.repeat)
    large = large_launcher(SHORT_HOST_BYTES if args.short else LARGE_HOST_BYTES)
    enter_namespace(bench.work, bench.host)
    desktop = start_wine()
    print(f"bench: {time.strftime('%Y-%m-%d %H:%M %Z')}, load average {os.getloadavg()[0]:.2f}, "
          f"{run('wine', '--version').stdout.decode().strip()}")
    try:
        bench.payload_check("payload check", PLAIN / "bin/Vexo-Host.exe", payload_files(PLAIN))
        bench.payload_check("payload check, large", large, payload_files(LARGE))
        bench.deployment(deployed_launcher(), payload_files(EMULATED))
        bench.update_checks(PLAIN / "bin/Vexo-Host.exe")
    finally:
        desktop.terminate()
        subprocess.run(["wineserver", "-k"], env={**os.environ, **WINE_ENV}, **QUIET)
    bench.print_table()
    print(f"\nload average at the end {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
