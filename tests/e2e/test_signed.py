"""A signed UpDate.exe made by tools/make_update.sh from the sample game's
description: the signature verifies, the payload is the unsigned build's,
and the signed program updates the sample installation."""

import os
import subprocess
import sys
import unittest
from pathlib import Path

import harness
from texts import CONFIRM_UPDATE, UPDATE_FINISHED

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tools"))
import pe_signed  # noqa: E402

PAYLOAD = ("LMH.exe", "dll/RESOURCE.dll")
PROFILE = "[INSTALL]\r\nInstallFold=" + harness.INSTALL_WIN + "\r\n"


def run(args, **kwargs):
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        raise harness.HarnessError(f"{args[0]} failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    return done


class SignedBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = Path(os.environ["E2E_WORK_DIR"]) / "signed_build"
        run(["rm", "-rf", work])
        work.mkdir(parents=True)
        # A throwaway self-signed code-signing certificate.
        cls.cert = work / "cert.pem"
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", work / "key.pem",
             "-out", cls.cert, "-days", "2", "-subj", "/CN=Throwaway Test Publisher",
             "-addext", "extendedKeyUsage=codeSigning"])
        p12 = work / "signing.p12"
        run(["openssl", "pkcs12", "-export", "-inkey", work / "key.pem", "-in", cls.cert, "-out", p12,
             "-passout", "pass:test password"])
        env = dict(os.environ, UPDATE_SIGN_PKCS12=str(p12), UPDATE_SIGN_PASSWORD="test password",
                   FPTOOL=str(harness.host_tool_fptool()))
        cls.tree = work / "tree"
        new = harness.windows_build_dir() / "sample" / "new"
        cls.summary = run(["bash", SOURCE / "tools" / "make_update.sh", SOURCE / "sample" / "update.ini",
                           "--payload", new, "--tree", cls.tree], env=env).stdout
        print(cls.summary, file=sys.stderr)
        cls.signed = cls.tree / "UpDate.exe"
        cls.unsigned = cls.tree / "windows" / "bin" / "UpDate.exe"

    def test_signature_verifies_and_payload_is_unchanged(self):
        self.assertRegex(self.summary, r"(?m)^signed: +yes, by CN = Throwaway Test Publisher")
        done = subprocess.run(["osslsigncode", "verify", "-in", str(self.signed), "-CAfile", str(self.cert)],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Signature verification: ok", done.stdout)
        unsigned, signed = self.unsigned.read_bytes(), self.signed.read_bytes()
        self.assertGreater(len(signed), len(unsigned))
        self.assertIsNone(pe_signed.compare(unsigned, signed))
        # The unsigned build is the default build, byte for byte.
        self.assertEqual(unsigned, harness.built_program("UpDate.exe").read_bytes())

    def test_signed_build_updates_the_sample_installation(self):
        wine = harness.session()
        install = wine.install_sample("old")
        wine.write_profile(PROFILE)
        run_ = wine.run_updater("OK", "OK", updater=self.signed)
        report = run_.describe()
        self.assertEqual(run_.exit_code, 0, report)
        self.assertEqual([m.text_bytes for m in run_.messages],
                         [CONFIRM_UPDATE.encode("cp932"), UPDATE_FINISHED.encode("cp932")], report)
        installed, new = harness.tree_digest(install), harness.tree_digest(wine.sample_dir("new"))
        for name in PAYLOAD:
            self.assertEqual(installed[name], new[name], f"{name} is not the new version")
        profile = harness.parse_profile(wine.profile_bytes())
        self.assertEqual(profile.get("UPDATE", {}).get("NONACTIVATION"), "1", profile)


if __name__ == "__main__":
    unittest.main()
