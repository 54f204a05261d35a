// A scripted compressor list for tests of the compressor choice and the movie writer: entries
// with any handler and description, compressors that fail to open or to compress, and counts of
// what was called.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MyVideoCompressLayer.h"

struct TFakeCompressorSpec {
    std::string Handler; // four characters
    std::string Name;
    std::string Description;
    bool OpensForQuery = true;
    bool OpensForCompress = true;
    bool Begins = true;
    std::string About = "About the fake";
    // Compress returns this code from frame number FailAt on (counted from 0); -1 = never.
    int32_t FailAt = -1;
    int32_t FailCode = -5;
    // Every frame a key frame coded on its own (no counts kept, so encoders may run on several
    // threads); it fails when the first byte of the frame (blue of the top-left pixel) is
    // FailOnBlue.
    bool Independent = false;
    int FailOnBlue = -1;
};

class TFakeVideoCompressors : public IVideoCompressorList {
public:
    std::vector<TFakeCompressorSpec> Specs;
    // Handlers opened, with "q:" or "c:" in front for the mode.
    std::vector<std::string> Opened;
    int Begins = 0;
    int Ends = 0;
    int Compressed = 0;
    std::vector<bool> KeyRequests;

    bool GetInfo(uint32_t type, int32_t index, TVideoCompressorInfo& info) override;
    std::unique_ptr<IVideoCompressor> Open(uint32_t type, uint32_t handler,
                                           TVideoCompressorMode mode) override;
};
