"""UpDate.exe without a usable profile file, and the form of the executable."""

import re
import subprocess
import unittest

import harness
from texts import BUTTON_OK, CAPTION, INSTALL_NOT_FOUND, MB_ICONWARNING, MB_OK


class NoInstallationTest(unittest.TestCase):
    def setUp(self):
        self.wine = harness.session()

    def test_profile_not_usable(self):
        def no_profile():
            self.wine.remove_profile()

        def folder_as_profile():
            self.wine.remove_profile()
            self.wine.profile_path.mkdir(parents=True)

        for name, arrange in [("no profile file", no_profile),
                              ("a folder in place of the profile file", folder_as_profile)]:
            with self.subTest(name):
                arrange()
                # One answer only: a second box would be left unanswered and
                # end the run.
                run = self.wine.run_updater("OK")
                report = run.describe()
                self.assertFalse(run.timed_out or run.unanswered, report)
                self.assertEqual(len(run.messages), 1, report)
                box = run.messages[0]
                self.assertEqual(box.text_bytes, INSTALL_NOT_FOUND.encode("cp932"), report)
                self.assertEqual(box.caption_bytes, CAPTION.encode("cp932"), report)
                self.assertEqual(box.buttons, (BUTTON_OK,), report)
                self.assertEqual(box.icon, "warning", report)
                self.assertEqual(box.style, MB_OK | MB_ICONWARNING, report)
                self.assertEqual(box.owner, "none", report)
                self.assertIsNone(run.progress, report)
                self.assertEqual(run.other_windows, [], report)
                self.assertEqual(run.exit_code, 1, report)
        self.wine.remove_profile()


class ExecutableFormTest(unittest.TestCase):
    """The program must start on the oldest supported Windows and load no
    library outside the system's core set."""

    ALLOWED_IMPORTS = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL", "MSVCRT.DLL", "ADVAPI32.DLL", "GDI32.DLL"}
    REQUIRED_IMPORTS = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL"}

    def objdump(self, option):
        exe = harness.built_program("UpDate.exe")
        return subprocess.run(["i686-w64-mingw32-objdump", option, str(exe)], capture_output=True, text=True,
                              check=True).stdout

    def test_pe_header_and_imports(self):
        header = self.objdump("-f")
        self.assertIn("file format pei-i386", header)
        self.assertRegex(header, r"architecture: i386\b")

        private = self.objdump("-p")
        fields = dict(re.findall(r"^(\w+)\s+([^\n]+)$", private, re.M))
        self.assertTrue(fields.get("Magic", "").startswith("010b"), fields.get("Magic"))
        self.assertEqual(fields.get("Subsystem", "").split()[0], "00000002", "not a Windows GUI program")
        self.assertEqual(fields.get("MajorSubsystemVersion"), "5")
        self.assertEqual(fields.get("MinorSubsystemVersion"), "1")

        imports = {name.upper() for name in re.findall(r"DLL Name: (\S+)", private)}
        self.assertTrue(self.REQUIRED_IMPORTS <= imports, imports)
        self.assertEqual(imports - self.ALLOWED_IMPORTS, set())
