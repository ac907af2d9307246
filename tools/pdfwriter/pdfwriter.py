"""The project's one PDF writer: objects, streams, encryption, pages drawn on canvases, and fonts,
named or embedded, Latin and CJK. tools/samples/make-samples (the committed samples) and
tests/documents/make-documents (the tests' and the benchmark's documents, at build time) both write
with it.

Python 3 standard library only; the fonts that measure or subset with fontTools import it when used.
Every output is the same on every run.
"""
import hashlib
import math
import struct
import zlib

HEADER = b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"


def num(value):
    text = f"{value:.3f}".rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def pdf_string(data):
    """A literal string of bytes."""
    out = bytearray(b"(")
    for byte in data:
        if byte in b"()\\":
            out += b"\\" + bytes([byte])
        elif 32 <= byte < 127:
            out.append(byte)
        else:
            out += b"\\%03o" % byte
    return bytes(out + b")")


def pdf_text(text):
    """A literal string of Latin-1 text, for content written as str."""
    return "(" + text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"


def text_string(text):
    """A text string's bytes: Windows-1252 for the samples' Latin titles, else UTF-16BE with its mark."""
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError:
        return b"\xfe\xff" + text.encode("utf-16-be")


def flate(data):
    return zlib.compress(data, 9)


class Pdf:
    """Objects numbered from 1, written with a classic cross-reference table; strings and streams are
    encrypted on output when a file key is set."""

    def __init__(self):
        self.objects = []
        self.key = None

    def reserve(self):
        self.objects.append(None)
        return len(self.objects)

    def add(self, body, stream=None, number=None):
        """An object: a body, or a stream's dictionary entries (without /Length) and its data."""
        if number is None:
            number = self.reserve()
        self.objects[number - 1] = (body.encode("latin-1") if isinstance(body, str) else body, stream)
        return number

    def stream(self, data, entries="", compress=True, number=None):
        if compress:
            data = flate(data)
            entries += " /Filter /FlateDecode"
        return self.add(entries.strip(), data, number)

    def string(self, number, text):
        """A string in object number, encrypted as that object's strings are."""
        data = text.encode("latin-1")
        if self.key:
            data = rc4(object_key(self.key, number), data)
        return "<" + data.hex() + ">"

    def serialize(self):
        """The header and the objects, and where each object begins."""
        out = bytearray(HEADER)
        offsets = []
        for number, (body, stream) in enumerate(self.objects, 1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % number
            if stream is None:
                out += body
            else:
                if self.key:
                    stream = rc4(object_key(self.key, number), stream)
                out += (b"<< /Length %d" % len(stream) + (b" " + body if body else b"") + b" >>\nstream\n"
                        + stream + b"\nendstream")
            out += b"\nendobj\n"
        return out, offsets

    def write(self, path, root, trailer="", offset_error=0, info=None):
        """Writes the file and returns its bytes. With info, the trailer names it and a file
        identifier made from the content; offset_error moves every offset in the table."""
        out, offsets = self.serialize()
        if info is not None:
            identifier = hashlib.md5(out).hexdigest()
            trailer = f" /Info {info} 0 R /ID [<{identifier}> <{identifier}>]" + trailer
        xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(offsets) + 1)
        for offset in offsets:
            out += b"%010d 00000 n \n" % (offset + offset_error)
        out += (f"trailer\n<< /Size {len(offsets) + 1} /Root {root} 0 R{trailer} >>\n"
                f"startxref\n{xref}\n%%EOF\n").encode("latin-1")
        with open(path, "wb") as f:
            f.write(out)
        return bytes(out)


def single_page(pdf, content, media_box="0 0 595 842", resources=""):
    """A catalog with one page; returns the catalog's number."""
    return page_with_contents(pdf, "/Filter /FlateDecode", flate(content), media_box, resources)


def page_with_contents(pdf, filters, stream, media_box="0 0 595 842", resources=""):
    """A catalog with one page whose contents are stream, encoded with filters."""
    pages = pdf.reserve()
    contents = pdf.add(filters, stream)
    page = pdf.add(f"<< /Type /Page /Parent {pages} 0 R /MediaBox [{media_box}] /Resources << {resources} >> "
                   f"/Contents {contents} 0 R >>")
    pdf.add(f"<< /Type /Pages /Kids [{page} 0 R] /Count 1 >>", number=pages)
    return pdf.add(f"<< /Type /Catalog /Pages {pages} 0 R >>")


# ---------------------------------------------------------------------------------------------------------------
# Encryption: ISO 32000 Standard security handler, revision 3, RC4 with a 128-bit key.

PADDING = bytes.fromhex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A")
PERMISSIONS = -3904  # bits 7, 8 and 13-32 set, as revision 3 requires; printing, changes and copying not allowed
KEY_BYTES = 16


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255
        s[i], s[j] = s[j], s[i]
    out = bytearray(len(data))
    i = j = 0
    for n, byte in enumerate(data):
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out[n] = byte ^ s[(s[i] + s[j]) & 255]
    return bytes(out)


def padded(password):
    return (password + PADDING)[:32]


def rc4_twenty_rounds(key, data):
    """RC4 with the key, then 19 more times with each key byte XORed with the round number."""
    data = rc4(key, data)
    for round_number in range(1, 20):
        data = rc4(bytes(b ^ round_number for b in key), data)
    return data


def owner_entry(owner, user):
    digest = hashlib.md5(padded(owner or user)).digest()
    for _ in range(50):
        digest = hashlib.md5(digest).digest()
    return rc4_twenty_rounds(digest[:KEY_BYTES], padded(user))


def file_key(user, owner_value, file_id):
    digest = hashlib.md5(padded(user) + owner_value + struct.pack("<i", PERMISSIONS) + file_id).digest()
    for _ in range(50):
        digest = hashlib.md5(digest[:KEY_BYTES]).digest()
    return digest[:KEY_BYTES]


def user_entry(key, file_id):
    return rc4_twenty_rounds(key, hashlib.md5(PADDING + file_id).digest()) + bytes(16)


def object_key(key, number, generation=0):
    digest = hashlib.md5(key + struct.pack("<I", number)[:3] + struct.pack("<H", generation)).digest()
    return digest[:min(len(key) + 5, 16)]


# ---------------------------------------------------------------------------------------------------------------
# Font files, read with the standard library: a face of a TrueType or OpenType file or collection.

class FontFace:
    """One face of a font file: its tables, its Unicode cmap and its advance widths."""

    def __init__(self, path, face=0):
        with open(path, "rb") as f:
            data = f.read()
        start = 0
        if data[:4] == b"ttcf":
            start = struct.unpack_from(">I", data, 12 + 4 * face)[0]
        self.version = data[start:start + 4]
        count = struct.unpack_from(">H", data, start + 4)[0]
        self.tables = {}
        for i in range(count):
            tag, _, offset, length = struct.unpack_from(">4sIII", data, start + 12 + 16 * i)
            self.tables[tag.decode("latin-1")] = data[offset:offset + length]
        self.units_per_em = struct.unpack_from(">H", self.tables["head"], 18)[0]
        self.cmap = self._unicode_cmap()

    def standalone(self):
        """The face as a font file of its own (a collection's face taken out of it)."""
        tags = sorted(self.tables)
        out = bytearray(self.version + struct.pack(">HHHH", len(tags), 0, 0, 0))
        offset = 12 + 16 * len(tags)
        body = bytearray()
        for tag in tags:
            table = self.tables[tag]
            checksum = sum(struct.unpack(">%dI" % ((len(table) + 3) // 4), table + bytes(-len(table) % 4)))
            out += struct.pack(">4sIII", tag.encode("latin-1"), checksum & 0xFFFFFFFF, offset + len(body), len(table))
            body += table + bytes(-len(table) % 4)
        return bytes(out + body)

    def _unicode_cmap(self):
        cmap = self.tables["cmap"]
        subtables = {}
        for i in range(struct.unpack_from(">H", cmap, 2)[0]):
            platform, encoding, offset = struct.unpack_from(">HHI", cmap, 4 + 8 * i)
            subtables[(platform, encoding)] = offset
        mapping = {}
        if (3, 10) in subtables:
            offset = subtables[(3, 10)]
            groups = struct.unpack_from(">I", cmap, offset + 12)[0]
            for g in range(groups):
                first, last, glyph = struct.unpack_from(">III", cmap, offset + 16 + 12 * g)
                for code in range(first, last + 1):
                    mapping[code] = glyph + code - first
            return mapping
        offset = subtables[(3, 1)]
        segments = struct.unpack_from(">H", cmap, offset + 6)[0] // 2
        ends = struct.unpack_from(">%dH" % segments, cmap, offset + 14)
        starts = struct.unpack_from(">%dH" % segments, cmap, offset + 16 + 2 * segments)
        deltas = struct.unpack_from(">%dh" % segments, cmap, offset + 16 + 4 * segments)
        ranges_at = offset + 16 + 6 * segments
        ranges = struct.unpack_from(">%dH" % segments, cmap, ranges_at)
        for s in range(segments):
            for code in range(starts[s], ends[s] + 1):
                if ranges[s] == 0:
                    glyph = (code + deltas[s]) & 0xFFFF
                else:
                    at = ranges_at + 2 * s + ranges[s] + 2 * (code - starts[s])
                    glyph = struct.unpack_from(">H", cmap, at)[0]
                    glyph = (glyph + deltas[s]) & 0xFFFF if glyph else 0
                if glyph:
                    mapping[code] = glyph
        return mapping

    def glyph(self, char):
        return self.cmap[ord(char)]

    def advance(self, char):
        """The advance width of a character, in text space units per 1000."""
        metrics = struct.unpack_from(">H", self.tables["hhea"], 34)[0]
        glyph = min(self.glyph(char), metrics - 1)
        return struct.unpack_from(">H", self.tables["hmtx"], 4 * glyph)[0] * 1000.0 / self.units_per_em


# ---------------------------------------------------------------------------------------------------------------
# Fonts as a Canvas uses them: each encodes text into a string's bytes, measures it, and writes its
# objects once the characters used are known.

class Metrics:
    """Advance widths of a TrueType font, in text space units per 1000 (read with fontTools)."""

    def __init__(self, path):
        from fontTools.ttLib import TTFont
        font = TTFont(path)
        self.cmap = font.getBestCmap()
        self.hmtx = font["hmtx"]
        self.scale = 1000.0 / font["head"].unitsPerEm

    def advance(self, char):
        return self.hmtx[self.cmap[ord(char)]][0] * self.scale

    def width(self, text, size):
        return sum(self.advance(c) for c in text) * size / 1000.0


class WinAnsiFont:
    """A simple font in WinAnsiEncoding."""

    def encode(self, text):
        return text.encode("cp1252")

    def width(self, text, size):
        return self.metrics.width(text, size)


class Base14Font(WinAnsiFont):
    """A standard font that is named, not embedded; a metric-compatible font gives its widths."""

    def __init__(self, base_name, metrics_file):
        self.base_name = base_name
        self.metrics = Metrics(metrics_file)

    def objects(self, pdf, number, used):
        pdf.add(f"<< /Type /Font /Subtype /Type1 /BaseFont /{self.base_name} /Encoding /WinAnsiEncoding >>", number=number)


class EmbeddedFont(WinAnsiFont):
    """A TrueType font embedded as a subset of the characters drawn with it (FontFile2, fontTools)."""

    def __init__(self, path):
        self.path = path
        self.metrics = Metrics(self.path)

    def objects(self, pdf, number, used):
        import io
        from fontTools import subset
        from fontTools.ttLib import TTFont
        font = TTFont(self.path, recalcTimestamp=False)
        options = subset.Options()
        options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14]  # the copyright and licence notices travel with it
        options.hinting = False
        options.layout_features = []
        options.notdef_outline = True
        options.drop_tables += ["FFTM"]
        subsetter = subset.Subsetter(options)
        subsetter.populate(unicodes=[ord(c) for c in used])
        subsetter.subset(font)
        data = io.BytesIO()
        font.save(data)
        data = data.getvalue()

        tag = "".join(chr(65 + b % 26) for b in hashlib.md5("".join(sorted(used)).encode()).digest()[:6])
        name = f"{tag}+{font['name'].getDebugName(6)}"
        head, hhea = font["head"], font["hhea"]
        cap_height = font["glyf"][font.getBestCmap()[ord("H")]].yMax if "H" in used else hhea.ascent * 0.73
        scale = 1000.0 / head.unitsPerEm
        codes = sorted(c.encode("cp1252")[0] for c in used)
        widths = []
        for code in range(codes[0], codes[-1] + 1):
            char = bytes([code]).decode("cp1252", errors="replace")
            widths.append(num(self.metrics.advance(char)) if char in used else "0")

        file_number = pdf.stream(data, f" /Length1 {len(data)}")
        bbox = " ".join(num(v * scale) for v in (head.xMin, head.yMin, head.xMax, head.yMax))
        descriptor = pdf.add(
            f"<< /Type /FontDescriptor /FontName /{name} /Flags 32 /FontBBox [{bbox}] /ItalicAngle 0 "
            f"/Ascent {num(hhea.ascent * scale)} /Descent {num(hhea.descent * scale)} "
            f"/CapHeight {num(cap_height * scale)} /StemV 80 /FontFile2 {file_number} 0 R >>")
        pdf.add(
            f"<< /Type /Font /Subtype /TrueType /BaseFont /{name} /FirstChar {codes[0]} /LastChar {codes[-1]} "
            f"/Widths [{' '.join(widths)}] /Encoding /WinAnsiEncoding /FontDescriptor {descriptor} 0 R >>", number=number)


class TrueTypeFont(WinAnsiFont):
    """A TrueType font outside the standard 14 with the widths of its file, named by its PostScript
    name and, with embed, carried whole in the document (standard library only)."""

    def __init__(self, base_name, path, embed=False):
        self.base_name = base_name
        self.face = FontFace(path)
        self.embed = embed

    def width(self, text, size):
        return sum(self.face.advance(c) for c in text) * size / 1000.0

    def objects(self, pdf, number, used):
        codes = sorted(c.encode("cp1252")[0] for c in used)
        widths = []
        for code in range(codes[0], codes[-1] + 1):
            char = bytes([code]).decode("cp1252", errors="replace")
            widths.append(num(self.face.advance(char)) if char in used else "0")
        font_file = ""
        if self.embed:
            data = self.face.standalone()
            font_file = f" /FontFile2 {pdf.stream(data, f' /Length1 {len(data)}')} 0 R"
        descriptor = pdf.add(f"<< /Type /FontDescriptor /FontName /{self.base_name} /Flags 32 "
                             f"/FontBBox [-1000 -300 2000 1000] /ItalicAngle 0 /Ascent 900 /Descent -250 "
                             f"/CapHeight 700 /StemV 80{font_file} >>")
        pdf.add(f"<< /Type /Font /Subtype /TrueType /BaseFont /{self.base_name} /FirstChar {codes[0]} "
                f"/LastChar {codes[-1]} /Widths [{' '.join(widths)}] /Encoding /WinAnsiEncoding "
                f"/FontDescriptor {descriptor} 0 R >>", number=number)


# The predefined CJK encodings that documents use here, with the codec that writes text in each.
CJK_CODECS = {
    "90ms-RKSJ-H": "cp932", "UniJIS-UCS2-H": "utf-16-be",
    "GBK-EUC-H": "gbk", "UniGB-UCS2-H": "utf-16-be",
    "B5pc-H": "big5", "UniCNS-UCS2-H": "utf-16-be",
    "KSCms-UHC-H": "cp949", "UniKS-UCS2-H": "utf-16-be",
    "Identity-H": "utf-16-be",
}


class CjkFont:
    """A CJK font named and not embedded, as East Asian office suites write them: a Type 0 font in a
    predefined encoding of its character collection (Japan1, GB1, CNS1, Korea1), or in Identity-H
    with a ToUnicode map (collection Identity; the codes are the characters' Unicode values). Every
    character is 1000 units wide (/DW), as full-width CJK characters are."""

    def __init__(self, base_name, ordering, encoding, serif=False):
        self.base_name = base_name
        self.ordering = ordering
        self.encoding = encoding
        self.serif = serif

    def encode(self, text):
        return text.encode(CJK_CODECS[self.encoding])

    def width(self, text, size):
        return len(text) * size

    def objects(self, pdf, number, used):
        # Symbolic (4), and serif (2) where the font is.
        flags = 6 if self.serif else 4
        descriptor = pdf.add(f"<< /Type /FontDescriptor /FontName /{self.base_name} /Flags {flags} "
                             f"/FontBBox [0 -140 1000 880] /ItalicAngle 0 /Ascent 880 /Descent -120 "
                             f"/CapHeight 700 /StemV 80 >>")
        registry = "Adobe"
        cid = pdf.add(f"<< /Type /Font /Subtype /CIDFontType2 /BaseFont /{self.base_name} "
                      f"/CIDSystemInfo << /Registry ({registry}) /Ordering ({self.ordering}) /Supplement 0 >> "
                      f"/FontDescriptor {descriptor} 0 R /DW 1000 >>")
        to_unicode = ""
        if self.encoding == "Identity-H":
            to_unicode = f" /ToUnicode {pdf.stream(unicode_cmap(used))} 0 R"
        pdf.add(f"<< /Type /Font /Subtype /Type0 /BaseFont /{self.base_name} /Encoding /{self.encoding} "
                f"/DescendantFonts [{cid} 0 R]{to_unicode} >>", number=number)


class EmbeddedCjkFont:
    """The same text in a font embedded whole from a font file (a collection's face taken out of it):
    Identity-H, the codes being the font's glyph ids, every character 1000 units wide."""

    def __init__(self, base_name, path, face=0):
        self.base_name = base_name
        self.face = FontFace(path, face)

    def encode(self, text):
        return b"".join(struct.pack(">H", self.face.glyph(c)) for c in text)

    def width(self, text, size):
        return len(text) * size

    def objects(self, pdf, number, used):
        data = self.face.standalone()
        font_file = pdf.stream(data, f" /Length1 {len(data)}")
        descriptor = pdf.add(f"<< /Type /FontDescriptor /FontName /{self.base_name} /Flags 4 "
                             f"/FontBBox [0 -140 1000 880] /ItalicAngle 0 /Ascent 880 /Descent -120 "
                             f"/CapHeight 700 /StemV 80 /FontFile2 {font_file} 0 R >>")
        cid = pdf.add(f"<< /Type /Font /Subtype /CIDFontType2 /BaseFont /{self.base_name} "
                      f"/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> "
                      f"/FontDescriptor {descriptor} 0 R /DW 1000 /CIDToGIDMap /Identity >>")
        pdf.add(f"<< /Type /Font /Subtype /Type0 /BaseFont /{self.base_name} /Encoding /Identity-H "
                f"/DescendantFonts [{cid} 0 R] >>", number=number)


def unicode_cmap(chars):
    """A ToUnicode CMap for two-byte codes that are the characters' own Unicode values."""
    lines = ["/CIDInit /ProcSet findresource begin 12 dict begin begincmap",
             "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def",
             "/CMapName /Adobe-Identity-UCS def /CMapType 2 def",
             "1 begincodespacerange <0000> <FFFF> endcodespacerange"]
    chars = sorted(chars)
    for start in range(0, len(chars), 100):
        chunk = chars[start:start + 100]
        lines.append(f"{len(chunk)} beginbfchar")
        lines += [f"<{ord(c):04X}> <{ord(c):04X}>" for c in chunk]
        lines.append("endbfchar")
    lines.append("endcmap CMapName currentdict /CMap defineresource pop end end")
    return ("\n".join(lines) + "\n").encode("latin-1")


# ---------------------------------------------------------------------------------------------------------------
# Pages drawn on canvases, fonts written once at the end.

class Canvas:
    """One content stream, in PDF user space (origin bottom left, points), with the fonts of a table."""

    def __init__(self, fonts):
        self.font_table = fonts
        self.ops = []
        self.fonts = {}
        self.images = {}

    def op(self, text):
        self.ops.append(text.encode("latin-1") if isinstance(text, str) else text)

    def fill_color(self, rgb):
        self.op(" ".join(num(c) for c in rgb) + " rg")

    def stroke_color(self, rgb):
        self.op(" ".join(num(c) for c in rgb) + " RG")

    def rect(self, x, y, w, h, fill=None, stroke=None, width=1):
        self.op(f"{num(x)} {num(y)} {num(w)} {num(h)} re")
        self.paint(fill, stroke, width)

    def paint(self, fill, stroke, width=1, close=False):
        if fill:
            self.fill_color(fill)
        if stroke:
            self.stroke_color(stroke)
            self.op(f"{num(width)} w")
        operator = "B" if fill and stroke else "f" if fill else "S"
        self.op(operator.lower() if close and operator != "f" else operator)

    def path(self, points, fill=None, stroke=None, width=1, close=True):
        self.op(f"{num(points[0][0])} {num(points[0][1])} m")
        for x, y in points[1:]:
            self.op(f"{num(x)} {num(y)} l")
        if close:
            self.op("h")
        self.paint(fill, stroke, width)

    def circle(self, cx, cy, r, fill=None, stroke=None, width=1):
        self.arc(cx, cy, r, 0, 2 * math.pi, move=True)
        self.op("h")
        self.paint(fill, stroke, width)

    def arc(self, cx, cy, r, start, end, move=False):
        steps = max(1, math.ceil(abs(end - start) / (math.pi / 2)))
        delta = (end - start) / steps
        k = 4.0 / 3.0 * math.tan(delta / 4)
        if move:
            self.op(f"{num(cx + r * math.cos(start))} {num(cy + r * math.sin(start))} m")
        else:
            self.op(f"{num(cx + r * math.cos(start))} {num(cy + r * math.sin(start))} l")
        for i in range(steps):
            a0, a1 = start + i * delta, start + (i + 1) * delta
            p1 = (cx + r * (math.cos(a0) - k * math.sin(a0)), cy + r * (math.sin(a0) + k * math.cos(a0)))
            p2 = (cx + r * (math.cos(a1) + k * math.sin(a1)), cy + r * (math.sin(a1) - k * math.cos(a1)))
            p3 = (cx + r * math.cos(a1), cy + r * math.sin(a1))
            self.op(" ".join(num(v) for v in (*p1, *p2, *p3)) + " c")

    def smooth_curve(self, points):
        """A Catmull-Rom spline through the points, as cubic Bezier segments (path left open)."""
        self.op(f"{num(points[0][0])} {num(points[0][1])} m")
        for i in range(len(points) - 1):
            p0 = points[max(i - 1, 0)]
            p1, p2 = points[i], points[i + 1]
            p3 = points[min(i + 2, len(points) - 1)]
            c1 = (p1[0] + (p2[0] - p0[0]) / 6, p1[1] + (p2[1] - p0[1]) / 6)
            c2 = (p2[0] - (p3[0] - p1[0]) / 6, p2[1] - (p3[1] - p1[1]) / 6)
            self.op(" ".join(num(v) for v in (*c1, *c2, *p2)) + " c")

    def text(self, font, size, x, y, text, color=(0, 0, 0), align="left"):
        if align != "left":
            w = self.font_table[font].width(text, size)
            x -= w if align == "right" else w / 2
        self.fonts.setdefault(font, set()).update(text)
        self.fill_color(color)
        self.op(f"BT /{font} {num(size)} Tf {num(x)} {num(y)} Td ".encode("latin-1")
                + pdf_string(self.font_table[font].encode(text)) + b" Tj ET")

    def paragraph(self, font, size, x, y, width, text, leading=None, color=(0, 0, 0)):
        """Breaks text into lines no wider than width; returns the baseline below the last line."""
        leading = leading or size * 1.35
        line = ""
        for word in text.split(" "):
            candidate = f"{line} {word}" if line else word
            if line and self.font_table[font].width(candidate, size) > width:
                self.text(font, size, x, y, line, color)
                y -= leading
                line = word
            else:
                line = candidate
        if line:
            self.text(font, size, x, y, line, color)
            y -= leading
        return y

    def image(self, name, number, x, y, w, h):
        self.images[name] = number
        self.op(f"q {num(w)} 0 0 {num(h)} {num(x)} {num(y)} cm /{name} Do Q")

    def data(self):
        return b"\n".join(self.ops) + b"\n"


class Document:
    """Pages drawn on canvases with the fonts of one table, fonts written once at the end."""

    def __init__(self, title, fonts, creator):
        self.pdf = Pdf()
        self.title = title
        self.font_table = fonts
        self.creator = creator
        self.pages_number = self.pdf.reserve()
        self.page_numbers = []
        self.font_numbers = {}
        self.font_chars = {}

    def canvas(self):
        return Canvas(self.font_table)

    def page(self, canvas, media_box, extra=""):
        contents = self.pdf.stream(canvas.data())
        for name, chars in canvas.fonts.items():
            if name not in self.font_numbers:
                self.font_numbers[name] = self.pdf.reserve()
            self.font_chars.setdefault(name, set()).update(chars)
        fonts = " ".join(f"/{name} {self.font_numbers[name]} 0 R" for name in sorted(canvas.fonts))
        images = " ".join(f"/{name} {number} 0 R" for name, number in sorted(canvas.images.items()))
        resources = f"/Font << {fonts} >>" if fonts else ""
        resources += f" /XObject << {images} >>" if images else ""
        box = " ".join(num(v) for v in media_box)
        self.page_numbers.append(self.pdf.add(
            f"<< /Type /Page /Parent {self.pages_number} 0 R /MediaBox [{box}]{extra} "
            f"/Resources << {resources} >> /Contents {contents} 0 R >>"))

    def save(self, path):
        for name, number in self.font_numbers.items():
            self.font_table[name].objects(self.pdf, number, self.font_chars[name])
        kids = " ".join(f"{n} 0 R" for n in self.page_numbers)
        self.pdf.add(f"<< /Type /Pages /Kids [{kids}] /Count {len(self.page_numbers)} >>", number=self.pages_number)
        root = self.pdf.add(f"<< /Type /Catalog /Pages {self.pages_number} 0 R >>")
        info = self.pdf.add(b"<< /Title " + pdf_string(text_string(self.title))
                            + b" /Creator " + pdf_string(self.creator.encode("latin-1")) + b" >>")
        return self.pdf.write(path, root, info=info)
