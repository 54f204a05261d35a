// Audio codecs for export and for decoding compressed movie sound: the tree of installed codec
// drivers with their format tags and PCM candidates, one conversion stream that carries the bytes
// a codec left unconsumed into the next call, and the lists and names the dialogs show.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IUiServices.h"
#include "MyAcmLayer.h"
#include "MyCommonParams.h"

class TAudCodec;

// One PCM format a codec might encode from, and what the codec suggested for it.
class TAudCodecDetail {
public:
    bool Usable = false; // the codec suggested an encoded format for PcmFormat
    TAudioFormat PcmFormat{};
    TAudioFormat SuggestedFormat{};
    std::string Label; // "  44100, 16 bits Stereo"
};

// One format tag of a driver, with its twelve PCM candidates.
class TAudCodecKind {
public:
    explicit TAudCodecKind(TAudCodec* owner);

    TAudCodec* Owner;
    std::string TagName;
    uint32_t FormatTag = 0;
    uint32_t HeaderSize = 0; // filled by ProbeEncoders
    TAcmFormatTagDetails TagDetails;
    bool CanEncode = false;
    // Rates 48000, 44100, 22050 Hz; within each stereo then mono; within each 16 then 8 bits.
    std::vector<std::unique_ptr<TAudCodecDetail>> Details;
};

// One installed codec driver.
class TAudCodec {
public:
    std::string Name; // the driver's long name
    TAcmDriverDetails Details;
    TAcmDriverId DriverId = 0;
    std::vector<std::unique_ptr<TAudCodecKind>> Kinds;
};

// A line of the export codec list: the text shown and the format tag it stands for.
struct TCodecListItem {
    std::string Text;
    uint32_t Tag = 0;
};

class TAudioCodec {
public:
    // Ui shows the messages named below; it may be null, then nothing is shown.
    explicit TAudioCodec(IUiServices* ui = nullptr);
    ~TAudioCodec();
    TAudioCodec(const TAudioCodec&) = delete;
    TAudioCodec& operator=(const TAudioCodec&) = delete;

    // Rebuilds the driver tree from the installed drivers.
    void EnumerateDrivers();

    // Opens the stream Src -> Dst (closing an open one and dropping its carry-over). A source
    // tag no driver offers shows "Debug: No decoder available for audio export!". PCM going to
    // a codec at another rate or channel count is converted to what the codec takes first.
    bool OpenStream(const TAudioFormat& src, const TAudioFormat& dst);
    void CloseStream();
    bool IsOpen() const { return Opened; }

    // One block through the open stream. Dst is resized to the bytes made (its storage is the
    // caller's and is reused); bytes the codec did not consume are put in front of the next
    // block. False when no stream is open or the codec fails.
    bool Convert(const uint8_t* src, uint32_t srcSize, std::vector<uint8_t>& dst);
    // As Convert; with Last the codec is flushed and delivers everything it still holds.
    bool Encode(bool last, const uint8_t* src, uint32_t srcSize, std::vector<uint8_t>& dst);

    // The encoded format the codec of Tag makes from SrcPcm: at SrcPcm's rate and channels
    // where the codec takes them, else at the nearest rate and channel count it does take
    // (OpenStream converts to it).
    bool SuggestFormat(uint32_t tag, const TAudioFormat& srcPcm, TAudioFormat& dst);
    // True when a stream Src -> Dst can be opened; the instance's own stream is left alone.
    bool TestOpen(const TAudioFormat& src, const TAudioFormat& dst);
    // A PCM format the codec of Tag decodes Src into: Dst itself when possible, else the first
    // candidate that works, else the source's own rate and channels at 16 bits.
    bool FindDecoder(uint32_t tag, const TAudioFormat& src, TAudioFormat& dst);

    // Appends a report of every driver, its tags and the PCM formats each encodes from; sets the
    // can-encode flags. False when there are no drivers.
    bool ProbeEncoders(std::vector<std::string>& lines);
    // "Uncompressed PCM" (tag 1) and every tag some driver can encode, once per driver.
    void FillExportCodecList(std::vector<TCodecListItem>& strings);
    // Appends the PCM formats the codec of Tag encodes from (never 48000 Hz ones).
    bool FillPCMSourceList(uint32_t tag, std::vector<std::string>& strings);
    // The tag's name (the last driver offering it decides); empty when none does.
    void GetCodecName(uint32_t tag, std::string& name);
    // How many tag entries of all drivers carry Format's tag.
    int32_t CountTags(const TAudioFormat& format) const;

    const std::vector<std::unique_ptr<TAudCodec>>& GetDrivers() const { return Drivers; }
    const TAudioFormat& GetSourceFormat() const { return SourceFormat; }
    const TAudioFormat& GetDestFormat() const { return DestFormat; }
    uint32_t GetCarryOverSize() const { return CarrySize; }

private:
    bool RunStream(const uint8_t* src, uint32_t srcSize, uint32_t flags, std::vector<uint8_t>& dst);
    // One conversion through Stream with everything it made in Dst (the caller's storage,
    // reused); Used gets the source bytes taken.
    bool Collect(TAcmStream& stream, const uint8_t* src, uint32_t srcSize, uint32_t flags,
                 std::vector<uint8_t>& dst, uint32_t& used);
    // The suggestion for exactly srcPcm's rate and channels.
    bool SuggestExact(uint32_t tag, const TAudioFormat& srcPcm, TAudioFormat& dst);
    // Takes a block through the rate and channel conversion in front of the codec, when there
    // is one; In and Size then name its output.
    bool PreConvert(const uint8_t*& in, uint32_t& size, uint32_t flags);

    IUiServices* Ui;
    TAcmStreamPtr Stream;
    // PCM to PCM in front of a codec that needs another rate or channel count, or none.
    TAcmStreamPtr PreStream;
    std::vector<uint8_t> PreBuffer;
    bool Opened = false;
    TAudioFormat SourceFormat{};
    TAudioFormat DestFormat{};
    std::vector<uint8_t> WorkBuffer;
    uint32_t WorkSize = 0;
    std::vector<uint8_t> CarryBuffer;
    uint32_t CarrySize = 0;
    std::vector<std::unique_ptr<TAudCodec>> Drivers;
};
