#pragma once
// Raised when a channel's ring of units or its assembly buffer is full. The
// job that meets it ends in order: writer closed, message shown, job failed.

#include <stdexcept>
#include <string>

class CMpegChannelException : public std::runtime_error {
public:
    explicit CMpegChannelException(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};
