// Writes WAV files for the sound export and for extracting a movie's sound track: a RIFF WAVE
// header whose sizes are completed when the file is closed, or the sample bytes alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "IUiServices.h"
#include "MyCommonParams.h"
#include "MyFileReplace.h"
#include "MyRiffIO.h"

class TWavWriter {
public:
    explicit TWavWriter(IUiServices& ui);
    // An open file is completed and closed.
    ~TWavWriter();
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;

    // Starts a file: asks before writing PCM without a header and before replacing a file (which
    // goes to the trash once the new one is complete; until then the new one has a temporary name
    // beside it). False when the user declines, the old file is in use or the file cannot be
    // written.
    // Raises EInvalidOperation when the previous file was not closed.
    bool Initiate(bool raw, const std::string& fileName, const TAudioFormat& format);
    // Appends sample bytes. False when no file is open, the write fell short, or the data would
    // outgrow the 32-bit sizes of the header.
    bool WriteData(const void* buffer, int64_t length);
    // Completes the header (sizes, and a pad byte after odd-sized data), closes the file and puts
    // it in place of the old one. False when no file is open, a write failed or finishing it
    // failed; the old file then stays as it was and ErrorText says why.
    bool CloseFile();
    // Ends the file without putting it in place: the old file stays as it was.
    void Abandon();

    bool IsOpen() const { return File.IsOpen(); }
    // The first failure with its offset and the system's reason ("writing at offset 4096: No
    // space left on device"), or a record whose size did not check out; empty when none.
    const std::string& ErrorText() const { return Failure.empty() ? File.ErrorText() : Failure; }

private:
    IUiServices& Ui;
    TRiffFile File;
    TRiffChunk RiffChunk; // the WAVE form, completed on closing
    TRiffChunk DataChunk; // the samples, completed on closing
    bool Raw = false;
    std::unique_ptr<TFileReplacement> Replacement;
    std::string Failure;

    bool Fail(const char* what);
};
