"""The firmware cases' own tools, without the firmware: the variable store rewrite and the
Authenticode digest. That the firmware boots a rewritten store and uses what it holds is shown by
the firmware cases themselves (shim_with_ovmf_keys, unsigned_shim_digest_in_db)."""

import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import firmware_cases  # noqa: E402
from firmware_cases import SHA256, authenticode, firmware_boot, ovmf_vars  # noqa: E402


def live_variables(store):
    return [(v.name, v.guid, v.attributes, v.data) for v in ovmf_vars.variables(store) if v.live]


class StoreRewrite(unittest.TestCase):
    def setUp(self):
        self.store = firmware_boot.VARS.read_bytes()
        self.db = ovmf_vars.read_variable(self.store, "db")
        self.dbx = ovmf_vars.read_variable(self.store, "dbx")

    def test_round_trip(self):
        new_db = self.db + firmware_cases.signature_list(SHA256, [bytes(range(32))])
        for db, dbx in ((self.db, self.dbx), (new_db, None), (None, self.dbx)):
            with self.subTest(db=db and len(db), dbx=dbx and len(dbx)):
                written = ovmf_vars.rewrite(self.store, {"db": db, "dbx": dbx})
                self.assertEqual(len(written), len(self.store))
                self.assertEqual(ovmf_vars.read_variable(written, "db"), db)
                self.assertEqual(ovmf_vars.read_variable(written, "dbx"), dbx)
                # Every other variable kept as it was, and written again over a rewrite.
                others = [v for v in live_variables(self.store) if v[0] not in ("db", "dbx")]
                self.assertEqual([v for v in live_variables(written)
                                  if v[0] not in ("db", "dbx")], others)
                again = ovmf_vars.rewrite(written, {"db": self.db})
                self.assertEqual(ovmf_vars.read_variable(again, "db"), self.db)
                self.assertEqual(ovmf_vars.read_variable(again, "dbx"), dbx)

    def test_refuses_what_is_no_store_or_does_not_fit(self):
        with self.assertRaises(ovmf_vars.StoreError):
            ovmf_vars.rewrite(bytes(len(self.store)), {"db": self.db})
        with self.assertRaises(ovmf_vars.StoreError):
            ovmf_vars.rewrite(self.store, {"db": bytes(300 * 1024)})


class Digest(unittest.TestCase):
    def test_equals_the_digest_microsoft_signed_in_shim(self):
        shim = firmware_cases.SIGNED_SHIM.read_bytes()
        # Each of the shim's two signatures carries the digest it signed.
        self.assertEqual(shim.count(authenticode.digest(shim)), 2)

    def test_equals_osslsigncodes(self):
        signed, _ = firmware_cases.test_signed()
        with tempfile.NamedTemporaryFile(suffix=".efi") as efi:
            efi.write(signed)
            efi.flush()
            done = subprocess.run(["osslsigncode", "verify", "-in", efi.name],
                                  capture_output=True, text=True)
        calculated = re.search(r"Calculated message digest\s*:\s*([0-9A-F]{64})", done.stdout)
        self.assertIsNotNone(calculated, done.stdout + done.stderr)
        self.assertEqual(authenticode.digest(signed).hex().upper(), calculated.group(1))


if __name__ == "__main__":
    unittest.main()
