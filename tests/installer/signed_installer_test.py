#!/usr/bin/env python3
"""A signed installer, made with a throwaway code-signing certificate, checked from outside Wine.

The certificate and its root are made here with openssl, so nothing secret is needed. The signed
build must be the unsigned one plus signatures: each signed program, its signature removed, is the
unsigned build's file byte for byte. osslsigncode must accept the signature of each program and of
the installer against the throwaway root (and refuse the installer against another root); then the
installer runs silently in a fresh Wine prefix of its own, its installed programs (the uninstaller
too, which makensis signed before packing it) must verify, and the build's thumbnail host must make
a thumbnail through the installed DLL and renderer.
"""
import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys

PASSWORD = "throwaway password"
# The signed copies in the payload folder, in the order of --unsigned: the ARM64 DLLs and renderer,
# for ARM64 Windows, are in a folder of their own. Installed on x64 Windows, the first five.
PROGRAMS = ["torvthumb.dll", "torvthumb32.dll", "torvpreview.dll", "torvpreview32.dll", "TorvView.exe",
            "arm64/torvthumb.dll", "arm64/torvpreview.dll", "arm64/TorvView.exe"]
INSTALLED = PROGRAMS[:5]
EXPECTED_SIZE = (181, 256)  # report.pdf at the host's default size


def windows_path(path):
    """Wine's drive Z: is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def make_certificates(work):
    """A root and a code-signing certificate it issued, the latter with its key in a PKCS#12 file;
    and a second root that issued nothing."""
    def openssl(*arguments):
        result = run(["openssl", *arguments], cwd=work, env=dict(os.environ, P12_PASSWORD=PASSWORD))
        if result.returncode != 0:
            sys.exit(f"openssl {' '.join(arguments)} failed:\n{result.stdout}")

    for root in ("root", "other-root"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{root}.key", "-out", f"{root}.pem",
                "-days", "2", "-subj", f"/CN=torvthumb test {root}",
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    with open(os.path.join(work, "signing.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signing.key", "-out", "signing.csr",
            "-subj", "/CN=torvthumb test signer")
    openssl("x509", "-req", "-in", "signing.csr", "-CA", "root.pem", "-CAkey", "root.key", "-CAcreateserial",
            "-days", "2", "-extfile", "signing.ext", "-out", "signing.pem")
    openssl("pkcs12", "-export", "-inkey", "signing.key", "-in", "signing.pem", "-out", "signing.p12",
            "-passout", "env:P12_PASSWORD")
    return os.path.join(work, "signing.p12")


def verifies(path, root):
    return run(["osslsigncode", "verify", "-CAfile", root, "-in", path])


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
            print("FAILED: " + message)

    def expect_verifies(self, path, root):
        result = verifies(path, root)
        self.expect(result.returncode == 0, f"{path} does not verify against the test root:\n{result.stdout}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--inputs", required=True, help="the installer's .inputs.cmake, written by the build")
    parser.add_argument("--make-installer", required=True, help="installer/make-installer.cmake")
    parser.add_argument("--unsigned", required=True, nargs=len(PROGRAMS),
                        help="the unsigned build's programs, in PROGRAMS order")
    parser.add_argument("--work", required=True, help="a folder of the build tree for this test's files")
    parser.add_argument("--wine-prefix-script", required=True, help="cmake/wine-prefix.sh")
    parser.add_argument("--prefix", required=True, help="the Wine prefix to install into, made afresh")
    parser.add_argument("--wine-run", required=True, help="runs a program in that prefix")
    parser.add_argument("--host", required=True, help="thumbhost.exe")
    parser.add_argument("--sample", required=True, help="samples/report.pdf")
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    p12 = make_certificates(args.work)
    root = os.path.join(args.work, "root.pem")
    stem = os.path.basename(args.inputs)[:-len(".inputs.cmake")]
    installer = os.path.join(args.work, stem + ".exe")
    checks = Checks()

    made = run([args.cmake, f"-DINPUTS={args.inputs}", f"-DOUTFILE={installer}", f"-DSIGN_P12={p12}",
                "-P", args.make_installer], env=dict(os.environ, TORV_SIGN_PASSWORD=PASSWORD))
    if made.returncode != 0:
        sys.exit(f"the signed installer was not made:\n{made.stdout}")
    if any(PASSWORD in line for line in made.stdout.splitlines()):
        sys.exit("the build printed the certificate's password")

    payload = os.path.join(args.work, stem + "-payload")
    for name, unsigned in zip(PROGRAMS, args.unsigned):
        signed = os.path.join(payload, name)
        checks.expect_verifies(signed, root)
        stripped = os.path.join(args.work, name.replace("/", "-") + ".stripped")
        removed = run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped])
        checks.expect(removed.returncode == 0, f"cannot remove the signature of {signed}:\n{removed.stdout}")
        with open(unsigned, "rb") as a, open(stripped, "rb") as b:
            checks.expect(a.read() == b.read(), f"{signed} without its signature is not {unsigned}")
    checks.expect_verifies(installer, root)
    other = verifies(installer, os.path.join(args.work, "other-root.pem"))
    checks.expect(other.returncode != 0, "the installer verifies against a root that did not issue its certificate")

    started = run([args.wine_prefix_script, "fresh", args.prefix])
    if started.returncode != 0:
        sys.exit(f"the Wine prefix did not start:\n{started.stdout}")
    try:
        installed = run([args.wine_run, installer, "/S"], timeout=300)
        checks.expect(installed.returncode == 0, f"the silent install failed ({installed.returncode}):\n{installed.stdout}")
        folders = glob.glob(os.path.join(args.prefix, "drive_c", "users", "*", "AppData", "Local", "Programs", "TorvThumb"))
        checks.expect(len(folders) == 1, f"no single install folder: {folders}")
        if folders:
            for name in INSTALLED + ["Uninstall.exe"]:
                checks.expect_verifies(os.path.join(folders[0], name), root)
            for name in INSTALLED:
                with open(os.path.join(folders[0], name), "rb") as a, open(os.path.join(payload, name), "rb") as b:
                    checks.expect(a.read() == b.read(), f"the installed {name} is not the signed one")

        out = os.path.join(args.work, "thumbnails")
        host = run([args.wine_run, args.host, "--verbose", "--out", windows_path(out), windows_path(args.sample)],
                   timeout=300)
        checks.expect(host.returncode == 0, f"the host made no thumbnail ({host.returncode}):\n{host.stdout}")
        checks.expect("\\Programs\\TorvThumb\\torvthumb.dll" in host.stdout,
                      f"the thumbnail was not made by the installed DLL:\n{host.stdout}")
        png = os.path.join(out, os.path.basename(args.sample) + ".png")
        checks.expect(os.path.exists(png) and png_size(png) == EXPECTED_SIZE,
                      f"{png}: {png_size(png) if os.path.exists(png) else 'missing'}, expected {EXPECTED_SIZE}")
    finally:
        run([args.wine_prefix_script, "stop", args.prefix])

    if checks.failures:
        print(f"{len(checks.failures)} check(s) failed")
        return 1
    print(f"signed: {', '.join(PROGRAMS)}, Uninstall.exe and {os.path.basename(installer)}; all verify, install and render")
    return 0


if __name__ == "__main__":
    sys.exit(main())
