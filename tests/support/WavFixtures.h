// Builds WAV files for tests: a well-formed PCM file with a given rate, channels, bits and
// samples, and the same file with chosen damage, for the readers of sound files to be tried on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWavFixture {
    uint32_t Rate = 22050;
    uint16_t Channels = 1;
    uint16_t Bits = 16;
    std::vector<uint8_t> Samples; // the data chunk's bytes

    // Variations and damage; the defaults make a clean PCM file.
    uint16_t FormatTag = 1;
    std::vector<uint8_t> FormatExtra; // non-PCM: written after the extra size (its length)
    int32_t BlockAlignOverride = -1;  // -1: channels x bits / 8
    int64_t FmtSizeOverride = -1;     // stored 'fmt ' size instead of the true one
    int64_t DataSizeOverride = -1;    // stored 'data' size instead of the true one
    int64_t RiffSizeOverride = -1;    // stored RIFF size instead of the true one
    std::string FormType = "WAVE";
    bool OmitFmt = false;
    bool OmitData = false;
    bool JunkBeforeFmt = false; // an odd-sized (padded) chunk between the form type and 'fmt '
    bool ListAfterData = false; // a LIST chunk after the samples
    int64_t TruncateTo = -1;    // cut the finished file to this many bytes
};

std::vector<uint8_t> MakeWavBytes(const TWavFixture& fixture);
// Writes the bytes to a file; fails the running test when that is not possible.
void WriteWavFile(const std::string& fileName, const TWavFixture& fixture);
void WriteBytesFile(const std::string& fileName, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytesFile(const std::string& fileName);

// Distinct, reproducible sample bytes: frame i, channel c holds a value that differs from its
// neighbours (16-bit: little-endian 100 * i + c, 8-bit: (3 * i + c) mod 256).
std::vector<uint8_t> MakeRampSamples(int frames, int channels, int bits);

// 16-bit sine tones at the given rate: 440 Hz on the left channel, 1 kHz on the right, at about
// two thirds of full scale, so every sample differs from its neighbours.
std::vector<uint8_t> MakeSineSamples(int frames, int channels, uint32_t rate);
