#!/usr/bin/env python3
"""Writes the AVI 2.0 seeds of the AVI fuzz targets' corpora (fuzz/corpus/AviReader, AviFrame,
AviAudio): movies in several "AVIX" segments, "rec " lists, standard indexes ("ix##") that are
right, name another stream or claim huge counts, a segment cut off, runs of zero bytes, and
compressed movies across segments. The compressed frames are taken from the Motion JPEG and
MPEG-4 seeds already in the corpus, so the output is the same on every machine.

    scripts/make-avi-seeds.py            (run from anywhere; writes into fuzz/corpus)
"""
import os
import struct

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")

KEY = 0x10  # idx1 flag of a key frame
NOT_KEY = 0x80000000  # standard index: top bit of the size marks a frame that is not a key


def le32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def chunk(cid, data):
    return cid + le32(len(data)) + data + (b"\0" if len(data) & 1 else b"")


def lst(kind, body):
    return b"LIST" + le32(len(body) + 4) + kind + body


def riff(form, body):
    return b"RIFF" + le32(len(body) + 4) + form + body


def stream_header(kind, handler, rate, scale, length, sample_size=0):
    # type, handler, flags, priority and language, initial frames, scale, rate, start, length,
    # suggested buffer size, quality, sample size, then the frame rectangle
    return (kind + handler + le32(0) + le32(0) + le32(0) + le32(scale) + le32(rate) + le32(0) +
            le32(length) + le32(0) + le32(0xFFFFFFFF) + le32(sample_size) + b"\0" * 8)


def bitmap_info(width, height, bits, compression, image_size=0):
    # size, width, height, planes and bit count, compression, image size, resolution, colours
    return (le32(40) + le32(width) + le32(height) + struct.pack("<HH", 1, bits) +
            compression + le32(image_size) + le32(0) * 4)


def wave_format(tag, channels, rate, bits, block_align=None):
    block_align = block_align or channels * bits // 8
    return struct.pack("<HHIIHHH", tag, channels, rate, rate * block_align, block_align, bits, 0)


class Movie:
    """One video stream (stream 0) and optionally one audio stream (stream 1)."""

    def __init__(self, width, height, bits, compression, handler, audio=None):
        self.width, self.height = width, height
        self.bits, self.compression, self.handler = bits, compression, handler
        self.audio = audio  # (wave format bytes, sample size) or None
        self.header_frames = None  # frames the headers claim; None: those of the first form
        self.extra_hdrl = b""

    def header(self, frames):
        avih = struct.pack("<14I", 66666, 0, 0, 0x10, frames, 0, 2 if self.audio else 1, 0,
                           self.width, self.height, 0, 0, 0, 0)
        video = lst(b"strl", chunk(b"strh", stream_header(b"vids", self.handler, 15, 1, frames)) +
                    chunk(b"strf", bitmap_info(self.width, self.height, self.bits,
                                               self.compression)))
        body = chunk(b"avih", avih) + video
        if self.audio:
            fmt, sample = self.audio
            rate = struct.unpack_from("<I", fmt, 4)[0]
            body += lst(b"strl", chunk(b"strh", stream_header(b"auds", b"\0" * 4, rate, 1, 0,
                                                              sample)) + chunk(b"strf", fmt))
        return lst(b"hdrl", body + self.extra_hdrl)

    def first_form(self, items):
        """items: (id, data, key) in file order; "rec " groups are lists of such items."""
        frames = sum(1 for i in flatten(items) if i[0].endswith((b"dc", b"db")))
        hdrl = self.header(self.header_frames if self.header_frames is not None else frames)
        movi_start = 12 + len(hdrl) + 8  # the four characters "movi"
        movi, entries = movi_body(items, movi_start + 4)
        idx1 = b"".join(cid + le32(KEY if key else 0) + le32(pos - movi_start) + le32(len(data))
                        for cid, data, key, pos in entries)
        return riff(b"AVI ", hdrl + lst(b"movi", movi) + chunk(b"idx1", idx1))


def flatten(items):
    for i in items:
        if isinstance(i, list):
            yield from flatten(i)
        else:
            yield i


def movi_body(items, at):
    """The chunks of a "movi" list starting at file position at, and (id, data, key, position)
    of each chunk. A nested list of items becomes a "rec " list."""
    out, entries = b"", []
    for i in items:
        if isinstance(i, list):
            body, inner = movi_body(i, at + len(out) + 12)
            out += lst(b"rec ", body)
            entries += inner
        elif i[0] == b"raw":  # bytes put into the list as they are (a run of zeros)
            out += i[1]
        else:
            cid, data, key = i
            entries.append((cid, data, key, at + len(out)))
            out += chunk(cid, data)
    return out, entries


def std_index(cid, entries, base, chunk_id=b"00dc", count=None, longs=2, kind=1):
    """An "ix##" standard index: entries are (data position, size, key)."""
    count = len(entries) if count is None else count
    head = struct.pack("<HBB", longs, 0, kind) + le32(count) + chunk_id + struct.pack("<Q", base)
    head += le32(0)
    body = b"".join(le32(pos - base) + le32(size | (0 if key else NOT_KEY))
                    for pos, size, key in entries)
    return chunk(cid, head + body)


def segment(items, at, index=None):
    """An "AVIX" form at file position at. index(entries) gives the standard index chunk put at
    the end of its "movi" list (None: no index)."""
    movi, entries = movi_body(items, at + 24)
    if index:
        video = [(pos + 8, len(d), key) for cid, d, key, pos in entries if cid[2:] in (b"dc", b"db")]
        movi += index(video)
    return riff(b"AVIX", lst(b"movi", movi))


def assemble(movie, first, segments):
    """segments: (items, index maker or None) for each "AVIX" form."""
    out = movie.first_form(first)
    for items, index in segments:
        out += segment(items, len(out), index)
    return out


def chunks_of(path, kind=b"dc"):
    """The data and key flags of the video chunks of a seed movie (read through its idx1)."""
    b = open(path, "rb").read()
    movi = b.index(b"movi")
    idx = b.index(b"idx1")
    n = struct.unpack_from("<I", b, idx + 4)[0] // 16
    # Offsets count from the "movi" type when the first one lies before it.
    base = movi if struct.unpack_from("<I", b, idx + 16)[0] < movi else 0
    out = []
    for e in range(n):
        cid, flags, off, size = struct.unpack_from("<4sIII", b, idx + 8 + 16 * e)
        if cid[2:] == kind and size:
            start = base + off + 8
            out.append((b[start:start + size], bool(flags & KEY)))
    return out


def raw_frame(width, height, seed):
    row = (width * 3 + 3) & ~3
    return bytes((seed * 31 + i * 7) & 0xFF for i in range(row * height))


def sound(size, seed):
    return bytes((seed * 13 + i * 5) & 0xFF for i in range(size))


def write(target, name, data):
    path = os.path.join(CORPUS, target, name)
    with open(path, "wb") as f:
        f.write(data)
    print(f"{path}: {len(data)} bytes")


def raw_movie(audio=True):
    pcm = (wave_format(1, 1, 8000, 8), 1) if audio else None
    return Movie(4, 2, 24, le32(0), le32(0), pcm)


def raw_items(frames, audio=True, rec=False):
    items = []
    for f in frames:
        group = [(b"00db", raw_frame(4, 2, f), True)]
        if audio:
            group.append((b"01wb", sound(534, f), True))
        items += [group] if rec else group
    return items


def all_index(entries):
    return std_index(b"ix00", entries, 0, b"00db")


def reader_seeds():
    m = raw_movie()
    # Three segments, the second in "rec " lists, each with a right standard index.
    write("AviReader", "avix-three-segments-rec.avi",
          assemble(m, raw_items([0, 1]), [(raw_items([2, 3], rec=True), all_index),
                                          (raw_items([4, 5]), all_index)]))
    # Indexes that name another stream, claim a huge count, lie past the file or are not
    # indexes of chunks; the chunks themselves are whole.
    shapes = [
        ("avix-ix-wrong-stream.avi", lambda e: std_index(b"ix00", e, 0, b"01wb")),
        ("avix-ix-other-stream-id.avi", lambda e: std_index(b"ix01", e, 0, b"00db")),
        ("avix-ix-huge-count.avi", lambda e: std_index(b"ix00", e, 0, b"00db", 0xFFFFFFFF)),
        ("avix-ix-base-past-file.avi",
         lambda e: std_index(b"ix00", [(p + (1 << 40), s, k) for p, s, k in e], 1 << 40)),
        ("avix-ix-not-chunks.avi", lambda e: std_index(b"IX00", e, 0, b"00db", longs=4, kind=0)),
    ]
    for name, index in shapes:
        write("AviReader", name,
              assemble(m, raw_items([0]), [(raw_items([1, 2]), index),
                                           (raw_items([3], rec=True), index)]))
    # A segment cut off inside a frame: the file ends there.
    whole = assemble(m, raw_items([0, 1]), [(raw_items([2, 3]), all_index),
                                            (raw_items([4, 5]), all_index)])
    write("AviReader", "avix-cut-segment.avi", whole[:len(whole) - 600])
    # A run of zero bytes inside a segment's "movi" list, and a zero-filled tail behind the
    # last segment, as a recorder that died leaves them.
    zeros = [(b"raw", b"\0" * 1024)]
    write("AviReader", "avix-zero-run.avi",
          assemble(m, raw_items([0]), [(raw_items([1]) + zeros + raw_items([2]), None)]))
    write("AviReader", "avix-zero-tail.avi",
          assemble(m, raw_items([0]), [(raw_items([1]), all_index)]) + b"\0" * 2048)
    # A segment holding no "movi" list, then one that does.
    junk = riff(b"AVIX", chunk(b"JUNK", b"\0" * 64))
    first = m.first_form(raw_items([0]))
    write("AviReader", "avix-segment-without-movi.avi",
          first + junk + segment(raw_items([1]), len(first) + len(junk), all_index))
    # Many empty video chunks: dropped frames, eight bytes each.
    empty = [(b"00db", b"", False)] * 200
    write("AviReader", "avix-empty-chunks.avi",
          assemble(raw_movie(False), raw_items([0], audio=False), [(empty, None)]))


def frame_seeds():
    mjpeg = chunks_of(os.path.join(CORPUS, "AviFrame", "mjpeg.avi"))
    mpeg4 = chunks_of(os.path.join(CORPUS, "AviFrame", "mpeg4.avi"))

    def compressed(frames, rec=False):
        items = [(b"00dc", data, key) for data, key in frames]
        return [[i] for i in items] if rec else items

    def dc_index(entries):
        return std_index(b"ix00", entries, 0, b"00dc")

    # Motion JPEG in three forms; the headers count the frames of the first one only.
    m = Movie(16, 16, 24, b"MJPG", b"MJPG")
    m.header_frames = 2
    write("AviFrame", "mjpeg-avix-header-counts-first.avi",
          assemble(m, compressed(mjpeg), [(compressed(mjpeg[::-1], rec=True), dc_index),
                                          (compressed(mjpeg), dc_index)]))
    # MPEG-4 with predicted frames across segments; the last segment has no standard index, so
    # nothing marks its key frames.
    m = Movie(16, 16, 24, b"FMP4", b"FMP4")
    m.header_frames = len(mpeg4)
    write("AviFrame", "mpeg4-avix-last-segment-unindexed.avi",
          assemble(m, compressed(mpeg4), [(compressed(mpeg4), dc_index),
                                          (compressed(mpeg4), None)]))
    # The same cut inside its last segment.
    whole = assemble(m, compressed(mpeg4), [(compressed(mpeg4), dc_index),
                                            (compressed(mpeg4), dc_index)])
    write("AviFrame", "mpeg4-avix-cut.avi", whole[:len(whole) - 150])
    # Raw frames in "rec " lists in every form, the stream handler left 0 as ffmpeg writes it.
    r = raw_movie()
    write("AviFrame", "raw-avix-rec-handler-0.avi",
          assemble(r, raw_items([0, 1], rec=True), [(raw_items([2, 3], rec=True), all_index)]))


def audio_seeds():
    m = raw_movie()
    # PCM across three forms, partly in "rec " lists, the last one cut inside a sound chunk.
    whole = assemble(m, raw_items([0, 1]), [(raw_items([2, 3], rec=True), all_index),
                                            (raw_items([4, 5]), all_index)])
    write("AviAudio", "pcm-avix-segments.avi", whole)
    write("AviAudio", "pcm-avix-cut-in-sound.avi", whole[:len(whole) - 300])
    # A-law (a decoded track) across segments, sound chunks of odd sizes.
    alaw = Movie(4, 2, 24, le32(0), b"DIB ", (wave_format(6, 1, 8000, 8), 1))
    items = lambda frames: [c for f in frames for c in
                            ((b"00db", raw_frame(4, 2, f), True), (b"01wb", sound(533, f), True))]
    write("AviAudio", "alaw-avix-segments.avi",
          assemble(alaw, items([0, 1]), [(items([2, 3]), all_index), (items([4]), None)]))


if __name__ == "__main__":
    reader_seeds()
    frame_seeds()
    audio_seeds()
