// Reads a media file back with libavformat and libavcodec for tests of our writers: the
// container's streams, codecs, sizes, packets with their key flags and times, and (on request)
// every decoded picture as 24-bit B, G, R rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TProbedStream {
    bool Video = false;
    int CodecId = 0;
    std::string CodecName;
    uint32_t CodecTag = 0;
    int Width = 0;
    int Height = 0;
    double FrameRate = 0; // pictures per second as the reader finds them from the times
    int SampleRate = 0;
    int Channels = 0;
    int64_t BitRate = 0;
    std::vector<bool> KeyFlags;      // one per packet, in file order
    std::vector<double> PacketTimes; // seconds, one per packet
    double Duration = 0;             // seconds; 0 when the container does not say
    int DecodedFrames = 0;           // pictures, or sound frames
    int64_t DecodedSamples = 0;
    int DecodeErrors = 0;
    int DtsNotIncreasing = 0; // packets whose decoding time is not above the one before
    std::vector<std::vector<uint8_t>> Pictures; // B, G, R rows, width * 3 bytes each
};

struct TProbedFile {
    bool Opened = false;
    std::string FormatName;
    double Duration = 0; // seconds
    std::vector<TProbedStream> Streams;
    std::vector<std::string> Warnings; // what libavformat and libavcodec reported while reading
    const TProbedStream* FirstOf(bool video) const;
};

TProbedFile ProbeMedia(const std::string& fileName, bool decode);
