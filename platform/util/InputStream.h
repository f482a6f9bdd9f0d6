// Byte streams read in pieces, for digests over data that need not fit in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat::util {

class InputStream {
public:
    virtual ~InputStream() = default;
    // False when the stream cannot be opened.
    virtual bool open() = 0;
    // Up to `size` bytes into `buffer`: how many were read, 0 at the end, -1 on an error.
    virtual long read(std::uint8_t* buffer, std::size_t size) = 0;
    virtual void close() = 0;
};

// A file by path, or a descriptor the caller keeps (standard input), which is then neither
// opened nor closed here.
class FileInputStream final : public InputStream {
public:
    explicit FileInputStream(std::string path) : m_path(std::move(path)) {}
    explicit FileInputStream(int descriptor) : m_fd(descriptor), m_borrowed(true) {}
    ~FileInputStream() override { close(); }
    FileInputStream(const FileInputStream&) = delete;
    FileInputStream& operator=(const FileInputStream&) = delete;

    bool open() override;
    long read(std::uint8_t* buffer, std::size_t size) override;
    void close() override;

private:
    std::string m_path;
    int m_fd = -1;
    bool m_borrowed = false;
};

}  // namespace plat::util
