// Opening a volume source (an image file or a block device) for reading. Anything else is
// refused before it is opened, so that a named pipe never leaves the caller waiting for a
// writer.
#pragma once

#include <string>

// The error number OpenSource gives a path that is neither a regular file nor a block device
// and for which the system has no error number of its own (a named pipe, a socket).
inline constexpr int kErrNotImageOrDevice = -1;
// The error number of an Expert Witness image whose segment files cannot be opened or read.
inline constexpr int kErrBadEwfImage = -2;

// Opens path read-only and close-on-exec. The path is looked at first: a folder is refused
// with EISDIR, a character device with ENOTBLK, anything else that is neither a regular file
// nor a block device with kErrNotImageOrDevice. The open itself does not block, and the opened
// descriptor must still be a regular file or a block device (the path may have changed in
// between). Returns the descriptor, or -1 with *errorNumber set (an errno value or
// kErrNotImageOrDevice).
[[nodiscard]] int OpenSource(const std::string& path, int* errorNumber);

// What went wrong, in words, for an error number of OpenSource (or kErrBadEwfImage).
[[nodiscard]] std::string SourceErrorText(int errorNumber);
