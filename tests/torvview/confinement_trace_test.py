#!/usr/bin/env python3
"""The thumbnail and page modes' confinement, seen from outside the renderer in Wine's relay trace.

Wine accepts every confinement call and enforces none, so what there is to see is the calls
themselves: TorvView.exe runs once in each mode under WINEDEBUG=+relay, which writes every call the
program makes into Wine's system DLLs, with its arguments, to standard error. The calls that open
the document and the output files and those that confine the process must come in this order: the
header check's open, the result file's (and in the page mode the page list's), the job, the token,
each mitigation policy with a flags word of 4 bytes (the only length Windows accepts for these), and
only then the engine's open of the document. A bare header makes the engine give up at once (exit
code 7), which keeps the trace short.

Wine writes its trace to the Unix standard error of the process, which a child inherits from its
parent whatever its Windows handles are: so the renderer is started here, from outside Wine.
"""
import argparse
import os
import subprocess
import sys
import tempfile

EXIT_ENGINE_FAILED = 7

CONFINEMENT = [
    "CreateJobObjectW",
    "SetInformationJobObject 00000009",  # JobObjectExtendedLimitInformation
    "AssignProcessToJobObject",
    "SetTokenInformation 00000019",  # TokenIntegrityLevel
    "SetProcessMitigationPolicy 00000002 00000004",  # dynamic code
    "SetProcessMitigationPolicy 00000006 00000004",  # extension points
    "SetProcessMitigationPolicy 0000000a 00000004",  # image loads
    "SetProcessMitigationPolicy 00000008 00000004",  # signatures
    "SetProcessMitigationPolicy 00000009 00000004",  # fonts
    "SetProcessMitigationPolicy 00000003 00000004",  # strict handle checks
    "SetProcessMitigationPolicy 00000004 00000004",  # win32k system calls
]

# The header check's open, the output files, the confinement, then the engine's open.
EXPECTED = {
    "thumb": ["open the document", "open the result file"] + CONFINEMENT + ["open the document"],
    "page": ["open the document", "open the result file", "open the page list"] + CONFINEMENT + ["open the document"],
}


def windows_path(path):
    """Wine's drive Z: is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def event(line, document_name, result_name, list_name):
    """One relay line ("0024:Call KERNEL32.CreateFileW(0129 L"...",80000000,...) ret=...") reduced to
    what it asks for, or None for a call that does not matter here."""
    call = line.find(":Call ")
    opening = line.find("(", call)
    dot = line.find(".", call)
    if call < 0 or opening < 0 or dot < 0 or dot > opening:
        return None
    function = line[dot + 1:opening]
    arguments = line[opening + 1:line.find(")", opening)].split(",")
    if function == "CreateFileW":
        if document_name in line:
            return "open the document"
        if list_name in line:
            return "open the page list"
        return "open the result file" if result_name in line else None
    if function in ("CreateJobObjectW", "AssignProcessToJobObject"):
        return function
    if function in ("SetInformationJobObject", "SetTokenInformation"):
        return f"{function} {arguments[1]}"
    if function == "SetProcessMitigationPolicy":
        return f"{function} {arguments[0]} {arguments[2]}"
    return None


def trace(args, mode, work):
    """Runs the renderer once in the mode; (exit code, events, bytes in the output files)."""
    document = os.path.join(work, "confined-header.pdf")
    result = os.path.join(work, "confined-result.tmp")
    page_list = os.path.join(work, "confined-list.tmp")
    relay = os.path.join(work, f"relay-{mode}.txt")
    with open(document, "wb") as f:
        f.write(b"%PDF-")
    open(result, "wb").close()
    open(page_list, "wb").close()
    if mode == "thumb":
        arguments = ["--thumb", windows_path(document), "64", windows_path(result)]
    else:
        arguments = ["--page", windows_path(document), "1", "64", windows_path(result), windows_path(page_list)]
    # Wine's own fonts only, as for every program in the build's prefix: shown the machine's fonts,
    # Wine would list them in the prefix's font list for good.
    fonts = os.path.join(os.path.dirname(os.path.abspath(args.wine_loaders)), "wine-fonts.conf")
    env = dict(os.environ, WINEPREFIX=args.wineprefix, WINEDEBUG="+relay", FONTCONFIG_FILE=fonts)
    # A file rather than a pipe: a Wine service started on the way would hold a pipe open.
    with open(relay, "wb") as err:
        run = subprocess.run(
            ["sh", "-c", '. "$0"; exec "$wine64" "$@"', args.wine_loaders, args.viewer] + arguments,
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err, timeout=120)
    with open(relay, encoding="utf-8", errors="replace") as f:
        events = [e for e in (event(line, "confined-header.pdf", "confined-result.tmp", "confined-list.tmp")
                              for line in f) if e]
    return run.returncode, events, os.path.getsize(result) + os.path.getsize(page_list)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine-loaders", required=True, help="cmake/wine-loaders.sh, which names the 64-bit loader")
    parser.add_argument("--wineprefix", required=True)
    parser.add_argument("--viewer", required=True, help="TorvView.exe")
    args = parser.parse_args()

    failures = []
    with tempfile.TemporaryDirectory() as work:
        for mode, expected in EXPECTED.items():
            returncode, events, written = trace(args, mode, work)
            if returncode != EXIT_ENGINE_FAILED:
                failures.append(f"{mode}: exit code {returncode}, not {EXIT_ENGINE_FAILED}")
            if written != 0:
                failures.append(f"{mode}: the output files hold {written} bytes")
            if events != expected:
                failures.append(f"{mode}: the calls were, in order:\n  " + "\n  ".join(events)
                                + "\nexpected:\n  " + "\n  ".join(expected))
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        policies = sum(1 for e in CONFINEMENT if e.startswith("SetProcessMitigationPolicy"))
        print("each mode opened its files, then asked for the job, the token and the "
              f"{policies} policies in order, and only then did the engine open the document")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
