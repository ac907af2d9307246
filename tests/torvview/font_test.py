#!/usr/bin/env python3
"""Fonts that documents name without embedding them, found among the fonts installed in the Wine prefix.

Each document (tests/documents/make-documents) names a font and does not embed it; beside it is the same
page with the font embedded from the file that this test installs. TorvView.exe draws both at 256:

  without the fonts   the named document renders (exit 0) but not as the embedded one: its text is not
                      drawn with the font (CJK text not at all), which is the renderer's behaviour without
                      a font to use
  with the fonts      installed as a user installs them (cmake/wine-font.sh: files in the per-user or the
                      machine's font folder, their names in the registry's font list), the two agree

The measure is reference_test.py's: the mean absolute difference over all R, G and B samples (0-255) and
the share of pixels that differ by more than 32 in any channel. Agreeing means a mean of at most 1.0 and a
share of at most 0.5%; not agreeing, a share of at least 2%. The build's prefix sees no font of the Linux
machine (cmake/wine-fonts.conf), so without the installed fonts there is none to find.
"""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reference_test import MEAN_LIMIT, SHARE_LIMIT, difference, read_result_file, windows_path  # noqa: E402

APART_SHARE = 0.02

# The fonts installed, from Debian's packages: scope, file, and the name Windows lists it under (the faces'
# full names, joined by " & " for a collection).
FONTS = [
    ("user", "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", "IPAGothic"),
    ("user", "/usr/share/fonts/truetype/nanum/NanumGothic.ttf", "NanumGothic"),
    ("user", "/usr/share/fonts/truetype/nanum/NanumMyeongjo.ttf", "NanumMyeongjo"),
    ("machine", "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "WenQuanYi Micro Hei & WenQuanYi Micro Hei Mono"),
    ("machine", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "DejaVu Sans"),
]
# What the main command (scripts/thumbnails) installs in the same prefix, removed before the test and
# left out: with it, the prefix would cover Japanese.
LEFT_BY_MAIN_COMMAND = [("user", "/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf", "IPAMincho")]

# Each document, what it names and how the font is to be found.
CASES = [
    ("cjk-japanese-sjis", "IPAGothic by its name; Shift-JIS (90ms-RKSJ-H), Adobe-Japan1"),
    ("cjk-japanese-identity", "MS-Gothic, not installed: the font covering Japanese (IPAGothic); Identity-H"),
    ("cjk-chinese-gbk", "SimSun, not installed: the font covering GB1 (WenQuanYi Micro Hei); GBK-EUC-H"),
    ("cjk-chinese-big5", "WenQuanYiMicroHeiMono by its name, a collection's second face; B5pc-H (Big Five)"),
    ("cjk-korean-ucs2", "Batang, not installed: the serif one of two Korean fonts (NanumMyeongjo); UniKS-UCS2-H"),
    ("latin-dejavu", "DejaVuSans by its name; a TrueType font outside the standard 14"),
]


def install(font_script, prefix, action, fonts=FONTS):
    for scope in ("user", "machine"):
        arguments = [a for s, path, name in fonts if s == scope for a in (path, name)]
        if arguments:
            subprocess.run([font_script, action, prefix, scope] + arguments, check=True, timeout=300)


def render(args, scratch, document):
    result = os.path.join(scratch, "result.tmp")
    open(result, "wb").close()
    run = subprocess.run([args.wine_run, args.renderer, "--thumb", windows_path(document), "256", windows_path(result)],
                         capture_output=True, timeout=120)
    if run.returncode != 0:
        return run.returncode, None
    return 0, read_result_file(result)


def compare(args, scratch, phase, failures):
    for name, what in CASES:
        named_code, named = render(args, scratch, os.path.join(args.documents, name + ".pdf"))
        embedded_code, embedded = render(args, scratch, os.path.join(args.documents, name + "-embedded.pdf"))
        if named_code or embedded_code:
            failures.append(f"{phase}, {name}: exit codes {named_code} and {embedded_code}")
            print(f"{phase:<8} {name:<24} exit codes {named_code} and {embedded_code}")
            continue
        if named[:2] != embedded[:2]:
            failures.append(f"{phase}, {name}: sizes {named[:2]} and {embedded[:2]}")
            continue
        mean, share, largest = difference(named[2], embedded[2])
        agrees = mean <= MEAN_LIMIT and share <= SHARE_LIMIT
        print(f"{phase:<8} {name:<24} {mean:>7.3f} {share:>8.4%} {largest:>4}  {what}")
        if phase == "with" and not agrees:
            failures.append(f"with the fonts, {name} differs from its embedded page (mean {mean:.3f}, share {share:.4%})")
        if phase == "without" and share < APART_SHARE:
            failures.append(f"without the fonts, {name} is drawn as if they were there (share {share:.4%})")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--wine-run", required=True, help="the build tree's wine-run script")
    parser.add_argument("--prefix", required=True, help="the build tree's Wine prefix")
    parser.add_argument("--font-script", required=True, help="cmake/wine-font.sh")
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--documents", required=True, help="the generated test documents")
    args = parser.parse_args()
    args.renderer = windows_path(os.path.join(args.bin, "TorvView.exe"))
    failures = []
    print(f"{'fonts':<8} {'document':<24} {'mean':>7} {'> 32':>8} {'max':>4}  named font, how it is found")
    with tempfile.TemporaryDirectory(prefix="torv-fonts-") as scratch:
        # Whatever an earlier run or the main command left installed goes first.
        install(args.font_script, args.prefix, "remove", FONTS + LEFT_BY_MAIN_COMMAND)
        compare(args, scratch, "without", failures)
        try:
            install(args.font_script, args.prefix, "install")
            compare(args, scratch, "with", failures)
        finally:
            install(args.font_script, args.prefix, "remove")
    for failure in failures:
        print("FAILED: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
