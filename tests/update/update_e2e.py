#!/usr/bin/env python3
# The startup update end to end: the real launcher under Wine, started with the limited token,
# against real nginx on port 443 in a private network and mount namespace. The build's update
# host name is mapped to 127.0.0.1 by a bind-mounted hosts file and a test CA is added to a
# bind-mounted CA bundle, so the launcher's port, host name and TLS checks are the real ones.
# Run as root:
#
#   update_e2e.py SOURCE_DIR BUILD_DIR NATIVE_TOOL PRIVATE_KEY HOST GROUP
#
# GROUP names one test class below; each group has its own namespace, Wine prefix and server.
import contextlib, ctypes, hashlib, http.client, json, math, os, re, select, shutil, signal, socket
import ssl, struct, subprocess, sys, tempfile, time, unittest
from pathlib import Path

SOURCE, BUILD, TOOL, KEY, HOST, GROUP = sys.argv[1:7]
PREFIX = f"{BUILD}/wineprefix-update-{GROUP}"
WORK = os.environ.get("VEXO_UPDATE_E2E_WORK") or tempfile.mkdtemp(prefix="vexo-update-e2e-")
OLD, NEW = f"{BUILD}/bin/Vexo-Host.exe", f"{BUILD}/launcher-0.3.0/Vexo-Host.exe"
STAND_IN = f"{BUILD}/bin/stand-in-program.exe"
MANIFEST, FILES = "api/program-updates/v1/manifest/host", "api/program-updates/v1/files"
SITE_TOOL, ACCESS_LOG = f"{SOURCE}/server/nginx/vexo-update-site.sh", f"{WORK}/logs/vexo-updates.access.log"
IN_OPEN, IN_MOVED_TO, IN_CREATE = 0x20, 0x80, 0x100
WORKER = "--vexo-update-worker"
# How long a box stays up when a restarted launcher must count as come up: on Windows it waits
# at the consent prompt; under Wine its re-start refuses at once with a box.
HUMAN_MS = 3500
APPROVAL_BOX = re.compile(r'^box icon=error buttons=ok text="Windows 관리자 승인이 필요합니다\.\\n오류 5', re.M)


run = lambda *args: subprocess.run(args, check=True, capture_output=True)
digest = lambda data: hashlib.sha256(data).hexdigest()
read = lambda path: Path(path).read_bytes()


def port_open():
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", 443)) == 0


def write(path, data):
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_bytes(data)


def make_cert(name, ca=None):
    # A CA (no `ca`) or a certificate for HOST signed by `ca`, as WORK/name.{crt,key}.
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-keyout",
        f"{WORK}/{name}.key", "-out", f"{WORK}/{name}.crt", "-subj", f"/CN={ca and HOST or name}",
        *(ca and ["-CA", f"{WORK}/{ca}.crt", "-CAkey", f"{WORK}/{ca}.key", "-addext", f"subjectAltName=DNS:{HOST}",
                  "-addext", "basicConstraints=CA:FALSE", "-addext", "extendedKeyUsage=serverAuth"] or []))


def publish(program, version="0.3.0", sequence=2, key=KEY, stage="current", tree=None):
    tree = tree or tempfile.mkdtemp(dir=WORK)
    run(TOOL, "publish", "--private-key", key, "--program", program, "--version", version,
        "--sequence", str(sequence), "--stage", stage, "--out", tree)
    return tree


def served(tree, data, name=None):
    write(f"{tree}/{FILES}/{name or digest(data)}.exe", data)
    return tree


def signed(data, file=None, envelope_extra=None, **fields):
    # A tree serving `data` under a manifest signed with the build's key; `file` and `fields`
    # override members of the payload's file object and of the payload.
    tree, now, sha = served(tempfile.mkdtemp(dir=WORK), data), int(time.time()), digest(data)
    payload = {"schema": 1, "brand": "vexolink", "role": "host", "platform": "windows-x64",
               "channel": "stable", "issuedAt": now, "expiresAt": now + 86400, "version": "0.3.0",
               "sequence": 2, "file": {"sha256": sha, "bytes": len(data), "path": f"/{FILES}/{sha}.exe"}}
    payload["file"].update(file or {})
    payload.update(fields)
    write(f"{WORK}/payload.json", json.dumps(payload).encode())
    write(f"{tree}/{MANIFEST}", b"")
    run(TOOL, "sign", "--private-key", KEY, "--payload", f"{WORK}/payload.json", "--out", f"{tree}/{MANIFEST}")
    write(f"{tree}/{MANIFEST}", json.dumps({**json.loads(read(f"{tree}/{MANIFEST}")), **(envelope_extra or {})}).encode())
    return tree


def render_site(tree, cert="server", share=0, extra=""):
    # The shipped update site rendered for the test's host, certificate and tree into WORK/site,
    # with the rollout share, test-only directives in the site's local hook, and WORK/nginx.conf
    # around it.
    site = f"{WORK}/site"
    run(SITE_TOOL, "render", "--host", HOST, "--certificate", f"{WORK}/{cert}.crt", "--key",
        f"{WORK}/{cert}.key", "--tree", str(tree), "--conf", site)
    run(SITE_TOOL, "share", str(share), "--conf", site)
    write(f"{site}/local/test.conf", extra.encode())
    conf = read(f"{SOURCE}/tests/update/nginx.conf.in").decode()
    write(f"{WORK}/nginx.conf", conf.replace("@WORK@", WORK).replace("@SITE@", site).encode())


class Server:
    # The shipped site serving `tree` with `extra` directives, a TLS server that never answers,
    # or none.
    def __init__(self, tree=None, extra="", cert="server", silent=False, share=0):
        self.tree, self.extra, self.cert, self.silent, self.share, self.process = tree, extra, cert, silent, share, None

    def __enter__(self):
        write(ACCESS_LOG, b"")
        if self.tree:
            render_site(self.tree, self.cert, self.share, self.extra)
        # openssl s_server completes the TLS handshake and then sends nothing.
        command = (["openssl", "s_server", "-quiet", "-accept", "127.0.0.1:443", "-cert", f"{WORK}/server.crt",
                    "-key", f"{WORK}/server.key"] if self.silent else ["nginx", "-c", f"{WORK}/nginx.conf"])
        if self.silent or self.tree:
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            while not port_open() and self.process.poll() is None:
                time.sleep(0.05)
            assert self.process.poll() is None, f"{command[0]} did not start"
        return self

    def __exit__(self, *_):
        if self.process:
            self.process.terminate()
            self.process.wait()
        while port_open():
            time.sleep(0.05)

    def requests(self):
        return [line.split('"')[1] for line in read(ACCESS_LOG).decode().splitlines()]

    def requested(self):
        # nginx logs a request when it ends it; one the client dropped halfway (the deadline
        # rows) ends when nginx notices the closed connection, which can be after the launcher
        # has ended.
        for _ in range(50):
            if self.requests():
                return True
            time.sleep(0.1)
        return False


class Launch:
    # A launcher copy in a fresh folder on C: and what one start of it showed.
    def __init__(self, label, program=OLD, name="Vexo-Host.exe"):
        self.label = label = re.sub(r"\W+", "-", label)
        self.folder, self.windows_path = f"{PREFIX}/drive_c/vexo-update/{label}", f"C:\\vexo-update\\{label}\\{name}"
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.path = shutil.copy(program, f"{self.folder}/{name}")

    def start(self, *args, limited=True, env=None, answer_after_ms=0):
        # The launcher under update-chain (which waits for every process it leads to) under
        # vexo-testctl (which answers its boxes).
        command = [f"{SOURCE}/cmake/wine-run", PREFIX, f"{BUILD}/bin/vexo-testctl.exe", "run",
                   *(["--limited"] if limited else []), "--timeout-ms", "90000", "--answer-after-ms",
                   str(answer_after_ms), "--", f"{BUILD}/bin/update-chain.exe",
                   "Z:" + self.folder.replace("/", "\\") + ".report", self.windows_path, *args]
        self.started = time.monotonic()
        return subprocess.Popen(command, stdout=subprocess.PIPE, env={**os.environ, **(env or {})}, text=True)

    def run(self, *args, **options):
        return self.finish(self.start(*args, **options))

    def run_killing_worker_at(self, name, event, occurrence):
        # Kills the update worker right after the `occurrence`th `event` on a file `name` in the
        # program or staging folder, counted from the worker's reading of its plan. True when
        # that point was reached.
        libc, plan_reads = ctypes.CDLL(None, use_errno=True), 0
        watch = libc.inotify_init1(os.O_NONBLOCK)
        libc.inotify_add_watch(watch, self.folder.encode(), IN_OPEN | IN_MOVED_TO | IN_CREATE)
        process = self.start(answer_after_ms=HUMAN_MS)
        while process.poll() is None and occurrence > 0:
            data = os.read(watch, 65536) if select.select([watch], [], [], 0.2)[0] else b""
            while data and occurrence > 0:
                _, mask, _, length = struct.unpack_from("iIII", data)
                entry, data = data[16:16 + length].rstrip(b"\0").decode(), data[16 + length:]
                if mask & IN_CREATE and entry.startswith(".vexo-update-"):
                    libc.inotify_add_watch(watch, f"{self.folder}/{entry}".encode(), IN_OPEN | IN_MOVED_TO | IN_CREATE)
                plan_reads += entry == "plan.json" and bool(mask & IN_OPEN)
                occurrence -= plan_reads >= 2 and entry == name and bool(mask & event)
        self.kill_processes(rb"\\%s\\.*%s" % (self.label.encode(), WORKER.encode()))
        os.close(watch)
        self.finish(process)
        # A process the worker was starting when it died can stay half-made under Wine (on
        # Windows it would not exist or would run on); like a restart of the PC, nothing of the
        # crashed run is left running before the next start.
        self.kill_processes(rb"\\%s\\" % self.label.encode())
        return occurrence == 0

    def kill_processes(self, pattern):
        for pid in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError):
                if re.search(pattern, read(f"/proc/{pid}/cmdline")):
                    os.kill(int(pid), signal.SIGKILL)

    def finish(self, process):
        self.output = process.communicate(timeout=180)[0]
        self.seconds = time.monotonic() - self.started
        self.exit_code = int(re.findall(r"^exit-code (\d+)$", self.output, re.M)[-1])
        self.chain = [line.split("\t") for line in read(self.folder + ".report").decode().splitlines()]
        self.worker_exit = [int(code) for image, code in self.chain if image.startswith(".vexo-update-")]
        self.staging = [f"{self.folder}/{n}" for n in os.listdir(self.folder) if n.startswith(".vexo-update-")]
        return self


class CycleTest(unittest.TestCase):
    def test_newer_launcher_replaces_the_program_and_starts_once(self):
        # Served under a manifest of the release tool's sign command, which only this row shows
        # the launcher accepting.
        with Server(signed(read(NEW))) as server:
            launch = Launch("cycle").run(answer_after_ms=HUMAN_MS)
        staging, = launch.staging
        self.assertEqual((launch.exit_code, launch.worker_exit), (0, [0]))
        self.assertEqual(read(launch.path), read(NEW))
        self.assertEqual(read(f"{staging}/previous.exe"), read(OLD))
        self.assertEqual(read(f"{staging}/applied.json"),
                         b'{"role":"host","sha256":"%s","version":"0.3.0"}' % digest(read(NEW)).encode())
        plan = read(f"{staging}/plan.json")  # compact, members sorted, UTF-8 as it is
        self.assertEqual(json.dumps(json.loads(plan), separators=(",", ":"), sort_keys=True, ensure_ascii=False).encode(), plan)
        # The restarted 0.3.0 skipped its update (no third request) and went on.
        self.assertEqual(len(server.requests()), 2)
        self.assertRegex(launch.output, APPROVAL_BOX)


class RollbackTest(unittest.TestCase):
    ROWS = [("exits-3-at-once", {"VEXO_TEST_STAND_IN_EXIT": "3"}, 1),
            ("exits-0-at-once", {"VEXO_TEST_STAND_IN_EXIT": "0"}, 0),
            ("exits-3-after-5s", {"VEXO_TEST_STAND_IN_EXIT": "3", "VEXO_TEST_STAND_IN_MS": "5000"}, 0)]

    def test_a_new_program_that_does_not_come_up_is_rolled_back(self):
        tree = publish(STAND_IN)
        for label, env, worker_exit in self.ROWS:
            with self.subTest(label), Server(tree) as server:
                launch = Launch(label).run(env=env)
                staging, = launch.staging
                self.assertEqual((launch.exit_code, launch.worker_exit), (0, [worker_exit]))
                self.assertEqual(read(launch.path), read(STAND_IN if worker_exit == 0 else OLD))
                if worker_exit == 1:
                    self.assertEqual(read(f"{staging}/failed.exe"), read(STAND_IN))
                    self.assertFalse(os.path.exists(f"{staging}/previous.exe"))
                    # The old program, restarted with its own hash as marker, did not update again.
                    self.assertEqual(len(server.requests()), 2)
                    self.assertRegex(launch.output, APPROVAL_BOX)


class AttackTest(unittest.TestCase):
    def rows(self):
        new, now, other_key, other = read(NEW), int(time.time()), f"{WORK}/other.pem", digest(read(STAND_IN))
        pe = struct.unpack_from("<I", new, 60)[0]  # characteristics at +22
        dll = new[:pe + 23] + bytes([new[pe + 23] | 0x20]) + new[pe + 24:]
        run(TOOL, "keygen", "--private-key", other_key, "--public-key", other_key + ".pub")
        valid = publish(NEW)
        oversized = tempfile.mkdtemp(dir=WORK)
        write(f"{oversized}/{MANIFEST}", read(f"{valid}/{MANIFEST}").rstrip().ljust(16385))
        redirect = f"location = /{MANIFEST} {{ return 302 https://{HOST}/moved; }} location = /moved {{ alias {valid}/{MANIFEST}; }}"
        return [
            ("signed with another key", Server(publish(NEW, key=other_key))),
            ("expired", Server(signed(new, issuedAt=now - 7200, expiresAt=now - 60))),
            ("issuedAt in the future", Server(signed(new, issuedAt=now + 3600, expiresAt=now + 7200))),
            ("version equal", Server(publish(NEW, version="0.2.1"))),
            ("version older", Server(publish(NEW, version="0.2.0"))),
            ("sequence below 2", Server(publish(NEW, sequence=1))),
            ("bytes smaller than the file", Server(signed(new, file={"bytes": len(new) - 1}))),
            ("bytes larger than the file", Server(signed(new, file={"bytes": len(new) + 1}))),
            ("sha256 of another file", Server(served(signed(new, file={"sha256": other, "path": f"/{FILES}/{other}.exe"}), new, other))),
            ("path not matching the hash", Server(served(signed(new, file={"path": f"/{FILES}/{other}.exe"}), new, other))),
            ("302 to a valid tree", Server(valid, redirect)),
            ("manifest trickled past 10 s", Server(valid, f"location = /{MANIFEST} {{ limit_rate 60; }}")),
            ("accepts and never sends headers", Server(silent=True)),
            ("manifest one byte over its limit", Server(oversized)),
            ("file one byte over its limit", Server(served(signed(new), new + b"\0", digest(new)))),
            ("certificate from an untrusted CA", Server(valid, cert="other-server")),
            # The header rule's edges are ExecutableHeaderTest's; one row shows the launcher
            # applies it to what it downloads.
            ("DLL", Server(signed(dll))),
            ("extra member in the envelope", Server(signed(new, envelope_extra={"comment": "x"}))),
            ("no server listening", Server()),
        ]

    def test_hostile_answers_change_nothing_and_the_start_goes_on(self):
        for label, server in self.rows():
            with self.subTest(label), server:
                # The normal start went on: under Wine its re-start through "runas" is unelevated
                # and refuses with its box, and the launcher passes the 5 on.
                launch = Launch(label).run()
                self.assertRegex(launch.output, APPROVAL_BOX)
                self.assertEqual(launch.exit_code, 5)
                self.assertEqual((read(launch.path), launch.staging), (read(OLD), []))
                self.assertLess(launch.seconds, 25)  # the 10 s deadline and the normal start
                self.assertTrue(server.cert != "server" or not server.tree or server.requested())


class RefusalTest(unittest.TestCase):
    ROWS = [("a switch", "Vexo-Host.exe", ["--verify-payload"], {}, 0),
            ("another role's switch", "Vexo-Host.exe", ["--managed"], {}, 87),
            ("worker switch in upper case", "Vexo-Host.exe", [WORKER.upper(), "1"], {}, 87),
            *((f"worker id {id}", "Vexo-Host.exe", [WORKER, id], {}, 13) for id in ("0", "012", "12345678901", "4294967296")),
            ("worker without an id", "Vexo-Host.exe", [WORKER], {}, 13),
            ("worker outside a staging folder", "Vexo-Host.exe", [WORKER, "1"], {}, 13),
            ("another file name", "Vexo-Host (1).exe", [], {}, 5),
            ("the recovery marker", "Vexo-Host.exe", [], {"VEXO_UPDATE_RECOVERY": digest(read(OLD))}, 5)]

    def test_no_request_reaches_the_server(self):
        for label, name, args, env, exit_code in self.ROWS:
            with self.subTest(label), Server(publish(NEW)) as server:
                self.assertEqual(Launch(label, name=name).run(*args, env=env).exit_code, exit_code)
                self.assertEqual(server.requests(), [])

    def test_an_elevated_start_never_updates(self):
        # A damaged payload ends the elevated start right after the update check.
        with Server(publish(NEW)) as server:
            launch = Launch("elevated")
            run(f"{SOURCE}/cmake/wine-run", PREFIX, f"{BUILD}/bin/vexo-testctl.exe", "patch-resource", launch.windows_path, "101", "0")
            self.assertNotEqual(launch.run(limited=False).exit_code, 0)
        self.assertEqual(server.requests(), [])


class CrashTest(unittest.TestCase):
    # From the plan read through the hashes, the take-over, the backup copy and its check, the
    # rename, the held program's check and the restart to the applied record.
    ROWS = [("plan.json", IN_OPEN, 1), ("Vexo-Host.exe", IN_OPEN, 1), ("Vexo-Host.exe", IN_OPEN, 2),
            ("new.exe", IN_OPEN, 1), ("new.exe", IN_OPEN, 2), ("Vexo-Host.exe", IN_OPEN, 4),
            ("previous.exe", IN_CREATE, 1), ("previous.exe", IN_OPEN, 1), ("Vexo-Host.exe", IN_MOVED_TO, 1),
            ("Vexo-Host.exe", IN_OPEN, 6), ("Vexo-Host.exe", IN_OPEN, 9), ("applied.json", IN_CREATE, 1)]

    def test_a_killed_worker_leaves_a_whole_program_that_starts(self):
        tree = publish(NEW)
        for name, event, occurrence in self.ROWS:
            with self.subTest(f"{name} {event:#x} {occurrence}"), Server(tree):
                launch = Launch(f"crash {name} {event} {occurrence}")
                self.assertTrue(launch.run_killing_worker_at(name, event, occurrence))
                self.assertIn(digest(read(launch.path)), (digest(read(OLD)), digest(read(NEW))))
                self.assertEqual(launch.run("--verify-payload").exit_code, 0)


class SiteTest(unittest.TestCase):
    def tree(self):
        # The current release, 0.2.1, and the next, 0.3.0, staged beside it.
        return publish(NEW, sequence=3, stage="next", tree=publish(OLD, "0.2.1"))

    def test_only_the_protocol_is_served_with_its_headers(self):
        tls, sha = ssl.create_default_context(cafile=f"{WORK}/ca.crt"), digest(read(NEW))
        rows = [("GET", f"/{MANIFEST}", 200, ("application/json", "private, max-age=60")),
                ("HEAD", f"/{FILES}/{sha}.exe", 200, ("application/octet-stream", "public, max-age=31536000, immutable")),
                *(("GET", path, 404, None) for path in ("/", f"/{FILES}", f"/{FILES}/", f"/next/{MANIFEST}")),
                ("POST", f"/{MANIFEST}", 405, None)]
        with Server(self.tree()):
            for method, path, status, headers in rows:
                with self.subTest(f"{method} {path}"):
                    connection = http.client.HTTPSConnection(HOST, context=tls)
                    connection.request(method, path)
                    answer = connection.getresponse()
                    self.assertEqual((answer.status, headers and (answer.getheader("Content-Type"), answer.getheader("Cache-Control"))),
                                     (status, headers))
            plain = http.client.HTTPConnection("127.0.0.1", 443)
            plain.request("GET", f"/{MANIFEST}")
            self.assertEqual(plain.getresponse().status, 400)
            self.assertRaises(ConnectionRefusedError, socket.create_connection, (HOST, 80))

    def test_a_quarter_of_the_addresses_updates_each_the_same_twice_until_a_halt(self):
        # Forty addresses, each starting a 0.2.1 launcher and then starting again what it left.
        launches = {address: Launch(f"rollout {address}") for address in (f"127.19.{n}.{n * 37 % 254 + 1}" for n in range(40))}
        with Server(tree := self.tree(), share=25):
            for number, (address, launch) in enumerate([*launches.items()] * 2):
                # Once its requests are in, a start waits in its box while the next one starts.
                leave_from(address)
                if number >= len(launches):
                    launch.finish(launch.process)  # its first start, long begun
                seen = len(answers_to(address))
                launch.process = launch.start(answer_after_ms=HUMAN_MS)
                while launch.process.poll() is None and not ((new := answers_to(address)[seen:]) and (
                        len(new) == 2 or number >= len(launches) or new[0] != f"/next/{MANIFEST}")):
                    time.sleep(0.1)
            for launch in launches.values():
                launch.finish(launch.process)
            answers = {address: answers_to(address) for address in launches}
        updated = [address for address, launch in launches.items() if read(launch.path) == read(NEW)]
        # Binomial bounds for 40 addresses at 25 %: neither tail beyond the count under 0.1 % (2 to 19).
        pmf = [math.comb(40, k) * 0.25 ** k * 0.75 ** (40 - k) for k in range(41)]
        self.assertTrue(sum(pmf[:len(updated) + 1]) > 1e-3 and sum(pmf[len(updated):]) > 1e-3, updated)
        # The manifest each address got, both times, and the program file only with the next one.
        self.assertEqual(answers, {address: [f"/next/{MANIFEST}", f"/{FILES}/{digest(read(NEW))}.exe", f"/next/{MANIFEST}"]
                                   if address in updated else [f"/{MANIFEST}"] * 2 for address in launches})
        with Server(tree, share=0):
            for address in updated[:3]:
                leave_from(address)
                self.assertEqual(Launch(f"halt {address}").run().staging, [])
            leave_from(updated[0])  # a launcher that took the release keeps it
            self.assertEqual(read(launches[updated[0]].run().path), read(NEW))


def answers_to(address):
    # The file that answered each request from `address`, in order.
    return [line.split()[-1] for line in read(ACCESS_LOG).decode().splitlines() if line.startswith(f"{address} ")]


def leave_from(address):
    # Connections to the update host (127.0.0.1) leave from `address`, the local route's preferred
    # source: the launcher binds none, so this is how each start gets an address of its own.
    run("ip", "route", "replace", "local", "127.0.0.1", "dev", "lo", "table", "local", "proto", "kernel", "scope", "host", "src", address)


def enter_namespace():
    run("ip", "link", "set", "lo", "up")
    write(f"{WORK}/hosts", f"127.0.0.1 localhost\n127.0.0.1 {HOST}\n".encode())
    write(f"{WORK}/bundle.crt", read("/etc/ssl/certs/ca-certificates.crt") + read(f"{WORK}/ca.crt"))
    run("mount", "--bind", f"{WORK}/hosts", "/etc/hosts")
    run("mount", "--bind", f"{WORK}/bundle.crt", "/etc/ssl/certs/ca-certificates.crt")
    os.makedirs(f"{WORK}/logs")  # where the site logs, as on the server
    run("mount", "--bind", f"{WORK}/logs", "/var/log/nginx")
    # A fresh wineserver inside the namespace: a server reads the CA bundle only once.
    os.environ.update(WINEPREFIX=PREFIX, WINEDEBUG="-all")
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    subprocess.run([f"{SOURCE}/cmake/wine-run", PREFIX, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"])


if __name__ == "__main__":
    if "VEXO_UPDATE_E2E_WORK" not in os.environ:
        for name, ca in (("ca", None), ("other-ca", None), ("server", "ca"), ("other-server", "other-ca")):
            make_cert(name, ca)
        status = subprocess.run(["unshare", "--net", "--mount", sys.executable, *sys.argv],
                                env={**os.environ, "VEXO_UPDATE_E2E_WORK": WORK}).returncode
        shutil.rmtree(WORK, ignore_errors=True)
        sys.exit(status)
    enter_namespace()
    try:
        unittest.main(argv=[sys.argv[0], "-v", GROUP])
    finally:
        subprocess.run(["wineserver", "-k"])
