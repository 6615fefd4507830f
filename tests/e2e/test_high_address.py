"""UpDate.exe's own checksum, decoding and verification code with every
address below 2 GiB taken (high_address_probe.exe): each check must agree
with its independent result while every address it used lies above 2 GiB."""

import json
import shutil
import unittest

import harness

TWO_GIB = 0x80000000
GRANULE = 0x10000  # the smallest block the system hands out
CHECKS = ("checksum", "decoding", "delta", "verification")
FILES_WIN = "C:\\e2e\\high-address"
DAMAGED_WIN = "C:\\e2e\\high-address-damaged"


class HighAddressTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()

    def folder(self, windows_path: str):
        path = self.wine.unix_path(windows_path)
        shutil.rmtree(path, ignore_errors=True)
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def test_checks_pass_with_every_address_above_2_gib(self):
        self.wine.install_sample("old")
        damaged = self.folder(DAMAGED_WIN)
        self.wine.install_sample("old", DAMAGED_WIN)
        game = bytearray((damaged / "LMH.exe").read_bytes())
        game[len(game) // 2] ^= 0x01
        (damaged / "LMH.exe").write_bytes(game)

        files = self.folder(FILES_WIN)
        files.mkdir(parents=True)
        frames = self.wine.windows_build_dir / "high_address"
        shutil.copy2(self.wine.sample_dir("new") / "LMH.exe", files / "new.exe")
        shutil.copy2(self.wine.sample_dir("old") / "LMH.exe", files / "old.exe")
        shutil.copy2(frames / "LMH.exe.zst", files / "new.exe.zst")
        shutil.copy2(frames / "LMH.exe.delta.zst", files / "new.exe.delta.zst")

        done = harness.run_windows_program(
            self.wine, harness.built_program("high_address_probe.exe"),
            *(f"{FILES_WIN}\\{name}" for name in ("new.exe", "new.exe.zst", "old.exe", "new.exe.delta.zst")),
            harness.INSTALL_WIN, DAMAGED_WIN, timeout=300)
        output = (done.stdout + done.stderr).decode(errors="replace")
        lines = [line for line in done.stdout.decode(errors="replace").splitlines() if line.startswith("{")]
        self.assertEqual(len(lines), 1, output)
        found = json.loads(lines[0])

        print(f"\n    {lines[0]}", flush=True)

        # The probe really took the space: nothing is left free below 2 GiB,
        # and the system hands out nothing more there when asked.
        self.assertGreater(found["reserved_bytes"], 0, output)
        self.assertLess(found["largest_free_below_2gib"], GRANULE, output)
        self.assertEqual(found["largest_handed_out_below_2gib"], 0, output)
        self.assertGreater(found["room_above_2gib"], 0, output)
        self.assertTrue(found["ran"], output)
        self.assertGreaterEqual(int(found["stack"], 16), TWO_GIB, output)
        # The fingerprint module's records were read by the program's own code, and seen.
        self.assertGreater(found["verification"]["resources"], 0, output)
        for name in CHECKS:
            with self.subTest(check=name):
                self.assertTrue(found[name]["passed"], output)
                self.assertGreaterEqual(int(found[name]["lowest"], 16), TWO_GIB, output)
        self.assertTrue(found["ok"], output)
        self.assertEqual(done.returncode, 0, output)


if __name__ == "__main__":
    unittest.main()
