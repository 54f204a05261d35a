// Exception classes of the program. Every error the engine raises derives from Exception and
// carries its message text exactly as the user or a log should see it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& GetMessage() const noexcept { return Message; }

protected:
    std::string Message;
};

// Integer arithmetic on sizes or outside data left the range of its type.
class EIntOverflow : public Exception {
public:
    EIntOverflow() : Exception("Arithmetic overflow") {}
    explicit EIntOverflow(std::string message) : Exception(std::move(message)) {}
};

// A text could not be converted to a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A call on an object in a state that does not allow it (an internal fault).
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// A file or stream holds data that cannot be read; carries where the fault was found.
class EReadError : public Exception {
public:
    EReadError(std::string message, std::string fileName = {}, int64_t offset = -1)
        : Exception(std::move(message)), FileName(std::move(fileName)), Offset(offset) {}
    std::string FileName;
    int64_t Offset;
};

// Writing a file or stream failed.
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

// A bitmap or picture could not be used (bad handle, unsupported pixel format).
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list's bounds; carries the index and the count.
class EListError : public Exception {
public:
    EListError(std::string message, int64_t index, int64_t count)
        : Exception(std::move(message)), Index(index), Count(count) {}
    int64_t Index;
    int64_t Count;
};
