// The root of every add-on object: its instance identifier, the frame count of the node it
// serves, what kind of outside source it shows and its own stored record.
#pragma once

#include <cstdint>
#include <string>

class TValueWriter;
class TValueReader;

// The outside source an effect shows; the filter and overlay nodes report it as theirs.
enum TExternalKind : uint8_t { ekNone = 0, ekPicture = 1, ekText = 2, ekMovie = 3 };

class TCustomExtern {
public:
    TCustomExtern();
    virtual ~TCustomExtern() = default;
    TCustomExtern(const TCustomExtern&) = delete;
    TCustomExtern& operator=(const TCustomExtern&) = delete;

    // Identifier of this very object (a fresh GUID text, or the one read back from a file);
    // the type of add-on is named by the bridge, not here.
    std::string ID;
    int32_t FrameCount = 0;
    uint8_t ExternalKind = ekNone;
    // The effect draws a picture of its own, so its node's curve set says so.
    bool UsesPicture = false;

    virtual void SetFrameCount(int32_t count) { FrameCount = count; }
    virtual void WriteData(TValueWriter& writer) const;
    virtual void ReadData(TValueReader& reader);
};
