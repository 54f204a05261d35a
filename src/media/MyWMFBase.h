// The 27 Windows Media 8 system profiles an export can be written with: their names,
// descriptions and GUIDs, and our own stream parameters for each (one video stream and one audio
// stream at most), with the operations the output dialog and the Windows Media writer use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MyBase.h"
#include "MyCommonParams.h"

// One row of the profile table.
struct TWMFProf {
    int32_t Index; // position + 1
    char Kind;     // 'V' video profile, 'A' audio only
    const char* Name;
    const char* Description;
    const char* Guid; // the system profile's GUID, in braces
};

// What a profile's streams carry. A multiple-bit-rate profile is written as its highest stream,
// a quality-based one as one stream at a rate that matches its quality.
struct TWMFParams {
    int32_t VideoBitRate; // bits per second; 0 = no video stream
    int32_t Width;
    int32_t Height;
    Extended FrameRate;
    int32_t AudioRate; // samples per second; 0 = no audio stream
    int32_t AudioChannels;
    int32_t AudioBitRate; // bits per second
};

inline constexpr int32_t WMFProfileCount = 27;
// The project's default profile and the answer for a GUID that is not in the table.
inline constexpr int32_t WMFDefaultProfile = 14;

extern const TWMFProf WMFProfiles[WMFProfileCount];
extern const TWMFParams WMFParams[WMFProfileCount];

// What a profile's inputs expect, and what an export hands the writer.
struct TWMFInfo {
    std::string Name;            // the output file name when handed to Open
    TWaveFormatEx AudioFormat{}; // the sound handed to the writer
    int32_t Width = 0;
    int32_t Height = 0;
    Extended FrameRate = 0;
    uint32_t VideoBitRate = 0; // bits per second >> 13
    uint32_t AudioBitRate = 0; // bytes per second * 8 >> 10
    std::string PixelText;     // "24bit"
    std::string Profile;       // the profile GUID in braces
};

class TWMFBase {
public:
    virtual ~TWMFBase() = default;

    // The 27 names in table order.
    static void FillProfileNames(std::vector<std::string>& strings);
    // Table position of a GUID (any letter case); WMFDefaultProfile when it is not there.
    static int32_t IndexOfProfile(const std::string& guid);
    // Raise Exception "TWMFBase.GetProfileByIdx: Error Idx is N" outside 0..26.
    static void GetProfileByIdx(int32_t index, std::string& guid);
    static void GetProfileDescription(int32_t index, std::string& text);
    static const TWMFParams& GetProfileParams(int32_t index);
    // Fills what the profile's inputs expect: 16-bit PCM at the audio stream's rate and channels
    // with the encoded rate, and 24-bit frames of the video stream's size, rate and bit rate.
    // Every such field is cleared first; the name and profile stay.
    static void GetProfileInfo(const std::string& guid, TWMFInfo& info);
    // The profile summary of the output dialog, one line per entry.
    static void DescribeProfile(const std::string& guid, std::vector<std::string>& lines);
    // "wma" for an audio-only profile, else "wmv".
    static void GetProfileExtension(const std::string& guid, std::string& ext);
    // True when the libraries can write Windows Media files.
    static bool IsWMVCoreAvailable();
};
