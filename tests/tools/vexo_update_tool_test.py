#!/usr/bin/env python3
"""End-to-end tests of the vexo-update release tool: keygen, sign and publish, driven as a
program. The key is checked against the openssl command-line tool; that what publish and sign
write verifies with the launcher's own code is shown by the cross-check (update_signature_test)
and by the full update cycle (tests/update/update_e2e.py)."""
import hashlib
import json
import os
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = None


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60)


def pe_image(size=65536, characteristics=0x0022):
    """A minimal x64 image with the given size and characteristics."""
    image = bytearray(size)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, 0x80)
    struct.pack_into("<4sH16xHH", image, 0x80, b"PE\0\0", 0x8664, characteristics, 0x020B)
    return bytes(image)


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        os.umask(0o000)  # the private key must still come out readable by its owner only
        result = run("keygen", "--private-key", self.path("key.pem"),
                     "--public-key", self.path("key.pub"))
        os.umask(0o022)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.public_hex = result.stdout.strip()

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content)
        return self.path(name)

    def openssl(self, *args):
        return subprocess.run(["openssl", *args], capture_output=True)

    def test_keygen(self):
        self.assertEqual(stat.S_IMODE(os.stat(self.path("key.pem")).st_mode), 0o600)
        with open(self.path("key.pub")) as f:
            self.assertEqual(f.read(), self.public_hex + "\n")
        # The blob holds the key's own point, as openssl reports it.
        der = self.openssl("pkey", "-in", self.path("key.pem"), "-pubout", "-outform", "DER").stdout
        self.assertEqual("4543533120000000" + der[-64:].hex(), self.public_hex)

    def test_sign(self):
        # The envelope's members are those the launcher reads, as its cross-check shows.
        payload = b'{"text":"A\\u0041 \xc3\xa9"}'.ljust(8191)  # the largest
        result = run("sign", "--private-key", self.path("key.pem"), "--payload",
                     self.write("payload", payload), "--out", self.path("m.json"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path("m.json"), "rb") as f:
            envelope = json.loads(f.read())
        self.assertEqual(envelope["payload"].encode(), payload)
        self.assertRegex(envelope["signature"], "^[0-9a-f]{128}$")

    def test_publish(self):
        """The largest program and validity, the default validity and the highest sequence."""
        for role, days, size in [("host", None, 65536), ("collector", "180", 67108864)]:
            image = pe_image(size)
            before = int(time.time())
            result = run("publish", "--private-key", self.path("key.pem"), "--program",
                         self.write("p.exe", image), "--out", self.path(role), "--version",
                         "0.2.2", "--sequence", "9007199254740991", "--role", role,
                         *(["--valid-days", days] if days else []))
            self.assertEqual(result.returncode, 0, result.stderr)
            digest = hashlib.sha256(image).hexdigest()
            path = "/api/program-updates/v1/files/" + digest + ".exe"
            with open(self.path(role) + path, "rb") as f:
                self.assertEqual(f.read(), image)
            with open(self.path(role) + "/api/program-updates/v1/manifest/" + role, "rb") as f:
                payload = json.loads(json.loads(f.read())["payload"])
            issued = payload.pop("issuedAt")
            self.assertTrue(before <= issued <= int(time.time()))
            self.assertEqual(payload.pop("expiresAt") - issued, int(days or 30) * 86400)
            self.assertEqual(payload, {
                "schema": 1, "brand": "vexolink", "role": role, "platform": "windows-x64",
                "channel": "stable", "version": "0.2.2", "sequence": 9007199254740991,
                "file": {"sha256": digest, "bytes": size, "path": path}})

    def test_refusals(self):
        """One row per reason; the program, version and sequence grammars are the launcher's
        own, tested there and fuzzed. A refused command leaves no output behind."""
        self.openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384",
                     "-out", self.path("p384.pem"))
        with open(self.path("huge.exe"), "wb") as f:  # sparse, so the test stays small on disk
            f.write(pe_image())
            f.truncate(67108865)
        out = ["--out", self.path("out")]
        sign = ["sign", "--private-key", self.path("key.pem"), *out, "--payload"]
        good = self.write("good.exe", pe_image())
        unversioned = ["publish", "--private-key", self.path("key.pem"), *out, "--program", good]
        publish = unversioned[:-2] + ["--sequence", "3", "--version", "0.2.2", "--program"]
        cases = [
            (["keygen", "--private-key", self.path("key.pem"), "--public-key", self.path("out")],
             1, "already exists"),
            (sign + [self.write("big", b" " * 8192)], 1, "larger than 8191"),
            (sign + [self.write("latin1", b'{"a":"\xe9"}')], 1, "UTF-8"),
            (["sign", "--private-key", self.path("p384.pem"), *out, "--payload", good], 1, "P-256"),
            (["sign", "--private-key", good, *out, "--payload", good], 1, "private key"),
            (publish + [self.write("dll.exe", pe_image(characteristics=0x2022))], 1, "DLL"),
            (publish + [self.path("huge.exe")], 1, "larger than 67108864"),
            (unversioned + ["--version", "01.2.3", "--sequence", "3"], 1, "--version"),
            (unversioned + ["--version", "0.2.2", "--sequence", str(2**53)], 1, "at most"),
            (publish + [good, "--valid-days", "181"], 1, "at most 180"),
            (publish + [good, "--valid-days", "0"], 1, "at least 1"),
            (publish + [good, "--role", "Host"], 1, "unknown role"),
            (publish + [good, "--stage", "later"], 1, "--stage must be current or next"),
            (publish + [good, "--force", "1"], 2, "unknown option"),
            (["unsign"], 2, "unsign"),
        ]
        for args, code, message in cases:
            with self.subTest(message):
                result = run(*args)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.path("out")))
        self.assertIn("usage: vexo-update publish", run("publish", "--help").stdout)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=2)
