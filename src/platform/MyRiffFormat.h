// The numbers of the RIFF file formats the program reads and writes: chunk ids and form types of
// AVI and WAV files, the AVI header and index flags, wave format tags and sizes, and the bitmap
// compression codes of AVI video formats and BMP files. Readers, writers and codec layers all
// take them from here, so a reader and the writer it checks cannot drift apart.
#pragma once

#include <cstdint>

// Four-character code as stored in the file: first character in the lowest byte.
constexpr uint32_t RiffId(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) |
           (uint32_t(uint8_t(s[2])) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

// ---- Chunk ids and form types ------------------------------------------------------------------

constexpr uint32_t RIFF_ID_RIFF = RiffId("RIFF"); // the file's outer chunk, with a form type
constexpr uint32_t RIFF_ID_LIST = RiffId("LIST"); // a chunk of chunks, with a list type
constexpr uint32_t RIFF_ID_JUNK = RiffId("JUNK"); // filler that readers pass over

constexpr uint32_t RIFF_ID_WAVE = RiffId("WAVE"); // form type of WAV files
constexpr uint32_t RIFF_ID_FMT = RiffId("fmt ");  // the wave format
constexpr uint32_t RIFF_ID_DATA = RiffId("data"); // the samples

constexpr uint32_t RIFF_ID_AVI = RiffId("AVI ");  // form type of AVI files
constexpr uint32_t RIFF_ID_HDRL = RiffId("hdrl"); // list type of the headers
constexpr uint32_t RIFF_ID_AVIH = RiffId("avih"); // the main header
constexpr uint32_t RIFF_ID_STRL = RiffId("strl"); // list type of one stream's headers
constexpr uint32_t RIFF_ID_STRH = RiffId("strh"); // a stream header
constexpr uint32_t RIFF_ID_STRF = RiffId("strf"); // a stream format
constexpr uint32_t RIFF_ID_ODML = RiffId("odml"); // list type of the extended header
constexpr uint32_t RIFF_ID_DMLH = RiffId("dmlh"); // the extended header: total frames
constexpr uint32_t RIFF_ID_MOVI = RiffId("movi"); // list type of the movie data
constexpr uint32_t RIFF_ID_IDX1 = RiffId("idx1"); // the index behind the movie data
constexpr uint32_t RIFF_ID_AVIX = RiffId("AVIX"); // form type of the segments of AVI 2.0 files
constexpr uint32_t RIFF_ID_REC = RiffId("rec ");  // list type of chunks read together

// Stream types ("strh" fccType) and the handler of uncompressed video.
constexpr uint32_t RIFF_ID_VIDS = RiffId("vids");
constexpr uint32_t RIFF_ID_AUDS = RiffId("auds");
constexpr uint32_t RIFF_ID_DIB = RiffId("DIB ");

// ---- AVI flags ---------------------------------------------------------------------------------

constexpr uint32_t AVIF_HASINDEX = 0x10;       // main header: the file has an "idx1" index
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100; // main header: sound and pictures interleave
constexpr uint32_t AVIIF_KEYFRAME = 0x10;      // "idx1" entry: the frame decodes on its own

// ---- Wave formats ------------------------------------------------------------------------------

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;
constexpr uint16_t WAVE_FORMAT_WMAUDIO2 = 0x161;
// Bytes of the PCM wave format (tag to bits per sample), and of the general one, which adds the
// 16-bit count of extra bytes that follow it.
constexpr uint32_t WAVE_PCM_FORMAT_SIZE = 16;
constexpr uint32_t WAVE_FORMAT_EX_SIZE = 18;

// ---- Bitmap compression ------------------------------------------------------------------------

constexpr uint32_t BI_RGB = 0;       // plain pixels
constexpr uint32_t BI_RLE8 = 1;      // run-length coded 8-bit
constexpr uint32_t BI_RLE4 = 2;      // run-length coded 4-bit
constexpr uint32_t BI_BITFIELDS = 3; // 16/32-bit with red, green and blue masks
