#!/usr/bin/env python3
"""The startup update end to end: the real launcher under Wine, started with the limited token,
against real nginx on port 443 in a private network and mount namespace. The build's update host
name is mapped to 127.0.0.1 by a bind-mounted hosts file and a test CA is added to a bind-mounted
CA bundle, so the launcher's port, host name and TLS checks are the real ones. Run as root:

  update_e2e.py SOURCE_DIR BUILD_DIR NATIVE_TOOL PRIVATE_KEY HOST GROUP

GROUP names one test class below; each group has its own namespace, Wine prefix and server."""
import ctypes, hashlib, json, os, re, select, shutil, signal, socket, ssl, struct, subprocess, sys
import tempfile, threading, time, unittest

SOURCE, BUILD, TOOL, KEY, HOST, GROUP = sys.argv[1:7]
PREFIX = f"{BUILD}/wineprefix-update-{GROUP}"
RUNS = f"{PREFIX}/drive_c/vexo-update"
WORK = tempfile.mkdtemp(prefix="vexo-update-e2e-")
OLD = f"{BUILD}/bin/Vexo-Host.exe"
NEW = f"{BUILD}/launcher-0.3.0/Vexo-Host.exe"
STAND_IN = f"{BUILD}/bin/stand-in-program.exe"
MANIFEST = "api/program-updates/v1/manifest/host"
IN_OPEN, IN_MOVED_TO, IN_CREATE = 0x20, 0x80, 0x100
HUMAN_MS = 3500  # how long a box stays up where the restarted launcher must count as come up
APPROVAL_BOX = re.compile(r'^box icon=error buttons=ok text="Windows 관리자 승인이 필요합니다\.\\n오류 5', re.M)


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, **kw)


def digest(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_cert(name, ca=None):
    """A CA (no `ca`) or a server certificate for HOST signed by `ca`; returns the path stem."""
    stem = f"{WORK}/{name}"
    req = ["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", stem + ".key", "-days", "30"]
    if ca is None:
        run(*req, "-x509", "-subj", f"/CN={name}", "-out", stem + ".crt")
    else:
        run(*req, "-subj", f"/CN={HOST}", "-out", stem + ".csr")
        write(stem + ".ext", f"subjectAltName=DNS:{HOST}\nextendedKeyUsage=serverAuth\n".encode())
        run("openssl", "x509", "-req", "-in", stem + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
            "-CAcreateserial", "-days", "30", "-extfile", stem + ".ext", "-out", stem + ".crt")
    return stem


def publish(program, version="0.3.0", sequence=2, key=KEY):
    tree = tempfile.mkdtemp(dir=WORK)
    run(TOOL, "publish", "--private-key", key, "--program", program, "--version", version,
        "--sequence", str(sequence), "--out", tree)
    return tree


def signed(data, file=None, envelope_extra=None, **fields):
    """A tree serving `data` under a manifest for it signed with the build's key; `file` and
    `fields` override members of the file object and of the payload."""
    tree = served(tempfile.mkdtemp(dir=WORK), data)
    now = int(time.time())
    sha = digest(data)
    payload = {"schema": 1, "brand": "vexolink", "role": "host", "platform": "windows-x64",
               "channel": "stable", "issuedAt": now, "expiresAt": now + 86400, "version": "0.3.0",
               "sequence": 2, "file": {"sha256": sha, "bytes": len(data),
                                        "path": f"/api/program-updates/v1/files/{sha}.exe"}}
    payload["file"].update(file or {})
    payload.update(fields)
    write(f"{WORK}/payload.json", json.dumps(payload).encode())
    run(TOOL, "sign", "--private-key", KEY, "--payload", f"{WORK}/payload.json",
        "--out", f"{tree}/{MANIFEST}")
    envelope = json.loads(read(f"{tree}/{MANIFEST}"))
    envelope.update(envelope_extra or {})
    write(f"{tree}/{MANIFEST}", json.dumps(envelope).encode())
    return tree


def served(tree, data, name=None):
    write(f"{tree}/api/program-updates/v1/files/{name or digest(data)}.exe", data)
    return tree


def patched(data, offset_from_pe, change):
    """The program with one 16-bit header field (at an offset from the PE header) changed."""
    image = bytearray(data)
    at = struct.unpack_from("<I", image, 60)[0] + offset_from_pe
    struct.pack_into("<H", image, at, change(struct.unpack_from("<H", image, at)[0]))
    return bytes(image)


class Server:
    """nginx serving `tree` with `extra` directives, a TLS server that never answers, or none."""

    def __init__(self, tree=None, extra="", cert="server", silent=False):
        self.tree, self.extra, self.cert, self.silent, self.process = tree, extra, cert, silent, None

    def __enter__(self):
        open(f"{WORK}/access.log", "w").close()
        if self.silent:
            listener = socket.create_server(("127.0.0.1", 443))
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(f"{WORK}/server.crt", f"{WORK}/server.key")
            self.held = []
            threading.Thread(target=lambda: [self.held.append(context.wrap_socket(listener.accept()[0],
                             server_side=True)) for _ in range(8)], daemon=True).start()
            self.listener = listener
        elif self.tree:
            conf = read(f"{SOURCE}/tests/update/nginx.conf.in").decode()
            for name, value in (("WORK", WORK), ("HOST", HOST), ("CERT", f"{WORK}/{self.cert}"),
                                ("TREE", self.tree), ("EXTRA", self.extra)):
                conf = conf.replace(f"@{name}@", value)
            write(f"{WORK}/nginx.conf", conf.encode())
            self.process = subprocess.Popen(["nginx", "-c", f"{WORK}/nginx.conf"])
            for _ in range(100):
                with socket.socket() as probe:
                    if probe.connect_ex(("127.0.0.1", 443)) == 0:
                        break
                time.sleep(0.05)
        return self

    def __exit__(self, *_):
        if self.process:
            self.process.terminate()
            self.process.wait()
        if self.silent:
            self.listener.close()

    def requests(self):
        return [line.split('"')[1] for line in read(f"{WORK}/access.log").decode().splitlines()]


class Launch:
    """A launcher copy in a fresh folder on C: and what one start of it showed."""

    def __init__(self, label, program=OLD, name="Vexo-Host.exe"):
        self.folder = f"{RUNS}/{label}"
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.path = f"{self.folder}/{name}"
        shutil.copy(program, self.path)
        self.windows_path = f"C:\\vexo-update\\{label}\\{name}"

    def start(self, *args, limited=True, env=None, answer_after_ms=0):
        """Starts the launcher through update-chain under vexo-testctl. Boxes are answered after
        `answer_after_ms`: on Windows the restarted launcher waits at the consent prompt, under
        Wine its re-start refuses at once, and a box answered sooner than 3 s would make it
        count as not come up."""
        report = f"{self.folder}.report"
        command = [f"{SOURCE}/cmake/wine-run", PREFIX, f"{BUILD}/bin/vexo-testctl.exe", "run",
                   *(["--limited"] if limited else []), "--timeout-ms", "90000",
                   "--answer-after-ms", str(answer_after_ms), "--",
                   f"{BUILD}/bin/update-chain.exe", "Z:" + report.replace("/", "\\"),
                   self.windows_path, *args]
        return subprocess.Popen(command, stdout=subprocess.PIPE, env={**os.environ, **(env or {})},
                                text=True), report

    def run(self, *args, limited=True, env=None, answer_after_ms=0):
        started = time.monotonic()
        return self.finish(*self.start(*args, limited=limited, env=env,
                                        answer_after_ms=answer_after_ms), started)

    def run_killing_worker_at(self, name, event, occurrence):
        """Starts the launcher and kills its update worker right after the `occurrence`th
        `event` on a file `name` in its folder or staging folder. True when it was killed."""
        libc, started = ctypes.CDLL(None, use_errno=True), time.monotonic()
        watch = libc.inotify_init1(os.O_NONBLOCK)
        libc.inotify_add_watch(watch, self.folder.encode(), IN_OPEN | IN_MOVED_TO | IN_CREATE)
        process, report = self.start(answer_after_ms=HUMAN_MS)
        while process.poll() is None and occurrence > 0:
            data = os.read(watch, 65536) if select.select([watch], [], [], 0.2)[0] else b""
            while data:
                _, mask, _, length = struct.unpack_from("iIII", data)
                entry, data = data[16:16 + length].rstrip(b"\0").decode(), data[16 + length:]
                if mask & IN_CREATE and entry.startswith(".vexo-update-"):
                    libc.inotify_add_watch(watch, f"{self.folder}/{entry}".encode(), IN_OPEN | IN_MOVED_TO | IN_CREATE)
                occurrence -= entry == name and bool(mask & event)
                if occurrence == 0:
                    for pid in filter(str.isdigit, os.listdir("/proc")):
                        if b"--vexo-update-worker" in read(f"/proc/{pid}/cmdline"):
                            os.kill(int(pid), signal.SIGKILL)
                    break
        os.close(watch)
        self.finish(process, report, started)
        return occurrence == 0

    def finish(self, process, report, started):
        self.output = process.communicate(timeout=180)[0]
        self.seconds = time.monotonic() - started
        self.exit_code = int(re.findall(r"^exit-code (\d+)$", self.output, re.M)[-1])
        self.chain = [line.split("\t") for line in read(report).decode(errors="ignore").split("\n")
                      if line]
        return self

    def went_on(self):
        """The normal start went on: under Wine its re-start through "runas" is unelevated and
        refuses with its box, and the launcher passes the 5 on."""
        return self.exit_code == 5 and APPROVAL_BOX.search(self.output) is not None

    def staging(self):
        return [f"{self.folder}/{n}" for n in os.listdir(self.folder) if n.startswith(".vexo-update-")]

    def worker_exit(self):
        return [int(code) for image, code in self.chain if image.startswith(".vexo-update-")]

class CycleTest(unittest.TestCase):
    def test_newer_launcher_replaces_the_program_and_starts_once(self):
        with Server(publish(NEW)) as server:
            launch = Launch("cycle").run(answer_after_ms=HUMAN_MS)
        staging, = launch.staging()
        self.assertEqual((launch.exit_code, launch.worker_exit()), (0, [0]))
        self.assertEqual(read(launch.path), read(NEW))
        self.assertEqual(read(f"{staging}/previous.exe"), read(OLD))
        self.assertEqual(read(f"{staging}/applied.json"), b'{"role":"host","sha256":"%s",'
                         b'"version":"0.3.0"}' % digest(read(NEW)).encode())
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
                staging, = launch.staging()
                self.assertEqual((launch.exit_code, launch.worker_exit()), (0, [worker_exit]))
                if worker_exit == 0:
                    self.assertEqual(read(launch.path), read(STAND_IN))
                    continue
                self.assertEqual(read(launch.path), read(OLD))
                self.assertEqual(read(f"{staging}/failed.exe"), read(STAND_IN))
                self.assertFalse(os.path.exists(f"{staging}/previous.exe"))
                # The old program, restarted with its own hash as marker, did not update again.
                self.assertEqual(len(server.requests()), 2)
                self.assertRegex(launch.output, APPROVAL_BOX)


class AttackTest(unittest.TestCase):
    def rows(self):
        new, now, other_key = read(NEW), int(time.time()), f"{WORK}/other-key.pem"
        run(TOOL, "keygen", "--private-key", other_key, "--public-key", other_key + ".pub")
        valid = publish(NEW)
        manifest = read(f"{valid}/{MANIFEST}")
        other = digest(read(STAND_IN))
        oversized = tempfile.mkdtemp(dir=WORK)
        write(f"{oversized}/{MANIFEST}", manifest.rstrip() + b" " * (16385 - len(manifest.rstrip())))
        redirect = (f"location = /{MANIFEST} {{ return 302 https://{HOST}/moved; }}"
                    f"location = /moved {{ alias {valid}/{MANIFEST}; }}")
        return [
            ("signed with another key", Server(publish(NEW, key=other_key))),
            ("expired", Server(signed(new, issuedAt=now - 7200, expiresAt=now - 60))),
            ("issuedAt in the future", Server(signed(new, issuedAt=now + 3600, expiresAt=now + 7200))),
            ("version equal", Server(publish(NEW, version="0.2.1"))),
            ("version older", Server(publish(NEW, version="0.2.0"))),
            ("sequence below 2", Server(publish(NEW, sequence=1))),
            ("bytes smaller than the file", Server(signed(new, file={"bytes": len(new) - 1}))),
            ("bytes larger than the file", Server(signed(new, file={"bytes": len(new) + 1}))),
            ("sha256 of another file", Server(served(signed(new, file={
                "sha256": other, "path": f"/api/program-updates/v1/files/{other}.exe"}), new, other))),
            ("path not matching the hash", Server(served(signed(new, file={
                "path": f"/api/program-updates/v1/files/{other}.exe"}), new, other))),
            ("302 to a valid tree", Server(valid, redirect)),
            ("manifest trickled past 10 s", Server(valid, f"location = /{MANIFEST} {{ limit_rate 60; }}")),
            ("accepts and never sends headers", Server(silent=True)),
            ("manifest one byte over its limit", Server(oversized)),
            ("file one byte over its limit", Server(served(signed(new), new + b"\0", digest(new)))),
            ("certificate from an untrusted CA", Server(valid, cert="other-server")),
            ("32-bit program", Server(signed(patched(patched(new, 4, lambda _: 0x14C), 24, lambda _: 0x10B)))),
            ("DLL", Server(signed(patched(new, 22, lambda value: value | 0x2000)))),
            ("program under 64 KiB", Server(signed(new[:65535]))),
            ("extra member in the envelope", Server(signed(new, envelope_extra={"comment": "x"}))),
            ("no server listening", Server()),
        ]

    def test_hostile_answers_change_nothing_and_the_start_goes_on(self):
        for label, server in self.rows():
            with self.subTest(label), server:
                launch = Launch(re.sub(r"\W+", "-", label)).run()
                self.assertTrue(launch.went_on(), launch.output)
                self.assertEqual(read(launch.path), read(OLD))
                self.assertEqual(launch.staging(), [])
                self.assertLess(launch.seconds, 25)


class RefusalTest(unittest.TestCase):
    ROWS = [("a switch", "Vexo-Host.exe", ["--verify-payload"], {}, 0),
            ("another role's switch", "Vexo-Host.exe", ["--managed"], {}, 87),
            ("another file name", "Vexo-Host (1).exe", [], {}, 5),
            ("the recovery marker", "Vexo-Host.exe", [], {"VEXO_UPDATE_RECOVERY": digest(read(OLD))}, 5)]

    def test_no_request_reaches_the_server(self):
        for label, name, args, env, exit_code in self.ROWS:
            with self.subTest(label), Server(publish(NEW)) as server:
                launch = Launch(re.sub(r"\W+", "-", label), name=name).run(*args, env=env)
                self.assertEqual(launch.exit_code, exit_code, launch.output)
                self.assertEqual(server.requests(), [])

    def test_an_elevated_start_never_updates(self):
        with Server(publish(NEW)) as server:
            launch = Launch("elevated")
            run(f"{SOURCE}/cmake/wine-run", PREFIX, f"{BUILD}/bin/vexo-testctl.exe", "patch-resource",
                launch.windows_path, "101", "0")
            launch.run(limited=False)
        self.assertNotEqual(launch.exit_code, 0)
        self.assertEqual(server.requests(), [])


class CrashTest(unittest.TestCase):
    # Kill points: the worker dies right after the given event on the given file.
    ROWS = [("plan.json", IN_OPEN, 2), ("Vexo-Host.exe", IN_OPEN, 2), ("new.exe", IN_OPEN, 2),
            ("new.exe", IN_OPEN, 3), ("Vexo-Host.exe", IN_OPEN, 4), ("new.exe", IN_OPEN, 4),
            ("previous.exe", IN_CREATE, 1), ("previous.exe", IN_OPEN, 2),
            ("Vexo-Host.exe", IN_MOVED_TO, 1), ("Vexo-Host.exe", IN_OPEN, 6),
            ("applied.json", IN_CREATE, 1)]

    def test_a_killed_worker_leaves_a_whole_program_that_starts(self):
        tree = publish(NEW)
        for name, event, occurrence in self.ROWS:
            with self.subTest(f"{name} {event:#x} {occurrence}"), Server(tree):
                launch = Launch(f"crash-{name}-{event}-{occurrence}")
                self.assertTrue(launch.run_killing_worker_at(name, event, occurrence))
                self.assertIn(read(launch.path), (read(OLD), read(NEW)))
                self.assertEqual(launch.run("--verify-payload").exit_code, 0)


def inside_namespace():
    run("ip", "link", "set", "lo", "up")
    write(f"{WORK}/hosts", f"127.0.0.1 localhost\n127.0.0.1 {HOST}\n".encode())
    write(f"{WORK}/bundle.crt", read("/etc/ssl/certs/ca-certificates.crt") + read(f"{WORK}/ca.crt"))
    run("mount", "--bind", f"{WORK}/hosts", "/etc/hosts")
    run("mount", "--bind", f"{WORK}/bundle.crt", "/etc/ssl/certs/ca-certificates.crt")
    os.environ.update(WINEPREFIX=PREFIX, WINEDEBUG="-all")
    # A fresh wineserver inside the namespace: a server reads the CA bundle only once.
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    subprocess.run([f"{SOURCE}/cmake/wine-run", PREFIX, "cmd", "/c", "exit"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"])


if __name__ == "__main__":
    if os.environ.get("VEXO_UPDATE_E2E_INSIDE") != "1":
        for stem in ("ca", "other-ca"):
            make_cert(stem)
        make_cert("server", f"{WORK}/ca")
        make_cert("other-server", f"{WORK}/other-ca")
        status = subprocess.run(["unshare", "--net", "--mount", sys.executable, *sys.argv],
                                env={**os.environ, "VEXO_UPDATE_E2E_INSIDE": "1",
                                     "VEXO_UPDATE_E2E_WORK": WORK}).returncode
        shutil.rmtree(WORK, ignore_errors=True)
        sys.exit(status)
    shutil.rmtree(WORK)
    WORK = os.environ["VEXO_UPDATE_E2E_WORK"]
    inside_namespace()
    try:
        unittest.main(argv=[sys.argv[0], "-v", GROUP])
    finally:
        subprocess.run(["wineserver", "-k"])
