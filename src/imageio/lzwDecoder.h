#pragma once
// TIFF LZW decoder (TIFF 6.0 codes, and the old-style codes of early writers, read least significant
// bit first). One decoder serves one strip at a time; a thread decoding strips owns its decoder.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class lzwDecoder {
public:
    /// Allocates the decoder and its code table; null (with a debug-log line) when memory is short.
    static std::unique_ptr<lzwDecoder> setup();

    /// Starts a strip of `length` bytes: picks the code style from its first bytes and resets the table.
    /// The strip bytes must stay valid while decode() is called for it.
    void preDecode(const uint8_t* strip, size_t length);

    /// Decodes the next `count` bytes of the strip into `out`; false (with a debug-log line) when the
    /// strip is corrupt or ends early. Bytes not decoded are left as they were.
    bool decode(uint8_t* out, size_t count);

    /// True when the current strip uses old-style codes.
    bool oldStyle() const { return oldStyle_; }
    /// Why the last decode() failed ("damaged LZW data: loop in the code table", "the LZW data end 12
    /// bytes short of 3000"); empty after a successful one.
    const std::string& problem() const { return problem_; }

private:
    lzwDecoder() = default;

    struct codeEntry {
        int32_t prefix;  ///< entry of the prefix string, -1 for none
        uint16_t length; ///< string length, 0 for an unused entry
        uint8_t last;    ///< last byte of the string
        uint8_t first;   ///< first byte of the string
    };
    static constexpr int kTableSize = 5119;
    static constexpr int kClear = 256;
    static constexpr int kEndOfInformation = 257;
    static constexpr int kFirstFree = 258;
    static constexpr int kMaxBits = 12;

    int nextCode();
    void resetTable();
    // Writes bytes [skipTail … length) counted from the end of the string of `entry` backwards into
    // out[count-1] … out[0]; false when the prefix chain does not match the length.
    bool writeString(int entry, size_t skipTail, uint8_t* out, size_t count) const;

    std::unique_ptr<codeEntry[]> table_;
    const uint8_t* input_ = nullptr;
    size_t inputLength_ = 0;
    size_t inputPos_ = 0;
    bool oldStyle_ = false;
    int bits_ = 9;
    uint32_t mask_ = 511;
    uint64_t bitBuffer_ = 0;
    int bitsHeld_ = 0;
    uint64_t bitsLeft_ = 0;
    int freeEntry_ = kFirstFree;
    int previous_ = -1;
    int growAt_ = 510;
    int restartEntry_ = -1;  ///< string that did not fit the last output
    size_t restartLeft_ = 0; ///< its bytes still to be written
    bool finished_ = false;  ///< end of information (or an error) reached
    std::string problem_;
};
