"""The description file of an update build: every bad description is refused
with a message naming the file and line, and nothing is made from it; a good
one gives the program the texts' code page 932 bytes.

  python3 update_description_test.py --source DIR --fptool FPTOOL --work DIR
"""

import argparse
import codecs
import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

ARGS = None

GOOD = """\
; a description
[Product]
MakerFolder=KESTRIN
Abbreviation=LMH
DisplayName=Lantern Moonharbor

[Update]
Number=2
EntryList=

[Payload]
Folder=payload
File1=LMH.exe
File2=dll\\RESOURCE.dll
"""

# (name, change to GOOD: (old line, new text) or a function, line the message
# names (0: the file alone), words the message holds)
BAD = [
    ("missing key", ("Abbreviation=LMH\n", ""), 2, "[Product] is missing the key Abbreviation"),
    ("missing section", lambda t: t.replace("[Update]\nNumber=2\nEntryList=\n", ""), 0,
     "section [Update] is missing"),
    ("unknown key", ("EntryList=\n", "EntryList=\nVersion=1.2\n"), 10, "unknown key Version in [Update]"),
    ("unknown section", ("[Update]\n", "[Updates]\n"), 7, "unknown section [Updates]"),
    ("unclosed section header", ("[Update]\n", "[Update\n"), 7, "unknown section [Update;"),
    ("key twice", ("Number=2\n", "Number=2\nNumber=3\n"), 9, "key Number appears twice (first at line 8)"),
    ("line without a key", ("Number=2\n", "Number 2\n"), 8, "expected KEY=VALUE"),
    ("number zero", ("Number=2\n", "Number=0\n"), 8, "'0' is not a positive decimal number"),
    ("number with a fraction", ("Number=2\n", "Number=1.5\n"), 8, "'1.5' is not a positive decimal number"),
    ("negative number", ("Number=2\n", "Number=-3\n"), 8, "'-3' is not a positive decimal number"),
    ("number with leading zero", ("Number=2\n", "Number=02\n"), 8, "'02' is not a positive decimal number"),
    ("empty number", ("Number=2\n", "Number=\n"), 8, "'' is not a positive decimal number"),
    ("number beyond exact comparison", ("Number=2\n", "Number=16777217\n"), 8, "too large"),
    ("abbreviation with a separator", ("Abbreviation=LMH\n", "Abbreviation=LM/H\n"), 4,
     "Abbreviation 'LM/H' cannot name a file"),
    ("abbreviation with a colon", ("Abbreviation=LMH\n", "Abbreviation=C:LMH\n"), 4, "cannot name a file"),
    ("abbreviation of a device", ("Abbreviation=LMH\n", "Abbreviation=con\n"), 4, "reserved device name"),
    ("abbreviation ending in a dot", ("Abbreviation=LMH\n", "Abbreviation=LMH.\n"), 4, "ends with a dot"),
    ("empty abbreviation", ("Abbreviation=LMH\n", "Abbreviation=\n"), 4, "cannot name a file: it is empty"),
    ("maker folder with a star", ("MakerFolder=KESTRIN\n", "MakerFolder=KES*TRIN\n"), 3, "cannot name a file"),
    ("payload file missing", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCES.dll\n"), 14,
     "payload file {payload}/dll/RESOURCES.dll does not exist"),
    ("payload folder missing", ("Folder=payload\n", "Folder=nowhere\n"), 12, "payload folder {work}/nowhere does not exist"),
    ("payload path leaving the folder", ("File1=LMH.exe\n", "File1=..\\LMH.exe\n"), 13, "not a relative path"),
    ("payload name with a space", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=story one.txt\n"), 15,
     "File3 'story one.txt': payload names are ASCII letters"),
    ("payload name beyond ASCII", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=storyソ.txt\n"), 15,
     "File3 'storyソ.txt': payload names are ASCII letters"),
    ("payload files out of order", ("File2=", "File3="), 14, "File3 follows File1"),
    ("payload without files", lambda t: re.sub(r"File\d=.*\n", "", t), 11, "[Payload] lists no files"),
    ("two payload files of one name", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=RESOURCE.dll\n"),
     15, "ends in the same name as File2"),
    ("payload without the game", ("Abbreviation=LMH\n", "Abbreviation=GAME\n"), 13,
     "does not hold the game executable GAME.exe"),
    ("payload without the module", ("File2=dll\\RESOURCE.dll\n", "File2=story.txt\n"), 13,
     "does not hold the fingerprint module"),
    ("display name outside code page 932", ("DisplayName=Lantern Moonharbor\n", "DisplayName=Lantern Moonharbör\n"), 5,
     "'ö' (U+00F6) cannot be written in code page 932"),
    ("text outside code page 932", ("EntryList=\n", "EntryList=\n[Texts]\nUpdateFinished=完了 €\n"), 11,
     "UpdateFinished: '€' (U+20AC) cannot be written in code page 932"),
    ("text with a number directive", ("EntryList=\n", "EntryList=\n[Texts]\nInstallNotFound=%s: %d\n"), 11,
     "InstallNotFound: %d is not allowed"),
    ("text with two names", ("EntryList=\n", "EntryList=\n[Texts]\nConfirmUpdate=%s %s\n"), 11,
     "%s appears 2 times; at most 1 allowed"),
    ("text without arguments given one", ("EntryList=\n", "EntryList=\n[Texts]\nUpdateFinished=%s done\n"), 11,
     "UpdateFinished: %s is not allowed; the text may hold %% for a percent sign"),
    ("text with an unknown escape", ("EntryList=\n", "EntryList=\n[Texts]\nUpdateAborted=a\\tb\n"), 11,
     "unknown escape \\t"),
    ("empty text", ("EntryList=\n", "EntryList=\n[Texts]\nUpdateAborted=\n"), 11, "UpdateAborted is empty"),
    ("entry list that is missing", ("EntryList=\n", "EntryList=list.txt\n"), 9, "entry list {payload}/list.txt does not exist"),
    ("entry list name with a space", ("EntryList=\n", "EntryList=entry list.txt\n"), 9,
     "EntryList 'entry list.txt': names of embedded files are ASCII letters"),
    ("entry list name beyond ASCII", ("EntryList=\n", "EntryList=listソ.txt\n"), 9,
     "EntryList 'listソ.txt': names of embedded files are ASCII letters"),
    ("entry list named like a payload file", ("EntryList=\n", "EntryList=lmh.exe\n"), 9,
     "has the name of payload file File1"),
    ("unknown compression", ("Folder=payload\n", "Folder=payload\nCompression=lzma\n"), 13,
     "Compression 'lzma' is not known; write zstd, or leave the key out"),
    ("compression spelled otherwise", ("Folder=payload\n", "Folder=payload\nCompression=ZSTD\n"), 13,
     "Compression 'ZSTD' is not known"),
    ("not UTF-8", lambda t: t.replace("Lantern Moonharbor", "Lantern \x00"), 5, "not UTF-8 text"),
    # Deltas against earlier versions (old/ beside the description holds them).
    ("earlier version of no file", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3Earlier1=old/LMH.exe\n"),
     15, "File3Earlier1: there is no File3"),
    ("earlier version missing", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile1Earlier1=old/gone.exe\n"),
     15, "File1Earlier1: earlier version {work}/old/gone.exe does not exist"),
    ("earlier versions with a gap", ("File2=dll\\RESOURCE.dll\n",
                                     "File2=dll\\RESOURCE.dll\nFile1Earlier1=old/LMH.exe\nFile1Earlier3=old/v2.exe\n"),
     16, "File1Earlier3: number the earlier versions of File1 1, 2, 3, ... without gaps"),
    ("one earlier version twice", ("File2=dll\\RESOURCE.dll\n",
                                   "File2=dll\\RESOURCE.dll\nFile1Earlier1=old/LMH.exe\nFILE1EARLIER2=old/../old/LMH.exe\n"),
     16, "File1Earlier2 names the same file as File1Earlier1"),
    ("earlier key twice", ("File2=dll\\RESOURCE.dll\n",
                           "File2=dll\\RESOURCE.dll\nFile1Earlier1=old/LMH.exe\nFile1Earlier1=old/v2.exe\n"),
     16, "key File1Earlier1 appears twice"),
    ("earlier version beyond the run's limit", ("File2=dll\\RESOURCE.dll\n",
                                                "File2=dll\\RESOURCE.dll\nFile1Earlier1=old/huge.exe\n"),
     15, "the update applies deltas against files of at most 192 MiB (201,326,592 bytes)"),
    ("new file beyond the run's limit", lambda t: t.replace("File1=LMH.exe", "File1=huge.exe").replace(
        "Abbreviation=LMH", "Abbreviation=huge") + "File1Earlier1=old/LMH.exe\n",
     15, "File1 'huge.exe' is 201,326,593 bytes: the update applies deltas to files of at most 192 MiB"),
    ("empty earlier version", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile1Earlier1=old/empty.exe\n"),
     15, "File1Earlier1: {work}/old/empty.exe is empty"),
    ("empty file with deltas", ("File2=dll\\RESOURCE.dll\n",
                                "File2=dll\\RESOURCE.dll\nFile3=empty.txt\nFile3Earlier1=old/LMH.exe\n"),
     16, "File3 'empty.txt' is empty"),
    ("whole files neither yes nor no", ("Folder=payload\n", "Folder=payload\nWholeFiles=maybe\n"), 13,
     "WholeFiles 'maybe' must be yes"),
    # Sizes (the files are sparse: nothing of them is on the disk).
    ("payload file of 4 GiB", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=big.dat\n"), 15,
     "File3 'big.dat' is 4,294,967,296 bytes: the update writes files below 4 GiB (at most 4,294,967,295 bytes)"),
    ("payload a byte beyond 16 GiB in all", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\n"
                                             "File3=under1.dat\nFile4=under2.dat\nFile5=under3.dat\nFile6=over.dat\n"),
     11, "the payload files together are 17,179,869,185 bytes: the update writes at most 16 GiB "
     "(17,179,869,184 bytes) in all"),
    ("entry list a byte beyond 16 GiB in all", lambda t: t.replace("EntryList=\n", "EntryList=entries.txt\n").replace(
        "File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=under1.dat\nFile4=under2.dat\n"
        "File5=under3.dat\nFile6=fits.dat\n"), 11, "the payload files together are 17,179,869,185 bytes"),
]

# Sizes at the limits, which a description may have: one file a byte below
# 4 GiB, and 16 GiB in all.
AT_THE_LIMITS = [
    ("a file a byte below 4 GiB", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=under1.dat\n")),
    ("16 GiB in all", ("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=under1.dat\nFile4=under2.dat\n"
                       "File5=under3.dat\nFile6=fits.dat\n")),
]


def tool(*args):
    return subprocess.run([sys.executable, str(ARGS.source / "tools" / "update_description.py"), *map(str, args)],
                          capture_output=True, text=True)


class DescriptionTest(unittest.TestCase):
    def setUp(self):
        self.work = ARGS.work
        subprocess.run(["rm", "-rf", str(self.work)], check=True)
        payload = self.work / "payload"
        (payload / "dll").mkdir(parents=True)
        (payload / "LMH.exe").write_bytes(b"MZ game")
        (payload / "dll" / "RESOURCE.dll").write_bytes(b"MZ module")
        (payload / "story.txt").write_bytes(b"story")
        # Files whose names only the name rules refuse.
        for name in ("story one.txt", "storyソ.txt", "entry list.txt", "listソ.txt"):
            (payload / name).write_bytes(b"entries")
        (payload / "empty.txt").write_bytes(b"")
        # One byte beyond what the run applies a delta to, without the disk space.
        for huge in (payload / "huge.exe", self.work / "old" / "huge.exe"):
            huge.parent.mkdir(exist_ok=True)
            with open(huge, "wb") as f:
                f.truncate((192 << 20) + 1)
        # Around the run's size limits, sparse as well: 16 bytes of LMH.exe and
        # RESOURCE.dll, three files a byte below 4 GiB and fits.dat make 16 GiB;
        # over.dat, or the one-byte entry list, one byte more.
        below = (4 << 30) - 1
        for name, size in (("big.dat", 4 << 30), ("under1.dat", below), ("under2.dat", below),
                           ("under3.dat", below), ("fits.dat", (16 << 30) - 3 * below - 16),
                           ("over.dat", (16 << 30) - 3 * below - 15)):
            with open(payload / name, "wb") as f:
                f.truncate(size)
        (payload / "entries.txt").write_bytes(b"a")
        (self.work / "old" / "LMH.exe").write_bytes(b"MZ old game")
        (self.work / "old" / "v2.exe").write_bytes(b"MZ game 2")
        (self.work / "old" / "empty.exe").write_bytes(b"")
        self.payload = payload

    def write(self, text, name="game.ini"):
        path = self.work / name
        data = text.encode("utf-8").replace(b"\x00", b"\xff")
        path.write_bytes(data)
        return path

    def test_good_description_passes(self):
        done = tool("check", self.write(GOOD))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")

    def test_compression_reaches_the_build(self):
        for text, shown, cmake in ((GOOD, "none", '""'),
                                   (GOOD.replace("Folder=payload\n", "Folder=payload\nCompression=zstd\n"), "zstd",
                                    '"zstd"')):
            with self.subTest(shown):
                path = self.write(text)
                done = tool("show", path)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn(f"compression={shown}\n", done.stdout)
                out = self.work / "out"
                self.assertEqual(tool("generate", path, "--out-dir", out).returncode, 0)
                self.assertIn(f"set(UPDATE_PAYLOAD_COMPRESSION {cmake})", (out / "description.cmake").read_text())

    def test_each_bad_description_is_named_and_makes_nothing(self):
        for name, change, line, words in BAD:
            with self.subTest(name):
                text = change(GOOD) if callable(change) else GOOD.replace(*change, 1)
                self.assertNotEqual(text, GOOD, "the case changes nothing")
                path = self.write(text)
                out = self.work / "out"
                subprocess.run(["rm", "-rf", str(out)], check=True)  # one case's failure is its own
                done = tool("generate", path, "--out-dir", out)
                self.assertEqual(done.returncode, 1, done.stderr)
                where = f"{path}:{line}: " if line else f"{path}: "
                named = [l for l in done.stderr.splitlines() if l.startswith(where)]
                self.assertTrue(any(words.format(payload=self.payload, work=self.work) in l for l in named),
                                f"no line {where}... {words}:\n{done.stderr}")
                self.assertIn("not built", done.stderr)
                self.assertFalse(out.exists(), "something was made from a bad description")

    def test_sizes_at_the_limits_pass(self):
        for name, change in AT_THE_LIMITS:
            with self.subTest(name):
                done = tool("check", self.write(GOOD.replace(*change, 1)))
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stderr, "")

    def test_make_update_builds_nothing_beyond_the_size_limits(self):
        path = self.write(GOOD.replace("File2=dll\\RESOURCE.dll\n", "File2=dll\\RESOURCE.dll\nFile3=big.dat\n"),
                          "biggame.ini")
        env = dict(os.environ, FPTOOL=str(ARGS.fptool))
        done = subprocess.run(["bash", str(ARGS.source / "tools" / "make_update.sh"), str(path)], cwd=self.work,
                              env=env, capture_output=True, text=True)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn(f"{path}:15: File3 'big.dat' is 4,294,967,296 bytes: the update writes files below 4 GiB",
                      done.stderr)
        self.assertFalse((self.work / "build-biggame").exists())

    def test_make_update_builds_nothing_from_a_bad_description(self):
        path = self.write(GOOD.replace("Number=2", "Number=two"), "mygame.ini")
        env = dict(os.environ, FPTOOL=str(ARGS.fptool))
        done = subprocess.run(["bash", str(ARGS.source / "tools" / "make_update.sh"), str(path)], cwd=self.work,
                              env=env, capture_output=True, text=True)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn(f"{path}:8: Number 'two' is not a positive decimal number", done.stderr)
        self.assertFalse((self.work / "build-mygame").exists())

    def test_earlier_versions_and_whole_files_reach_the_build(self):
        description = GOOD.replace("Folder=payload\n", "Folder=payload\nwholefiles=No\n") + \
            "File1Earlier2=old/v2.exe\nFile1Earlier1=old/LMH.exe\nFile2Earlier1=%s\n" % (self.work / "old" / "v2.exe")
        path = self.write(description)
        done = tool("show", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        old = self.work / "old"
        self.assertIn(f"wholefiles=no\nearlier=LMH.exe\t1\t{old / 'LMH.exe'}\nearlier=LMH.exe\t2\t{old / 'v2.exe'}\n"
                      f"earlier=dll\\RESOURCE.dll\t1\t{old / 'v2.exe'}\n", done.stdout)
        out = self.work / "out"
        self.assertEqual(tool("generate", path, "--out-dir", out).returncode, 0)
        cmake = (out / "description.cmake").read_text()
        self.assertIn("set(UPDATE_WHOLE_FILES OFF)", cmake)
        self.assertIn(f'set(UPDATE_DELTAS "LMH.exe" "1" "{old}/LMH.exe" "LMH.exe" "2" "{old}/v2.exe" '
                      f'"dll/RESOURCE.dll" "1" "{old}/v2.exe")', cmake)
        # Left out: whole files beside the deltas, and a description without deltas has none.
        done = tool("show", self.write(GOOD))
        self.assertIn("wholefiles=yes\n", done.stdout)
        self.assertNotIn("earlier=", done.stdout)

    def test_the_flush_slice_reaches_the_program(self):
        path = self.write(GOOD)
        out = self.work / "out"
        # Left out: 64 MiB; given: that many bytes; none, a negative or one beyond 32 bits: refused.
        for args, slice_bytes in (((), 64 << 20), (("--flush-slice", "131072"), 131072),
                                  (("--flush-slice", "4294967295"), 4294967295)):
            with self.subTest(args):
                done = tool("generate", path, "--out-dir", out, "--constants-only", *args)
                self.assertEqual(done.returncode, 0, done.stderr)
                source = (out / "update_build.cpp").read_text(encoding="utf-8")
                self.assertRegex(source, rf"\n    {slice_bytes}u,  // bytes of a new file written between two of its flushes\n}};")
        for bad in ("0", "-1", "4294967296", "many"):
            with self.subTest(bad):
                subprocess.run(["rm", "-rf", str(out)], check=True)
                done = tool("generate", path, "--out-dir", out, "--constants-only", "--flush-slice", bad)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn("--flush-slice", done.stderr)
                self.assertFalse(out.exists(), "something was made with a bad flush slice")

    def test_texts_reach_the_program_as_code_page_932_bytes(self):
        # ソ and 表 end in the byte of the backslash; \\ is one backslash.
        texts = {
            "Caption": ("%s 更新", "%s 更新"),
            "ConfirmUpdate": ("「%s」ソフト表示\\n100%% \\\\ \"x\"", "「%s」ソフト表示\n100%% \\ \"x\""),
            "UpdateFinished": ('"  quoted keeps spaces  "', "  quoted keeps spaces  "),
        }
        description = GOOD.replace("EntryList=\n", "EntryList=entries.txt\n") + "[Texts]\n" \
            + "".join(f"{k}={v[0]}\n" for k, v in texts.items())
        out = self.work / "out"
        done = tool("generate", self.write(description), "--out-dir", out, "--constants-only")
        self.assertEqual(done.returncode, 0, done.stderr)
        source = (out / "update_build.cpp").read_text(encoding="utf-8")
        literals = [codecs.escape_decode(m.group(1))[0]
                    for m in re.finditer(r'^    "((?:[^"\\]|\\.)*)",', source, re.MULTILINE)]
        # maker, name, abbreviation, caption, number, entry list, six texts, merge caption, does-not-fit text,
        # damaged-download text, unfinished-repair text
        self.assertEqual(len(literals), 16, source)
        self.assertEqual(literals[0], b"KESTRIN")
        self.assertEqual(literals[3], texts["Caption"][1].encode("cp932"))
        self.assertEqual(literals[4], b"2")
        self.assertEqual(literals[5], b"entries.txt")
        self.assertEqual(literals[7], texts["ConfirmUpdate"][1].encode("cp932"))
        self.assertEqual(literals[10], texts["UpdateFinished"][1].encode("cp932"))
        # A key left out keeps the standard text.
        self.assertEqual(literals[11], "アップデートが中止されました。".encode("cp932"))
        self.assertEqual(literals[14], "アップデートファイルが破損しています。\nお手数ですが、アップデートファイルを再度ダウンロードして下さい。"
                         .encode("cp932"))
        self.assertEqual(literals[15], ("ゲームのファイルをすべて元に戻すことができませんでした。\n"
                                        "もう一度アップデートを起動すると、修復が完了します。").encode("cp932"))
        self.assertIn('{"dll\\\\RESOURCE.dll"},', source)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True, type=Path)
    parser.add_argument("--fptool", required=True, type=Path)
    parser.add_argument("--work", required=True, type=Path)
    ARGS, rest = parser.parse_known_args()
    ARGS.work = ARGS.work.resolve()
    ARGS.source = ARGS.source.resolve()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
