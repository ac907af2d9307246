#!/usr/bin/env python3
"""Pixels of TorvView.exe under Wine against the same engine's native rendering.

Upstream's mutool, built natively from the same sources and patches (tests/native/, the build-native
tree), draws each document's page at the size the renderer chose; the two must agree:

  renderer    TorvView.exe --thumb DOC SIZE RESULT under Wine, its result file against
              `mutool draw -w W -h H -f DOC 1` (W x H being the result's size)
  end-to-end  torvthumb.dll registered with regsvr32, thumbhost.exe through it, each PNG
              against the same reference
  page        TorvView.exe --page DOC PAGE WIDTH RESULT LIST under Wine for each DOC:PAGE given and
              each size as the width, against `mutool draw -w W -h H -f DOC PAGE`
  architecture
              the renderer of another build (the x64 tree's, under its own Wine) in place of mutool:
              the two result files of each document and size must be the same bytes

The measure, per document and size: the mean absolute difference over all R, G and B samples
(0-255), and the share of pixels that differ by more than 32 in any channel. Limits: a mean of at
most 1.0 and a share of at most 0.5%. The size is checked apart from the pixels: the longer edge is
the size asked for (in the page mode the width, or a height of 4096 where the page would be taller)
and the other edge is within a pixel of mutool's own aspect-keeping fit.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import zlib

MEAN_LIMIT = 1.0
SHARE_LIMIT = 0.005
PIXEL_THRESHOLD = 32
# What a wine-run exits with where its Wine cannot run (the ARM64 tree's, without the emulation).
SKIPPED = 77


def windows_path(path, prefix=None):
    """The path as Wine names it: by drive Z:, the Unix root, unless the prefix has a drive whose
    root is nearer (the emulated ARM64 Wine reaches the build and source trees only so)."""
    if not prefix:
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    path = os.path.realpath(path)
    drive, root = "Z:", "/"
    devices = os.path.join(prefix, "dosdevices")
    for name in sorted(os.listdir(devices)):
        target = os.path.realpath(os.path.join(devices, name))
        inside = (path + "/").startswith(target.rstrip("/") + "/")
        if len(name) == 2 and name.endswith(":") and inside and len(target) > len(root):
            drive, root = name.upper(), target
    relative = os.path.relpath(path, root)
    return drive + "\\" + ("" if relative == "." else relative.replace("/", "\\"))


def read_pnm(path):
    """A binary P6 file from mutool: (width, height, RGB bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    position = 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b"#":
            position = data.index(b"\n", position) + 1
            continue
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"{path}: not an 8-bit P6 file")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[position + 1:position + 1 + width * height * 3]
    return width, height, pixels


MAX_EDGE = 4096


def mutool_draw(mutool, document, out, width, height, fit, page=1):
    """The page drawn by mutool; a width or height of None leaves that edge to the page's shape."""
    command = [mutool, "draw", "-q", "-o", out, "-F", "pnm", "-c", "rgb"]
    if width is not None:
        command += ["-w", str(width)]
    if height is not None:
        command += ["-h", str(height)]
    if fit:
        command.append("-f")
    subprocess.run(command + [document, str(page)], check=True, stderr=subprocess.DEVNULL)
    return read_pnm(out)


def read_result_file(path):
    """The renderer's result: (width, height, RGB bytes, whether every fourth byte is 255)."""
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack_from("<ii", data)
    if len(data) != 8 + width * height * 4:
        raise ValueError(f"result file of {len(data)} bytes for {width}x{height}")
    bgra = data[8:]
    rgb = bytearray(width * height * 3)
    rgb[0::3] = bgra[2::4]
    rgb[1::3] = bgra[1::4]
    rgb[2::3] = bgra[0::4]
    return width, height, bytes(rgb), bgra[3::4] == b"\xff" * (width * height)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """An 8-bit RGB or RGBA PNG, not interlaced: (width, height, RGB bytes, opaque)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    position, idat, header = 8, b"", None
    while position < len(data):
        length, kind = struct.unpack_from(">I4s", data, position)
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"{path}: unsupported PNG (depth {depth}, colour type {colour})")
    channels = 4 if colour == 6 else 3
    stride = width * channels
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            upper_left = previous[i - channels] if i >= channels else 0
            predictor = (0, left, up, (left + up) // 2, paeth(left, up, upper_left))[kind]
            row[i] = (row[i] + predictor) & 0xFF
        rows.append(bytes(row))
        previous = row
    pixels = b"".join(rows)
    if channels == 3:
        return width, height, pixels, True
    rgb = bytearray(width * height * 3)
    rgb[0::3] = pixels[0::4]
    rgb[1::3] = pixels[1::4]
    rgb[2::3] = pixels[2::4]
    return width, height, bytes(rgb), pixels[3::4] == b"\xff" * (width * height)


def crop(width, pixels, crop_width, crop_height):
    """The top-left crop_width x crop_height of an RGB image (mutool may add a column or row)."""
    return b"".join(pixels[y * width * 3:(y * width + crop_width) * 3] for y in range(crop_height))


def difference(a, b):
    """(mean absolute difference per sample, share of pixels off by more than the threshold, max)."""
    total, off, largest = 0, 0, 0
    for i in range(0, len(a), 3):
        d = max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2]))
        if d:
            total += abs(a[i] - b[i]) + abs(a[i + 1] - b[i + 1]) + abs(a[i + 2] - b[i + 2])
            off += d > PIXEL_THRESHOLD
            largest = max(largest, d)
    pixels = len(a) // 3
    return total / len(a), off / pixels, largest


class Comparison:
    def __init__(self, scratch, mutool):
        self.scratch = scratch
        self.mutool = mutool
        self.failures = []
        self.worst_mean = 0.0
        self.worst_share = 0.0
        print(f"{'document':<28} {'size':>5} {'result':>11} {'mean':>7} {'> 32':>8} {'max':>4}")

    def check(self, label, document, size, width, height, rgb, opaque):
        """Compares one thumbnail with the reference, prints a row, and records what is wrong."""
        problems = []
        if max(width, height) != min(size, MAX_EDGE):
            problems.append(f"longer edge {max(width, height)}, asked for {size}")
        fitted_w, fitted_h, _ = mutool_draw(self.mutool, document, os.path.join(self.scratch, "fit.pnm"),
                                            size, size, False)
        self.compare(label, document, 1, size, width, height, rgb, opaque, (fitted_w, fitted_h), problems)

    def check_page(self, label, document, page, size, width, height, rgb, opaque):
        """Compares one page drawn at a width with the reference, prints a row, and records what is wrong."""
        problems = []
        capped = height == MAX_EDGE and width <= size
        if width != size and not capped:
            problems.append(f"width {width}, asked for {size}")
        fit_w, fit_h = (None, MAX_EDGE) if capped else (size, None)
        fitted_w, fitted_h, _ = mutool_draw(self.mutool, document, os.path.join(self.scratch, "fit.pnm"),
                                            fit_w, fit_h, False, page)
        self.compare(label, document, page, size, width, height, rgb, opaque, (fitted_w, fitted_h), problems)

    def compare(self, label, document, page, size, width, height, rgb, opaque, fitted, problems):
        if abs(fitted[0] - width) > 1 or abs(fitted[1] - height) > 1:
            problems.append(f"{width}x{height} does not keep the page's shape ({fitted[0]}x{fitted[1]})")
        if not opaque:
            problems.append("not every pixel is opaque")
        ref_w, ref_h, ref = mutool_draw(self.mutool, document, os.path.join(self.scratch, "ref.pnm"),
                                        width, height, True, page)
        if ref_w < width or ref_h < height:
            problems.append(f"reference is {ref_w}x{ref_h}")
            mean, share, largest = float("nan"), float("nan"), -1
        else:
            mean, share, largest = difference(rgb, crop(ref_w, ref, width, height))
            self.worst_mean = max(self.worst_mean, mean)
            self.worst_share = max(self.worst_share, share)
            if mean > MEAN_LIMIT or share > SHARE_LIMIT:
                problems.append(f"pixels differ from the reference (mean {mean:.3f}, share {share:.4%})")
        print(f"{label:<28} {size:>5} {f'{width}x{height}':>11} {mean:>7.3f} {share:>8.4%} {largest:>4}")
        for problem in problems:
            self.failures.append(f"{label} at {size}: {problem}")

    def fail(self, label, size, problem):
        print(f"{label:<28} {size:>5} {'-':>11}  {problem}")
        self.failures.append(f"{label} at {size}: {problem}")

    def finish(self):
        print(f"worst: mean {self.worst_mean:.3f} (limit {MEAN_LIMIT}), "
              f"share {self.worst_share:.4%} (limit {SHARE_LIMIT:.1%})")
        for failure in self.failures:
            print("FAILED: " + failure, file=sys.stderr)
        return 1 if self.failures else 0


def run_wine(wine_run, arguments, cwd=None):
    return subprocess.run([wine_run] + arguments, cwd=cwd, capture_output=True, text=True, timeout=120)


def compare_renderer(args, comparison):
    for document in args.documents:
        for size in args.sizes:
            label = os.path.basename(document)
            result = os.path.join(comparison.scratch, "result.tmp")
            open(result, "wb").close()
            run = run_wine(args.wine_run, [args.renderer, "--thumb", windows_path(document), str(size),
                                           windows_path(result)])
            if run.returncode != 0:
                comparison.fail(label, size, f"exit code {run.returncode}")
                continue
            comparison.check(label, document, size, *read_result_file(result))


def read_page_list(path):
    """The renderer's page list: [(width, height)] in points."""
    with open(path, "rb") as f:
        data = f.read()
    (count,) = struct.unpack_from("<I", data)
    if len(data) != 4 + 8 * count:
        raise ValueError(f"page list of {len(data)} bytes for {count} pages")
    return [struct.unpack_from("<ff", data, 4 + 8 * i) for i in range(count)]


def compare_pages(args, comparison):
    for item in args.documents:
        document, page = item.rsplit(":", 1)
        page = int(page)
        for size in args.sizes:
            label = f"{os.path.basename(document)} p{page}"
            result = os.path.join(comparison.scratch, "result.tmp")
            page_list = os.path.join(comparison.scratch, "pages.tmp")
            open(result, "wb").close()
            open(page_list, "wb").close()
            run = run_wine(args.wine_run, [args.renderer, "--page", windows_path(document), str(page), str(size),
                                           windows_path(result), windows_path(page_list)])
            if run.returncode != 0:
                comparison.fail(label, size, f"exit code {run.returncode}")
                continue
            if len(read_page_list(page_list)) < page:
                comparison.fail(label, size, "the page list is shorter than the page asked for")
                continue
            comparison.check_page(label, document, page, size, *read_result_file(result))


def compare_end_to_end(args, comparison):
    out = os.path.join(comparison.scratch, "png")
    os.makedirs(out, exist_ok=True)
    registered = run_wine(args.wine_run, ["regsvr32", "/s", windows_path(args.dll)])
    if registered.returncode != 0:
        comparison.fail("regsvr32", 0, f"exit code {registered.returncode}")
        return
    try:
        for size in args.sizes:
            run = run_wine(args.wine_run, [args.host, "--size", str(size), "--out", windows_path(out)]
                           + [windows_path(d) for d in args.documents])
            for document in args.documents:
                label = os.path.basename(document)
                png = os.path.join(out, label + ".png")
                if not os.path.exists(png):
                    comparison.fail(label, size, "no PNG: " + run.stdout.strip().replace("\n", " | "))
                    continue
                comparison.check(label, document, size, *read_png(png))
                os.remove(png)
    finally:
        run_wine(args.wine_run, ["regsvr32", "/u", "/s", windows_path(args.dll)])


def compare_architecture(args, scratch):
    """This build's renderer against the reference build's: both draw each document at each size,
    and the result files must be the same bytes. Returns the exit code."""
    failures = []
    print(f"{'document':<28} {'size':>5} {'result':>11}  against the reference")
    for document in args.documents:
        for size in args.sizes:
            label = os.path.basename(document)
            ours, theirs = os.path.join(scratch, "ours.tmp"), os.path.join(scratch, "theirs.tmp")
            for result in (ours, theirs):
                open(result, "wb").close()
            run = run_wine(args.wine_run, [windows_path(args.renderer_file, args.prefix), "--thumb",
                                           windows_path(document, args.prefix), str(size),
                                           windows_path(ours, args.prefix)])
            if run.returncode == SKIPPED:
                print(run.stdout.strip())
                return SKIPPED
            reference = run_wine(args.reference_wine_run, [windows_path(args.reference_renderer), "--thumb",
                                                           windows_path(document), str(size), windows_path(theirs)])
            if run.returncode != 0 or reference.returncode != 0:
                print(f"{label:<28} {size:>5} {'-':>11}  exit code {run.returncode}, the reference's {reference.returncode}")
                if run.returncode != reference.returncode:
                    failures.append(f"{label} at {size}: exit code {run.returncode}, the reference's {reference.returncode}")
                continue
            width, height, rgb, _ = read_result_file(ours)
            with open(ours, "rb") as a, open(theirs, "rb") as b:
                identical = a.read() == b.read()
            if identical:
                verdict = "identical"
            else:
                ref_width, ref_height, ref_rgb, _ = read_result_file(theirs)
                if (ref_width, ref_height) != (width, height):
                    verdict = f"the reference is {ref_width}x{ref_height}"
                else:
                    mean, share, largest = difference(rgb, ref_rgb)
                    verdict = f"differs: mean {mean:.3f}, share > {PIXEL_THRESHOLD} {share:.4%}, largest {largest}"
                failures.append(f"{label} at {size}: {verdict}")
            print(f"{label:<28} {size:>5} {f'{width}x{height}':>11}  {verdict}")
    for failure in failures:
        print("FAILED: " + failure, file=sys.stderr)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["renderer", "end-to-end", "page", "architecture"])
    parser.add_argument("--wine-run", required=True, help="the build tree's wine-run script")
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--prefix", help="the build tree's Wine prefix, where its drives other than Z: matter")
    parser.add_argument("--mutool", help="the native build's mutool (renderer, end-to-end, page)")
    parser.add_argument("--reference-wine-run", help="the reference build's wine-run (architecture)")
    parser.add_argument("--reference-bin", help="the reference build's bin folder (architecture)")
    parser.add_argument("--sizes", default="256", help="comma-separated sizes")
    parser.add_argument("documents", nargs="+", help="documents; in the page mode DOCUMENT:PAGE")
    args = parser.parse_args()
    args.sizes = [int(s) for s in args.sizes.split(",")]
    if args.mode == "architecture":
        args.renderer_file = os.path.join(args.bin, "TorvView.exe")
        args.reference_renderer = os.path.join(args.reference_bin, "TorvView.exe")
        if not os.path.exists(args.reference_renderer):
            print(f"no reference renderer at {args.reference_renderer}: build the x64 tree", file=sys.stderr)
            return 1
        # Inside the build tree, which the emulated Wine reaches through a drive of its own.
        with tempfile.TemporaryDirectory(prefix="torv-architecture-", dir=os.path.dirname(args.prefix)) as scratch:
            return compare_architecture(args, scratch)
    if not args.mutool or not os.access(args.mutool, os.X_OK):
        print(f"no mutool at {args.mutool}: the build makes it (tests/native/, TORV_BUILD_NATIVE)", file=sys.stderr)
        return 1
    args.renderer = windows_path(os.path.join(args.bin, "TorvView.exe"))
    args.host = windows_path(os.path.join(args.bin, "thumbhost.exe"))
    args.dll = os.path.join(args.bin, "torvthumb.dll")
    with tempfile.TemporaryDirectory(prefix="torv-reference-") as scratch:
        comparison = Comparison(scratch, args.mutool)
        if args.mode == "renderer":
            compare_renderer(args, comparison)
        elif args.mode == "page":
            compare_pages(args, comparison)
        else:
            compare_end_to_end(args, comparison)
        return comparison.finish()


if __name__ == "__main__":
    sys.exit(main())
