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
    void WriteFloat(Extended value);
    void WriteBoolean(bool value);
    // UTF-8 text: ASCII as 0x06/0x0C, anything else as 0x14.
    void WriteString(const std::string& text);
    void WriteChar(char c);

private:
    std::vector<uint8_t>& Out;
};

// Reads tagged values from a byte range; every fault raises EReadError with the offset.
class TValueReader {
public:
    TValueReader(const uint8_t* data, size_t size) : Data(data), Size(size) {}

    int32_t ReadInteger();
    Extended ReadFloat();
    bool ReadBoolean();
    std::string ReadString();
    char ReadChar();

    size_t GetPosition() const { return Pos; }
    bool AtEnd() const { return Pos >= Size; }
    size_t GetRemaining() const { return Pos < Size ? Size - Pos : 0; }

private:
    const uint8_t* Data;
    size_t Size;
    size_t Pos = 0;
};

// The 80-bit extended codec of the float tag (10 bytes, little-endian).
void ExtendedToBytes(Extended value, uint8_t out[10]);
Extended BytesToExtended(const uint8_t in[10]);
