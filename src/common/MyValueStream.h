// The tagged value encoding of project files and of everything an object stores for itself:
// each value is a one-byte tag and its little-endian payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MyBase.h"

// Value tags.
enum : uint8_t {
    vaInt8 = 0x02,
    vaInt16 = 0x03,
    vaInt32 = 0x04,
    vaExtended = 0x05,
    vaString = 0x06,
    vaFalse = 0x08,
    vaTrue = 0x09,
    vaLString = 0x0C,
    vaWString = 0x12,
    vaInt64 = 0x13,
    vaUTF8String = 0x14,
};

// Appends tagged values to a byte buffer owned by the caller.
class TValueWriter {
public:
    explicit TValueWriter(std::vector<uint8_t>& out) : Out(out) {}

    void WriteInteger(int32_t value);
    // Non-negative values that may exceed 32 bits: tag 0x13 only when they do.
    void WriteInteger64(int64_t value);
    // Only finite values: a file must never hold a number its own reader refuses.
    void WriteFloat(Extended value);
    void WriteBoolean(bool value);
    // UTF-8 text: ASCII as 0x06/0x0C, anything else as 0x14. Malformed UTF-8 is stored with
    // U+FFFD in place of each bad sequence, so the file always holds well-formed text.
    void WriteString(const std::string& text);
    // A one-character String; bytes 0x80..0xFF are taken as Windows-1252 characters.
    void WriteChar(char c);
    // A file or folder name: names are bytes here, so one that is not UTF-8 is stored as the
    // bytes it has (tag 0x06/0x0C), which is also how such a name reads in its own code page.
    void WriteFileName(const std::string& name);
    // Values already encoded, kept as a file held them.
    void WriteRaw(const std::vector<uint8_t>& bytes);

private:
    std::vector<uint8_t>& Out;
};

// Reads tagged values from a byte range; every fault raises EReadError carrying the offset of the
// value that could not be read. Lengths are checked against the bytes left before anything is
// allocated.
class TValueReader {
public:
    TValueReader(const uint8_t* data, size_t size, std::string fileName = {})
        : Data(data), Size(size), FileName(std::move(fileName)) {}

    // Tags 0x02, 0x03, 0x04 only.
    int32_t ReadInteger();
    // As ReadInteger, and also tag 0x13 (the counterpart of WriteInteger64).
    int64_t ReadInteger64();
    // Tag 0x05, or an integer tag converted; values that are not finite are refused.
    Extended ReadFloat();
    // Reads one tag byte: True exactly for tag 0x09, any other tag reads as False.
    bool ReadBoolean();
    // Always well-formed UTF-8.
    std::string ReadString();
    // A file or folder name exactly as the file holds its bytes; wide text comes back as UTF-8.
    std::string ReadFileName();
    // Steps over one value of any tag of the encoding.
    void SkipValue();
    // A String of exactly one character; characters outside ASCII come back as their
    // Windows-1252 byte, and those without one are refused.
    char ReadChar();
    // The tag of the next value, without consuming it.
    uint8_t NextValue() const;

    size_t GetPosition() const { return Pos; }
    // Moves to an offset this reader has already passed or found through a copy of itself.
    void SetPosition(size_t pos) { Pos = pos < Size ? pos : Size; }
    // The encoded bytes from offset from up to the current position.
    std::vector<uint8_t> BytesSince(size_t from) const;
    bool AtEnd() const { return Pos >= Size; }
    size_t GetRemaining() const { return Pos < Size ? Size - Pos : 0; }
    const std::string& GetFileName() const { return FileName; }

    // Raises EReadError for a value its caller found out of range, naming this reader's file
    // and the offset where that value starts.
    [[noreturn]] void Fail(const std::string& message, size_t offset) const;

private:
    const uint8_t* Take(size_t count, size_t valueStart);
    int64_t ReadIntegerPayload(uint8_t tag, size_t valueStart, bool allow64);
    uint32_t ReadLength32(size_t valueStart);
    // The payload of a String value, its tag already read; wide text converted to UTF-8.
    std::string ReadTextPayload(uint8_t tag, size_t valueStart);

    const uint8_t* Data;
    size_t Size;
    std::string FileName;
    size_t Pos = 0;
};

// The message of an error met while reading, followed by the byte offset it names, if any.
std::string ReadErrorText(const Exception& e);

// The 80-bit extended codec of the float tag (10 bytes, little-endian): 64-bit mantissa with an
// explicit integer bit, then 15 bits of exponent biased by 16383 and the sign bit. Zeros keep
// their sign; denormals, infinities and NaNs are encoded as the x87 unit holds them.
void ExtendedToBytes(Extended value, uint8_t out[10]);
Extended BytesToExtended(const uint8_t in[10]);

// Text helpers of the string tags; results are always well-formed UTF-8.
bool IsValidUtf8(const char* s, size_t n);
// Replaces every malformed sequence with U+FFFD.
std::string SanitizeUtf8(const char* s, size_t n);
std::string Windows1252ToUtf8(const char* s, size_t n);
// Code units of UTF-16LE; unpaired surrogates become U+FFFD.
std::string Utf16LEToUtf8(const uint8_t* s, size_t units);
