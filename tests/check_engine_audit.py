#!/usr/bin/env python3
"""scripts/engine-audit on a made-up engine tree, build and upstream repositories: it lists exactly
the commits after the reviewed one that touch a file the build compiled, follows a file upstream
moved, finds a library kept in a folder of a larger repository, and fails on what it cannot read.

  check_engine_audit.py ENGINE_AUDIT
"""
import os
import subprocess
import sys
import tempfile
import unittest

AUDIT = None


def run(*args, cwd=None):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, check=True).stdout


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def commit(repo, message, changes):
    """changes: {path: text, or None to delete, or ('moved from', old path)}."""
    for path, change in changes.items():
        if isinstance(change, tuple):
            os.makedirs(os.path.dirname(os.path.join(repo, path)), exist_ok=True)
            run("git", "mv", change[1], path, cwd=repo)
        else:
            write(os.path.join(repo, path), change)
            run("git", "add", path, cwd=repo)
    run("git", "-c", "user.name=t", "-c", "user.email=t@t", "commit", "-q", "-m", message, cwd=repo)
    return run("git", "rev-parse", "HEAD", cwd=repo).strip()


class EngineAuditTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        root = self.root = self.tmp.name
        # The engine tree: zlib from a package tree, of which the build compiles inflate.c (which
        # includes inflate.h), not zutil.c.
        write(f"{root}/third_party/zlib.cmake", "engine_source_tree(ZLIB_DIR zlib)\n")
        tree = f"{root}/third_party/sources/zlib-1.0"
        write(f"{tree}/inflate.c", '#include "inflate.h"\nint inflate_it(void) { return INFLATE; }\n')
        write(f"{tree}/inflate.h", "#define INFLATE 1\n")
        write(f"{tree}/zutil.c", "int zutil;\n")
        write(f"{root}/build/build.ninja",
              "rule cc\n  command = cc -MD -MF $out.d -c $in -o $out\n  deps = gcc\n  depfile = $out.d\n"
              f"build inflate.o: cc {tree}/inflate.c\n")
        run("ninja", "-C", f"{root}/build")

        # Upstream zlib, reviewed at its first commit.
        self.zlib = f"{root}/upstream/zlib"
        os.makedirs(self.zlib)
        run("git", "init", "-q", "-b", "develop", cwd=self.zlib)
        # Files of some lines, so that git sees a moved file that changed a little as moved.
        source = "".join(f"int line{n};\n" for n in range(20))
        files = {"inflate.c": source, "inflate.h": "a\n", "zutil.c": "a\n", "gzlib.c": "a\n"}
        self.reviewed = commit(self.zlib, "release", files)
        commit(self.zlib, "Zero the inflate state", {"inflate.h": "b\n"})
        commit(self.zlib, "gz: a file function", {"gzlib.c": "b\n"})
        commit(self.zlib, "zutil: not compiled here", {"zutil.c": "b\n"})
        self.moved = commit(self.zlib, "Move the sources into src/", {"src/inflate.c": ("moved", "inflate.c")})
        commit(self.zlib, "Check the window bits", {"src/inflate.c": source + "int window_bits;\n"})

        # A larger repository that keeps a copy of zlib in zlib/, reviewed at its first commit.
        self.bundle = f"{root}/mirrors/other+bundle/repo"
        os.makedirs(self.bundle)
        run("git", "init", "-q", "-b", "master", cwd=self.bundle)
        self.bundle_reviewed = commit(self.bundle, "import", {"zlib/inflate.c": "a\n", "other/x.c": "a\n"})
        commit(self.bundle, "Other code", {"other/x.c": "b\n"})
        commit(self.bundle, "zlib: bounds", {"zlib/inflate.c": "b\n"})

    def tearDown(self):
        self.tmp.cleanup()

    def audit(self, reviewed_lines, *repositories):
        write(f"{self.root}/reviewed.txt", "# made up\n" + reviewed_lines)
        return subprocess.run([sys.executable, AUDIT, "--build", f"{self.root}/build", "--source-dir", self.root,
                               "--reviewed", f"{self.root}/reviewed.txt", "--mirrors", f"{self.root}/mirrors",
                               *repositories], capture_output=True, text=True)

    def test_lists_the_commits_that_touch_compiled_files(self):
        result = self.audit(
            f"zlib https://example.org/madler/zlib develop {self.reviewed} 2026-01-01\n"
            f"zlib https://example.org/other/bundle master {self.bundle_reviewed} 2026-01-02\n",
            f"madler/zlib={self.zlib}")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        listed = [line.strip().split(" ", 2)[2] if not line.startswith("      ") else line.strip()
                  for line in result.stdout.splitlines() if line.startswith("  ") and "no commit" not in line]
        self.assertEqual(listed, [
            # upstream zlib: the header the compiled file includes, the move, the file at its new path
            "Zero the inflate state", "inflate.h",
            "Move the sources into src/", "inflate.c -> src/inflate.c",
            "Check the window bits", "src/inflate.c",
            # the bundle: its zlib/ copy of a compiled file, not its other code
            "zlib: bounds", "zlib/inflate.c"])
        self.assertIn("2 of the 2 files compiled are upstream's", result.stdout.splitlines()[0])
        self.assertEqual(result.stdout.splitlines()[-1], "4 commits to read")

    def test_finds_a_file_moved_before_the_review_by_its_name(self):
        result = self.audit(f"zlib https://example.org/madler/zlib develop {self.moved} 2026-01-01\n",
                            f"madler/zlib={self.zlib}")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("2 of the 2 files compiled are upstream's", result.stdout)
        self.assertIn("Check the window bits\n      src/inflate.c\n", result.stdout)

    def test_nothing_new_since_the_tip(self):
        tip = run("git", "rev-parse", "HEAD", cwd=self.zlib).strip()
        result = self.audit(f"zlib https://example.org/madler/zlib develop {tip} 2026-01-01\n",
                            f"madler/zlib={self.zlib}")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("no commit since the review touches them", result.stdout)
        self.assertEqual(result.stdout.splitlines()[-1], "0 commits to read")

    def test_failures(self):
        cases = [
            # (reviewed.txt, repositories, text expected in the output)
            (f"zlib https://example.org/madler/zlib develop {self.reviewed[:12]} 2026-01-01\n", [],
             "expected '<library> <URL> <branch> <40-hex commit> <YYYY-MM-DD>'"),
            (f"zlib https://example.org/madler/zlib develop {self.reviewed} 2026-01-01\n", [],
             "no git copy of https://example.org/madler/zlib"),
            (f"zlib https://example.org/madler/zlib main {self.reviewed} 2026-01-01\n",
             [f"madler/zlib={self.zlib}"], "no branch main"),
            (f"libjpeg https://example.org/a/libjpeg main {self.reviewed} 2026-01-01\n", [],
             "compiled nothing from the package libjpeg"),
        ]
        for reviewed, repositories, expected in cases:
            with self.subTest(expected=expected):
                result = self.audit(reviewed, *repositories)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(expected, result.stdout + result.stderr)


if __name__ == "__main__":
    AUDIT = sys.argv.pop(1)
    unittest.main()
