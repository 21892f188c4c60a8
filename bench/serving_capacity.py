#!/usr/bin/env python3
# What one nginx with the shipped update site (server/nginx/) serves on this machine, measured
# with Debian's load tools over loopback inside a private network and mount namespace
# (docs/serving-updates.md records a run and the capacity estimate built on it). As root:
#
#   bench/serving_capacity.py [--seconds N]
#
# Three figures, each run bounded in requests and in time (ab stops after --seconds, 20 by
# default; each h2load run is stopped after three times that), all traffic to 127.0.0.1:
#   - the manifest, one new TLS connection per request, as launchers ask for it (ab, no keep-alive);
#   - the manifest over kept-alive connections, as a CDN's edge asks for it (h2load, HTTP/1.1);
#   - a 64 MiB program file, as launchers download it (h2load, four at a time).
# Load and server share the machine's cores, so the figures are what this machine gives both.
import argparse, hashlib, os, re, socket, struct, subprocess, sys, tempfile, time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
TOOL = SOURCE / "build/native/bin/vexo-update"
SITE_TOOL = SOURCE / "server/nginx/vexo-update-site.sh"
HOST = "updates.capacity.test"
MANIFEST = "api/program-updates/v1/manifest/host"
PROGRAM_BYTES = 64 << 20  # the largest program a manifest may name
# Below the site's 16 connections per address: every client here is 127.0.0.1.
CONNECTIONS = 12
WORK_VARIABLE = "VEXO_SERVING_CAPACITY_WORK"


def run(*args, **options):
    return subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True, **options)


def program_image():
    # An x64 Windows program image of PROGRAM_BYTES, as vexo-update publish requires; its bytes
    # past the header are random, so nothing along the way could compress them.
    image = bytearray(os.urandom(PROGRAM_BYTES))
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, 0x80)
    struct.pack_into("<4sH16xHH", image, 0x80, b"PE\0\0", 0x8664, 0x0022, 0x020B)
    return bytes(image)


def serve(work):
    # The shipped site, rendered for a throw-away certificate and a published tree, in nginx.
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "1",
        "-keyout", work / "server.key", "-out", work / "server.crt", "-subj", f"/CN={HOST}",
        "-addext", f"subjectAltName=DNS:{HOST}")
    run(TOOL, "keygen", "--private-key", work / "update.pem", "--public-key", work / "update.pub")
    program = work / "program.exe"
    program.write_bytes(program_image())
    run(TOOL, "publish", "--private-key", work / "update.pem", "--program", program, "--version", "0.3.0",
        "--sequence", "3", "--out", work / "tree")
    run(SITE_TOOL, "render", "--host", HOST, "--certificate", work / "server.crt", "--key", work / "server.key",
        "--tree", work / "tree", "--conf", work / "site")
    conf = (SOURCE / "tests/update/nginx.conf.in").read_text()
    (work / "nginx.conf").write_text(conf.replace("@WORK@", str(work)).replace("@SITE@", str(work / "site")))
    (work / "logs").mkdir()
    (work / "hosts").write_text(f"127.0.0.1 localhost\n127.0.0.1 {HOST}\n")
    run("ip", "link", "set", "lo", "up")
    run("mount", "--bind", work / "hosts", "/etc/hosts")
    run("mount", "--bind", work / "logs", "/var/log/nginx")
    nginx = subprocess.Popen(["nginx", "-c", work / "nginx.conf"], stdin=subprocess.DEVNULL)
    while socket.socket().connect_ex(("127.0.0.1", 443)) != 0:
        if nginx.poll() is not None:
            sys.exit("serving_capacity: nginx did not start")
        time.sleep(0.05)
    return nginx, hashlib.sha256(program.read_bytes()).hexdigest()


def figure(pattern, text, missing=None):
    # The number `pattern` finds in a load tool's report; `missing` when it is not there.
    found = re.search(pattern, text)
    if not found and missing is None:
        sys.exit(f"serving_capacity: {pattern} not found in:\n{text}")
    return float(found.group(1)) if found else missing


def load(seconds, *command):
    # One run, bounded in requests by its command and stopped after `seconds` by timeout.
    result = subprocess.run(["timeout", str(seconds), *map(str, command)], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"serving_capacity: {command[0]} did not finish within {seconds} s:\n{result.stdout}{result.stderr}")
    return result.stdout


def main():
    options = argparse.ArgumentParser()
    options.add_argument("--seconds", type=int, default=20, help="how long ab runs")
    seconds = options.parse_args().seconds
    if WORK_VARIABLE not in os.environ:
        with tempfile.TemporaryDirectory(prefix="vexo-serving-") as work:
            sys.exit(subprocess.run(["unshare", "--net", "--mount", sys.executable, *sys.argv],
                                    env={**os.environ, WORK_VARIABLE: work}).returncode)
    work = Path(os.environ[WORK_VARIABLE])
    nginx, sha256 = serve(work)
    url = f"https://{HOST}"
    try:
        print(f"serving_capacity: {time.strftime('%Y-%m-%d %H:%M %Z')}, {os.cpu_count()} cores, load average "
              f"{os.getloadavg()[0]:.2f}, {run('nginx', '-v').stderr.strip()}, a manifest of "
              f"{(work / 'tree' / MANIFEST).stat().st_size} bytes")
        text = load(seconds + 10, "ab", "-q", "-t", seconds, "-n", 100000, "-c", CONNECTIONS, f"{url}/{MANIFEST}")
        rate, count = figure(r"Requests per second:\s+([0-9.]+)", text), figure(r"Complete requests:\s+(\d+)", text)
        failed = figure(r"Failed requests:\s+(\d+)", text) + figure(r"Non-2xx responses:\s+(\d+)", text, 0)
        print(f"manifest, a new TLS connection per request: {rate:.0f} requests/s ({count:.0f} requests, "
              f"{failed:.0f} failed; ab -c {CONNECTIONS})")
        for label, path, requests, clients in (("manifest, kept-alive connections", MANIFEST, 50000, CONNECTIONS),
                                               ("program file of 64 MiB", f"api/program-updates/v1/files/{sha256}.exe", 16, 4)):
            text = load(3 * seconds, "h2load", "--h1", "-n", requests, "-c", clients, f"{url}/{path}")
            rate, mbps = figure(r"finished in [0-9.]+m?s, ([0-9.]+) req/s", text), figure(r"req/s, ([0-9.]+)MB/s", text)
            count = figure(r"requests: .* (\d+) succeeded", text)
            print(f"{label}: {rate:.1f} requests/s, {mbps:.1f} MiB/s ({count:.0f} of {requests} succeeded; "
                  f"h2load -c {clients})")
    finally:
        nginx.terminate()
        nginx.wait()
    print(f"serving_capacity: load average at the end {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
