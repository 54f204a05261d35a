// Writes WAV files for the sound export and for extracting a movie's sound track: a RIFF WAVE
// header whose sizes are completed when the file is closed, or the sample bytes alone.
#pragma once

#include <cstdint>
#include <string>

#include "IUiServices.h"
#include "MyCommonParams.h"
#include "MyRiffIO.h"

class TWavWriter {
public:
    explicit TWavWriter(IUiServices& ui);
    // An open file is completed and closed.
    ~TWavWriter();
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;

    // Starts a file: asks before writing PCM without a header and before replacing a file, which
    // goes to the trash. False when the user declines or the file cannot be written.
    // Raises EInvalidOperation when the previous file was not closed.
    bool Initiate(bool raw, const std::string& fileName, const TAudioFormat& format);
    // Appends sample bytes. False when no file is open, the write fell short, or the data would
    // outgrow the 32-bit sizes of the header.
    bool WriteData(const void* buffer, int64_t length);
    // Completes the header (sizes, and a pad byte after odd-sized data) and closes the file.
    // False when no file is open or finishing it failed; ErrorText then names a record whose
    // size did not check out.
    bool CloseFile();

    bool IsOpen() const { return File.IsOpen(); }
    const std::string& ErrorText() const { return File.ErrorText(); }

private:
    IUiServices& Ui;
    TRiffFile File;
    TRiffChunk RiffChunk; // the WAVE form, completed on closing
    TRiffChunk DataChunk; // the samples, completed on closing
    bool Raw = false;
};
