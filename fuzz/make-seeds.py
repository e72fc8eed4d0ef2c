#!/usr/bin/env python3
"""Seeds for the fuzz targets whose inputs are not whole archives, cut out of
the archives in tests/fixtures (made by real tools, see tests/fixtures/make-*.sh),
and the whole-pipeline target's seeds: one small archive of every format with
the leading byte that picks its file name. Run from the repository's root:
    python3 fuzz/make-seeds.py
"""
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIX = os.path.join(ROOT, "tests", "fixtures")
SEEDS = os.path.join(ROOT, "fuzz", "seeds")


def fixture(name):
    with open(os.path.join(FIX, name), "rb") as f:
        return f.read()


def put(target, name, data):
    folder = os.path.join(SEEDS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def lzh_members(archive):
    """(method, original size, packed data) of each member, headers of level 0 to 2."""
    at = 0
    while at + 22 <= len(archive) and archive[at] != 0:
        level = archive[at + 20]
        method = archive[at + 2:at + 7].decode("latin-1")
        packed, original = struct.unpack_from("<II", archive, at + 7)
        if level == 2:
            data = at + struct.unpack_from("<H", archive, at)[0]
        else:
            data = at + archive[at] + 2
            if level == 1:  # extension headers count in the packed size
                while True:
                    size = struct.unpack_from("<H", archive, data - 2)[0]
                    if size == 0:
                        break
                    data += size
                    packed -= size
        yield method, original, archive[data:data + packed]
        at = data + packed


# The order of the decoder's method numbers (the fuzz target's first byte).
LZH_METHODS = ["-lzs-", "-lz4-", "-lz5-", "-lh0-", "-lh1-", "-lh2-", "-lh3-", "-lh4-", "-lh5-", "-lh6-", "-lh7-"]


def lzh_decode_seeds():
    seen = set()
    for name in ["lzh/level0_lh5.lzh", "lzh/level1_lh6.lzh", "lzh/level2_lh7.lzh", "names/sjis-lh1.lzh",
                 "names/sjis-lh2.lzh"]:
        for method, original, data in lzh_members(fixture(name)):
            if method not in LZH_METHODS or method in seen or len(data) > 12000:
                continue
            seen.add(method)
            units = (original + 15) >> 4
            put("fuzz_lzh_decode", method.strip("-"),
                bytes([LZH_METHODS.index(method), units & 0xFF, (units >> 8) & 0xFF, 255]) + data)


def cab_blocks(cab):
    """(compression type, [(uncompressed size, data)]) of each folder."""
    folders, flags = struct.unpack_from("<H", cab, 26)[0], struct.unpack_from("<H", cab, 30)[0]
    at, folder_reserve, data_reserve = 36, 0, 0
    if flags & 4:
        header_reserve, folder_reserve, data_reserve = struct.unpack_from("<HBB", cab, 36)
        at = 40 + header_reserve
    if flags & 1:  # previous cabinet's name and disk
        for _ in range(2):
            at = cab.index(b"\0", at) + 1
    if flags & 2:
        for _ in range(2):
            at = cab.index(b"\0", at) + 1
    for _ in range(folders):
        start, count, kind = struct.unpack_from("<IHH", cab, at)
        at += 8 + folder_reserve
        blocks, b = [], start
        for _ in range(count):
            size, uncompressed = struct.unpack_from("<HH", cab, b + 4)
            b += 8 + data_reserve
            blocks.append((uncompressed, cab[b:b + size]))
            b += size
        yield kind & 0xF, blocks


def mszip_seeds():
    for kind, blocks in cab_blocks(fixture("cab/mszip.cab")):
        if kind != 1:
            continue
        for i, (uncompressed, data) in enumerate(blocks[:2]):
            put("fuzz_mszip", "block%d" % i, struct.pack("<H", uncompressed) + data)


def lzx_seeds():
    # Round trips through the test encoder (first byte: bit 7 and the window).
    text = fixture("lines/text.txt")
    put("fuzz_lzx", "roundtrip-w15", bytes([0x80 | 0]) + text[:4000])
    put("fuzz_lzx", "roundtrip-w21", bytes([0x80 | 6]) + text[:4000] * 3)
    put("fuzz_lzx", "roundtrip-bytes", bytes([0x80 | 2]) + bytes(range(256)) * 8)


def cab_seeds():
    put("fuzz_cab", "gcab.cab", fixture("names/utf8-gcab.cab"))
    # The first folder of each kind, cut to a cabinet of one small file is
    # more than needed: the whole small fixtures are a few KiB at most.
    for name in ["cab/stored.cab", "cab/mszip.cab"]:
        data = fixture(name)
        if len(data) <= 64 * 1024:
            put("fuzz_cab", os.path.basename(name), data)


# The whole-pipeline target's first byte picks one of these names (keep in
# step with fuzz_process_archive.cpp).
NAMES = ["a.tar", "a.tgz", "a.bz2", "a.Z", "a.lzh", "a.zip", "a.arj", "a.gz", "a.cab", "a.b64", "a.mim", "a.uu",
         "a.ntx", "a.exe", "a", "a.txt", "a.tbz", "a.taZ", "a.xz", "a.zst", "a.lz", "a.lzma", "a.lz4", "a.tlz"]


def process_archive_seeds():
    rows = [
        ("a.tar", "names/utf8-ustar.tar"), ("a.tgz", "core/plain.tgz"), ("a.bz2", "core/nine.txt.bz2"),
        ("a.taZ", "tar/note.Z"), ("a.Z", "tar/run.Z"), ("a.lzh", "names/sjis-lh1.lzh"),
        ("a.zip", "names/utf8-zip.zip"), ("a.arj", "arj/text.arj"), ("a.gz", "core/named.gz"),
        ("a.cab", "names/utf8-gcab.cab"), ("a.b64", "lines/section.b64"), ("a.mim", "lines/two.mime"),
        ("a.uu", "lines/plain.uu"), ("a.ntx", "lines/sections.ntx"), ("a.tbz", "core/notes.tbz"),
        # Found by content: no extension, a misleading one.
        ("a", "lzh/level2_lh0.lzh"), ("a.exe", "names/sjis-dos.zip"), ("a.txt", "lines/mixed.UuE"),
        ("a.xz", "library/tree.tar.xz"), ("a.zst", "library/tree.tar.zst"), ("a.lz", "library/tree.tar.lz"),
        ("a.tlz", "library/tree.tlz"), ("a.lz4", "library/tree.tar.lz4"), ("a.lzma", "library/lines.lzma"),
    ]
    for name, source in rows:
        data = fixture(source)
        if len(data) > 32 * 1024:
            continue
        put("fuzz_process_archive", source.replace("/", "-"), bytes([NAMES.index(name)]) + data)


def library_seeds():
    formats = ["xz", "lzma", "lzip", "zstd", "lz4"]
    rows = [("xz", "blocks.xz"), ("xz", "streams.xz"), ("lzma", "lines.lzma"), ("lzip", "streams.lz"),
            ("zstd", "frames.zst"), ("lz4", "tree.tar.lz4"), ("lz4", "legacy.lz4")]
    for kind, source in rows:
        put("fuzz_library", source, bytes([formats.index(kind), 3]) + fixture("library/" + source))


def zip_seeds():
    # Read through the central directory: a member of each method of today,
    # members written to a pipe, WinZip AES, PPMd.
    for name in ["today.zip", "pipe.zip", "aes.zip", "ppmd.zip"]:
        put("fuzz_zip", name, fixture("zipsets/" + name))


def zip_member_data(archive, member):
    """The stored (compressed) bytes of one member of a fixture ZIP."""
    import zipfile
    data = fixture(archive)
    info = zipfile.ZipFile(os.path.join(FIX, archive)).getinfo(member)
    at = info.header_offset
    name_length, extra_length = struct.unpack_from("<HH", data, at + 26)
    start = at + 30 + name_length + extra_length
    return data[start:start + info.compress_size]


def deflate64_seeds():
    # The raw streams of the Deflate64 members: a small one and one that
    # uses the whole window.
    for archive, member in [("zipsets/today.zip", "deflate64.txt"), ("zipsets/deflate64.zip", "wide.bin")]:
        put("fuzz_deflate64", member, zip_member_data(archive, member))


def tar_seeds():
    # The Unix tree: links, a FIFO, modes and the sparse forms (the old GNU
    # one, pax 0.1 and 1.0), without the record padding; the leading byte
    # picks the read size and work buffer.
    import gzip
    for name in ["gnu", "pax", "pax-sparse0.1"]:
        data = gzip.decompress(fixture("unix/%s.tar.gz" % name)).rstrip(b"\0")
        data += b"\0" * ((-len(data)) % 512 + 1024)
        put("fuzz_tar", "unix-%s.tar" % name, b"\0" + data)


def member_filter_seeds():
    # A pattern, NUL, a member name: each wildcard form once, and a
    # Shift-JIS name whose second byte is a backslash.
    for i, (pattern, name) in enumerate([(b"docs/**", b"docs/a/b.txt"), (b"*.t[a-z]t", b"x.txt"),
                                         (b"**.c", b"src/x/y.c"), (b"?[!ab]*", b"\x95\x5c/z")]):
        put("fuzz_member_filter", "p%d" % i, pattern + b"\0" + name)


def ppmd_seeds():
    # The PPMd members' data, parameter word first: the default model, and
    # order 16 in the smallest block over text and order 2 over bytes.
    for archive, member in [("zipsets/today.zip", "ppmd.txt"), ("zipsets/ppmd.zip", "restart.txt"),
                            ("zipsets/ppmd.zip", "order2.bin")]:
        put("fuzz_ppmd", member, zip_member_data(archive, member))


if __name__ == "__main__":
    lzh_decode_seeds()
    mszip_seeds()
    lzx_seeds()
    cab_seeds()
    process_archive_seeds()
    library_seeds()
    zip_seeds()
    deflate64_seeds()
    tar_seeds()
    member_filter_seeds()
    ppmd_seeds()
