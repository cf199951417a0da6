#pragma once
// Exceptions of the platform layer. Everything the system raises derives from EPlatformException,
// so a caller that reports failures can catch one type.
#include <stdexcept>
#include <string>

class EPlatformException : public std::runtime_error {
public:
    explicit EPlatformException(const std::string& message) : std::runtime_error(message) {}
};

// A file that cannot be opened or created; carries the path and the system's reason.
class EFOpenError : public EPlatformException {
public:
    EFOpenError(std::string path, std::string reason)
        : EPlatformException("Cannot open file \"" + path + "\": " + reason), Path(std::move(path)),
          Reason(std::move(reason)) {}
    std::string Path;
    std::string Reason;
};

// A read that could not deliver the requested bytes (ReadBuffer) or a failed write (WriteBuffer).
class EReadError : public EPlatformException {
public:
    using EPlatformException::EPlatformException;
};
class EWriteError : public EPlatformException {
public:
    using EPlatformException::EPlatformException;
};

// An allocation refused before it was attempted: a size that overflows or cannot be held.
class EOutOfMemory : public EPlatformException {
public:
    EOutOfMemory() : EPlatformException("Out of memory") {}
    using EPlatformException::EPlatformException;
};
