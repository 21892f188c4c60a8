#!/usr/bin/env python3
"""End-to-end tests of the vexo-update release tool: keygen, sign and publish, driven as a
program, with every signature checked independently by the openssl command-line tool."""
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


def pe_image(size=65536, machine=0x8664, magic=0x020B, characteristics=0x0022, pe=0x80):
    """A minimal image with the given header fields."""
    image = bytearray(size)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, pe)
    image[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HH", image, pe + 22, characteristics, magic)
    struct.pack_into("<H", image, pe + 4, machine)
    return bytes(image)


def der_from_p1363(signature_hex):
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        value = b"\0" + value if value[0] & 0x80 else value
        return b"\x02" + bytes([len(value)]) + value
    raw = bytes.fromhex(signature_hex)
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        os.umask(0o000)  # the private key must still come out readable by its owner only
        result = run("keygen", "--private-key", self.path("key.pem"),
                     "--public-key", self.path("key.pub"))
        os.umask(0o022)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.public_hex = result.stdout.strip()

    def tearDown(self):
        self.dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content)
        return self.path(name)

    def openssl_verifies(self, payload, signature_hex):
        subprocess.run(["openssl", "pkey", "-in", self.path("key.pem"), "-pubout", "-out",
                        self.path("pub.pem")], check=True, capture_output=True)
        self.write("signed", payload)
        self.write("sig", der_from_p1363(signature_hex))
        return subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.path("pub.pem"),
                               "-signature", self.path("sig"), self.path("signed")],
                              capture_output=True).returncode == 0

    def expect_refused(self, command, args, code, message, output):
        result = run(command, *args)
        self.assertEqual(result.returncode, code, result.stderr)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(output))

    def test_keygen(self):
        self.assertEqual(stat.S_IMODE(os.stat(self.path("key.pem")).st_mode), 0o600)
        with open(self.path("key.pub")) as f:
            self.assertEqual(f.read(), self.public_hex + "\n")
        # The blob holds the key's own point, as openssl reports it.
        der = subprocess.run(["openssl", "pkey", "-in", self.path("key.pem"), "-pubout",
                              "-outform", "DER"], check=True, capture_output=True).stdout
        self.assertEqual("4543533120000000" + der[-64:].hex(), self.public_hex)
        # Keys are never overwritten; a second key pair differs.
        self.expect_refused("keygen", ["--private-key", self.path("key.pem"), "--public-key",
                                       self.path("other.pub")], 1, "already exists",
                            self.path("other.pub"))
        other = run("keygen", "--private-key", self.path("k2.pem"), "--public-key",
                    self.path("k2.pub"))
        self.assertNotEqual(other.stdout.strip(), self.public_hex)

    def test_sign(self):
        for payload in [b'{"text":"A\\u0041 \xc3\xa9"}\n', b"x" * 8191]:
            self.write("payload", payload)
            result = run("sign", "--private-key", self.path("key.pem"), "--payload",
                         self.path("payload"), "--out", self.path("m.json"))
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(self.path("m.json"), "rb") as f:
                envelope = json.loads(f.read())
            self.assertEqual(sorted(envelope), ["keyId", "payload", "signature"])
            self.assertEqual(envelope["keyId"], "vexo-update-2026-01")
            self.assertEqual(envelope["payload"].encode(), payload)
            self.assertRegex(envelope["signature"], r"^[0-9a-f]{128}$")
            self.assertTrue(self.openssl_verifies(payload, envelope["signature"]))
            self.assertFalse(self.openssl_verifies(payload + b" ", envelope["signature"]))

    def test_publish(self):
        for role, days, size in [("host", None, 65536), ("collector", "180", 67108864)]:
            image = pe_image(size)
            extra = ["--valid-days", days] if days else []
            before = int(time.time())
            result = run("publish", "--private-key", self.path("key.pem"), "--program",
                         self.write("p.exe", image), "--out", self.path(role), "--version",
                         "0.2.2", "--sequence", "9007199254740991", "--role", role, *extra)
            self.assertEqual(result.returncode, 0, result.stderr)
            digest = hashlib.sha256(image).hexdigest()
            root = self.path(role) + "/api/program-updates/v1/"
            with open(root + "files/" + digest + ".exe", "rb") as f:
                self.assertEqual(f.read(), image)
            with open(root + "manifest/" + role, "rb") as f:
                envelope = json.loads(f.read())
            self.assertTrue(self.openssl_verifies(envelope["payload"].encode(),
                                                  envelope["signature"]))
            payload = json.loads(envelope["payload"])
            issued = payload.pop("issuedAt")
            self.assertTrue(before <= issued <= int(time.time()))
            self.assertEqual(payload.pop("expiresAt") - issued, int(days or 30) * 86400)
            self.assertEqual(payload, {
                "schema": 1, "brand": "vexolink", "role": role, "platform": "windows-x64",
                "channel": "stable", "version": "0.2.2", "sequence": 9007199254740991,
                "file": {"sha256": digest, "bytes": size,
                         "path": "/api/program-updates/v1/files/" + digest + ".exe"}})

    def test_refusals(self):
        """One row per rule; the program, version and sequence grammars are the launcher's own,
        tested there and fuzzed. A refused command leaves no output behind."""
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                        "ec_paramgen_curve:P-384", "-out", self.path("p384.pem")],
                       check=True, capture_output=True)
        with open(self.path("huge.exe"), "wb") as f:  # sparse, so the test stays small on disk
            f.write(pe_image())
            f.truncate(67108865)
        sign = ["sign", "--private-key", self.path("key.pem"), "--out", self.path("out"),
                "--payload"]
        publish = ["publish", "--private-key", self.path("key.pem"), "--out", self.path("out"),
                   "--sequence", "3", "--program"]
        good = self.write("good.exe", pe_image())
        cases = [
            (sign + [self.write("big", b" " * 8192)], 1, "larger than 8191"),
            (sign + [self.write("latin1", b'{"a":"\xe9"}')], 1, "UTF-8"),
            (["sign", "--private-key", self.path("p384.pem"), "--out", self.path("out"),
              "--payload", good], 1, "P-256"),
            (["sign", "--private-key", good, "--out", self.path("out"), "--payload", good], 1,
             "private key"),
            (publish + [self.write("dll.exe", pe_image(characteristics=0x2022)), "--version",
                        "0.2.2"], 1, "DLL"),
            (publish + [self.path("huge.exe"), "--version", "0.2.2"], 1, "larger than 67108864"),
            (publish + [good, "--version", "01.2.3"], 1, "--version"),
            (publish[:-3] + ["--program", good, "--version", "0.2.2", "--sequence", str(2**53)],
             1, "at most"),
            (publish + [good, "--version", "0.2.2", "--valid-days", "181"], 1, "at most 180"),
            (publish + [good, "--version", "0.2.2", "--valid-days", "0"], 1, "at least 1"),
            (publish + [good, "--version", "0.2.2", "--role", "Host"], 1, "unknown role"),
            (publish + [good, "--version", "0.2.2", "--force", "1"], 2, "unknown option"),
            (publish + [good, "--version", "0.2.2", "--role"], 2, "needs a value"),
        ]
        for args, code, message in cases:
            with self.subTest(message):
                self.expect_refused(args[0], args[1:], code, message, self.path("out"))

    def test_command_line(self):
        for command in ["keygen", "sign", "publish"]:
            result = run(command, "--help")
            self.assertEqual(result.returncode, 0)
            self.assertIn("usage: vexo-update " + command, result.stdout)
            self.assertEqual(run(command).returncode, 2)
        self.assertEqual(run("--help").returncode, 0)
        self.assertEqual(run("unsign").returncode, 2)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=2)
