#pragma once
// A file of somebody else's, opened for reading with care: opening never blocks (a FIFO that
// nobody writes, a device), only a regular file is accepted (symbolic links are followed), and
// what is wrong is said plainly, naming the file. Reads are the caller's to bound.
#include <cstddef>
#include <string>

namespace velmar::files {

class RegularFile {
public:
    explicit RegularFile(const std::string& path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Missing, as opposed to there but unusable (then error() says why).
    bool missing() const { return missing_; }
    // Why the file is not open, or why the last read failed; "" otherwise.
    const std::string& error() const { return error_; }

    // Up to `size` bytes from the current position into `buffer`: the number read, 0 at the end
    // of the file, -1 when reading failed (error() says why).
    long read(char* buffer, std::size_t size);

private:
    std::string path_;
    int fd_ = -1;
    bool missing_ = false;
    std::string error_;
};

} // namespace velmar::files
