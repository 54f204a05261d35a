// The read-only view of a movie that effects showing another movie work through, so that an
// add-on never holds a reader of its own. Interfaces are lent by the project root through the
// add-on bridge and given back the same way.
#pragma once

#include <cstdint>
#include <string>

#include "MyBase.h"

class TBitmap;

class TMovieInterface {
public:
    TMovieInterface() = default;
    virtual ~TMovieInterface();
    TMovieInterface(const TMovieInterface&) = delete;
    TMovieInterface& operator=(const TMovieInterface&) = delete;

    // A movie is open and parsed.
    virtual bool IsOpen() const = 0;
    virtual Extended GetFrameRate() const = 0;
    virtual int32_t GetFrameCount() const = 0;
    // The frame decoded last; -1 when none.
    virtual int32_t GetCurrentFrame() const = 0;
    // The open movie's file name, cut to 255 bytes.
    virtual std::string GetFileName() const = 0;
    virtual int32_t GetWidth() const = 0;
    virtual int32_t GetHeight() const = 0;
    // Seconds.
    virtual Extended GetDuration() const = 0;

    virtual bool Open(const std::string& fileName) = 0;
    virtual void Close() = 0;
    // Draws the frame shown at time seconds over the whole of bitmap, which keeps its size. fps
    // is the caller's project rate; a movie that knows its own rate need not use it.
    virtual bool GetFrameAt(TBitmap& bitmap, Extended time, Extended fps) = 0;
};
