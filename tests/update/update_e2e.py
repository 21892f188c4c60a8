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
# VEXO_UPDATE_E2E_ONLY names one test of the class, VEXO_UPDATE_E2E_ROWS a regular expression
# that limits the rows of a table to those whose label it finds (scripts/mutate uses both).
import contextlib, hashlib, http.client, json, math, os, re, shutil, socket, ssl, struct, subprocess
import sys, tempfile, threading, time, unittest
from pathlib import Path

SOURCE, BUILD, TOOL, KEY, HOST, GROUP = sys.argv[1:7]
PREFIX = f"{BUILD}/wineprefix-update-{GROUP}"
WORK = os.environ.get("VEXO_UPDATE_E2E_WORK") or tempfile.mkdtemp(prefix="vexo-update-e2e-")
OLD, NEW = f"{BUILD}/bin/Vexo-Host.exe", f"{BUILD}/launcher-0.3.0/Vexo-Host.exe"
STAND_IN = f"{BUILD}/bin/stand-in-program.exe"
MANIFEST, FILES = "api/program-updates/v1/manifest/host", "api/program-updates/v1/files"
SITE_TOOL, ACCESS_LOG = f"{SOURCE}/server/nginx/vexo-update-site.sh", f"{WORK}/logs/vexo-updates.access.log"
WORKER = "--vexo-update-worker"
chosen = lambda label: re.search(os.environ.get("VEXO_UPDATE_E2E_ROWS", ""), label)
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

    def downloads(self):
        return sum(f" /{FILES}/" in request for request in self.requests())

    def requested(self):
        # nginx logs a request when it ends it; one the client dropped halfway (the deadline
        # rows) ends when nginx notices the closed connection, which can be after the launcher
        # has ended.
        for _ in range(50):
            if self.requests():
                return True
            time.sleep(0.1)
        return False


class SlowHeaderServer:
    # A TLS server that sends its status line and headers one byte a second (nginx sends them at
    # once) to the one client it accepts.
    cert, tree = "server", None

    def __enter__(self):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(f"{WORK}/server.crt", f"{WORK}/server.key")
        self.listener = context.wrap_socket(socket.create_server(("127.0.0.1", 443)), server_side=True)
        threading.Thread(target=self.answer, daemon=True).start()
        return self

    def answer(self):
        with contextlib.suppress(OSError), self.listener.accept()[0] as client:
            for byte in b"HTTP/1.1 200 OK\r\nServer: one byte a second\r\nContent-Length: 0\r\n\r\n":
                client.sendall(bytes([byte]))
                time.sleep(1)

    def __exit__(self, *_):
        with contextlib.suppress(OSError), self.listener:
            self.listener.shutdown(socket.SHUT_RDWR)


class Launch:
    # A launcher copy in a fresh folder on C:, or on a drive mapped to `drive` (a Linux folder) as
    # D:, and what one start of it showed.
    def __init__(self, label, program=OLD, name="Vexo-Host.exe", drive=None):
        self.label = label = re.sub(r"\W+", "-", label)
        base = f"{PREFIX}/drive_c/vexo-update"
        self.report, self.marker = f"{base}/{label}.report", f"{base}/{label}.marker"
        self.folder, self.windows_path = f"{base}/{label}", f"C:\\vexo-update\\{label}\\{name}"
        if drive:
            run("ln", "-sfn", drive, f"{PREFIX}/dosdevices/d:")
            self.folder, self.windows_path = f"{drive}/{label}", f"D:\\{label}\\{name}"
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        os.makedirs(base, exist_ok=True)
        self.path = shutil.copy(program, f"{self.folder}/{name}")

    def armed(self, point, pause=False):
        # The environment that ends (or pauses) the launcher's processes at the named point.
        Path(self.marker).unlink(missing_ok=True)
        return {"VEXO_TEST_CRASH_POINT": point, "VEXO_TEST_CRASH_MARKER": "Z:" + self.marker.replace("/", "\\"), "VEXO_TEST_CRASH_PAUSE": "1" * pause}

    def paused(self):
        while not os.path.exists(self.marker):
            time.sleep(0.05)
        return self

    def start(self, *args, limited=True, env=None, answer_after_ms=0):
        # The launcher under update-chain (which waits for every process it leads to) under
        # vexo-testctl (which answers its boxes).
        command = [f"{SOURCE}/cmake/wine-run", PREFIX, f"{BUILD}/bin/vexo-testctl.exe", "run",
                   *(["--limited"] if limited else []), "--timeout-ms", "170000", "--answer-after-ms",
                   str(answer_after_ms), "--", f"{BUILD}/bin/update-chain.exe",
                   "Z:" + self.report.replace("/", "\\"), self.windows_path, *args]
        self.started = time.monotonic()
        return subprocess.Popen(command, stdout=subprocess.PIPE, env={**os.environ, **(env or {})}, text=True)

    def run(self, *args, **options):
        return self.finish(self.start(*args, **options))

    def finish(self, process):
        self.output = process.communicate(timeout=180)[0]
        self.seconds = time.monotonic() - self.started
        self.exit_code = int(re.findall(r"^exit-code (\d+)$", self.output, re.M)[-1])
        self.chain = [line.split("\t") for line in read(self.report).decode().splitlines()]
        self.worker_exit = [int(code) for image, code in self.chain if image.startswith(".vexo-update-")]
        self.staging = self.staging_folders()
        return self

    def staging_folders(self):
        return [f"{self.folder}/{n}" for n in os.listdir(self.folder) if n.startswith(".vexo-update-")]


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
        for label, env, worker_exit in filter(lambda row: chosen(row[0]), self.ROWS):
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
                    # Nor does any later start: the release that failed here is not fetched again.
                    for _ in range(3):
                        self.assertEqual(read(launch.run(env=env).path), read(OLD))
                    self.assertEqual((server.downloads(), len(launch.staging)), (1, 1))

    def test_a_rollback_needs_no_free_space(self):
        # A release larger than the program, on a disk that holds the staging and the backup and
        # then has less room left than the release takes.
        # The disk holds the program, the release (4 MiB larger), the worker's copy and the backup
        # with 2 MiB to spare; after the swap it has 2 MiB more than the program free, less than
        # the release takes.
        write(f"{WORK}/large.exe", read(STAND_IN).ljust(len(read(OLD)) + (4 << 20), b"\0"))
        os.makedirs(f"{WORK}/small-disk")
        run("mount", "-t", "tmpfs", "-o", f"size={4 * len(read(OLD)) + (6 << 20)},mode=0755", "small", f"{WORK}/small-disk")
        launch = Launch("nearly full disk", drive=f"{WORK}/small-disk/root")
        with Server(publish(f"{WORK}/large.exe")):
            launch.run(env={"VEXO_TEST_STAND_IN_EXIT": "3"})
        self.assertEqual((launch.worker_exit, digest(read(launch.path))), ([1], digest(read(OLD))))


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
            # The start every other row's time is measured against.
            ("no server listening", Server()),
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
            ("headers one byte a second", SlowHeaderServer()),
            ("program trickled past 120 s", Server(valid, f"location = /{FILES}/{digest(new)}.exe {{ limit_rate {len(new) // 150}; }}"), 120),
            ("manifest one byte over its limit", Server(oversized)),
            ("file one byte over its limit", Server(served(signed(new), new + b"\0", digest(new)))),
            ("certificate from an untrusted CA", Server(valid, cert="other-server")),
            # The header rule's edges are ExecutableHeaderTest's; one row shows the launcher
            # applies it to what it downloads.
            ("DLL", Server(signed(dll))),
            ("extra member in the envelope", Server(signed(new, envelope_extra={"comment": "x"}))),
        ]

    def test_hostile_answers_change_nothing_and_the_start_goes_on(self):
        baseline = None
        for label, server, *deadline in filter(lambda row: chosen(row[0]), self.rows()):
            with self.subTest(label), server:
                # The normal start went on: under Wine its re-start through "runas" is unelevated
                # and refuses with its box, and the launcher passes the 5 on.
                launch = Launch(label).run()
                self.assertRegex(launch.output, APPROVAL_BOX)
                self.assertEqual(launch.exit_code, 5)
                self.assertEqual((read(launch.path), launch.staging), (read(OLD), []))
                # The update adds at most its deadline (10 s for the manifest, 120 s for the
                # program) and the time it takes to give up, beside a start without a server.
                baseline = baseline or launch.seconds
                self.assertLess(launch.seconds - baseline, (deadline or [10])[0] + 5)
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

    def test_a_read_only_folder_fetches_no_program(self):
        launch = Launch("read-only folder", drive=f"{WORK}/read-only/root")
        run("mount", "--bind", "-o", "ro", f"{WORK}/read-only", f"{WORK}/read-only")
        with Server(publish(NEW)) as server:
            self.assertEqual(launch.run().exit_code, 5)
        self.assertEqual(server.requests(), [f"GET /{MANIFEST} HTTP/1.1"])


class CrashTest(unittest.TestCase):
    # The named points of the startup check's staging, of the worker and of its rollback, the
    # last served a release that does not come up.
    POINTS = ["stage-folder", "stage-new", "stage-worker-copy", "stage-plan", "stage-event", "stage-worker-started",
              "worker-before-backup", "worker-backup-copied", "worker-backup-flushed", "worker-renamed",
              "worker-hash-checked", "worker-relaunched", "worker-before-applied", "worker-applied",
              "rollback-renamed", "rollback-failed-kept", "rollback-relaunched"]

    def test_a_process_ended_at_any_point_leaves_a_whole_program_and_no_loop(self):
        trees, fails = {NEW: publish(NEW), STAND_IN: publish(STAND_IN)}, {"VEXO_TEST_STAND_IN_EXIT": "3"}
        for point in filter(chosen, self.POINTS):
            release = STAND_IN if point.startswith("rollback") else NEW
            with self.subTest(point), Server(trees[release]) as server:
                launch = Launch(f"crash {point}")
                launch.run(env={**fails, **launch.armed(point)}, answer_after_ms=HUMAN_MS)
                self.assertEqual((read(launch.marker), 1067 in [launch.exit_code, *launch.worker_exit]), (point.encode(), True))
                self.assertIn(read(launch.path), (read(OLD), read(release)))
                # The next start completes the update or skips the release that failed, and the one
                # after it goes on without a download; of the crashed folder and the next update's,
                # only the newer is left.
                crashed, final = server.downloads(), digest(read(NEW if release == NEW else OLD))
                self.assertEqual(digest(read(launch.run(env=fails, answer_after_ms=HUMAN_MS).path)), final)
                self.assertEqual((launch.run(env=fails).exit_code, digest(read(launch.path))), (5, final))
                self.assertLessEqual(max(server.downloads() - crashed, len(launch.staging)), 1)

    def test_a_swapped_program_that_is_not_the_promised_one_is_put_back(self):
        with Server(publish(NEW)):
            launch = Launch("changed after the swap")
            process = launch.start(env=launch.armed("worker-renamed", pause=True), answer_after_ms=HUMAN_MS)
            write(launch.paused().path, read(STAND_IN))
            os.remove(launch.marker)
            launch.finish(process)
        self.assertEqual((launch.worker_exit, digest(read(launch.path))), ([1], digest(read(OLD))))

    def test_an_elevated_worker_started_directly_changes_nothing(self):
        # The check waits at its ready event with everything staged, and an elevated process
        # starts the staged worker for it; the check then dies, which would let a worker go on.
        with Server(publish(NEW)):
            launch = Launch("elevated worker")
            process = launch.start(env=launch.armed("stage-event", pause=True))
            staging, = launch.paused().staging_folders()
            entries, check = sorted(os.listdir(staging)), read(launch.report + ".pid").decode()
            worker = subprocess.Popen([f"{SOURCE}/cmake/wine-run", PREFIX, f"{BUILD}/bin/vexo-testctl.exe", "run", "--",
                                       launch.windows_path.replace("Vexo-Host", os.path.basename(staging) + "\\Vexo-Host"),
                                       WORKER, check], stdout=subprocess.PIPE, text=True)
            time.sleep(10)  # ample for a worker to reach its wait for the check
            run(f"{SOURCE}/cmake/wine-run", PREFIX, "taskkill", "/f", "/pid", check)
            self.assertIn("exit-code 13", worker.communicate(timeout=90)[0])
            launch.finish(process)
        self.assertEqual((digest(read(launch.path)), sorted(os.listdir(staging))), (digest(read(OLD)), entries))


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
        only = os.environ.get("VEXO_UPDATE_E2E_ONLY")
        unittest.main(argv=[sys.argv[0], "-v", f"{GROUP}.{only}" if only else GROUP])
    finally:
        subprocess.run(["wineserver", "-k"])
