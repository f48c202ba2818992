#pragma once
#include <cstddef>
#include <string>

namespace diagbridge::platform {

enum class FileReadResult {
    kOk,
    kCannotOpen,
    kNotRegular,  // a FIFO, device, socket or directory: never read, it could block or not end
    kTooLarge,
};

// Reads the whole of the regular file at path into content, at most maxBytes; never blocks
// on a FIFO or device (the type is checked on the opened file before any read).
FileReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& content);

}  // namespace diagbridge::platform
