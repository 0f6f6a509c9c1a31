#include "imageio/lzwDecoder.h"

#include "base/debugLog.h"

#include <algorithm>
#include <new>

std::unique_ptr<lzwDecoder> lzwDecoder::setup() {
    std::unique_ptr<lzwDecoder> decoder(new (std::nothrow) lzwDecoder());
    if (!decoder) {
        debugLog("No space for LZW state block.\n");
        return nullptr;
    }
    decoder->table_.reset(new (std::nothrow) codeEntry[kTableSize]);
    if (!decoder->table_) {
        debugLog("No space for LZW code table.\n");
        return nullptr;
    }
    for (int code = 0; code < kTableSize; ++code)
        decoder->table_[code] = {-1, uint16_t(code < 256 ? 1 : 0), uint8_t(code), uint8_t(code)};
    return decoder;
}

void lzwDecoder::resetTable() {
    bits_ = 9;
    mask_ = 511;
    freeEntry_ = kFirstFree;
    // New-style writers switch width one code early.
    growAt_ = oldStyle_ ? 511 : 510;
    for (int code = kFirstFree; code < kTableSize; ++code)
        table_[code] = {-1, 0, 0, 0};
}

void lzwDecoder::preDecode(const uint8_t* strip, size_t length) {
    input_ = strip;
    inputLength_ = length;
    inputPos_ = 0;
    oldStyle_ = length >= 2 && strip[0] == 0 && (strip[1] & 1);
    if (oldStyle_) debugLog("Old-style LZW codes, convert file\n");
    bitBuffer_ = 0;
    bitsHeld_ = 0;
    bitsLeft_ = uint64_t(length) * 8;
    previous_ = -1;
    restartEntry_ = -1;
    restartLeft_ = 0;
    finished_ = false;
    resetTable();
}

int lzwDecoder::nextCode() {
    if (bitsLeft_ < uint64_t(bits_)) return -1;
    while (bitsHeld_ < bits_) {
        if (inputPos_ >= inputLength_) return -1;
        if (oldStyle_)
            bitBuffer_ |= uint64_t(input_[inputPos_++]) << bitsHeld_;
        else
            bitBuffer_ = bitBuffer_ << 8 | input_[inputPos_++];
        bitsHeld_ += 8;
    }
    int code;
    if (oldStyle_) {
        code = int(bitBuffer_ & mask_);
        bitBuffer_ >>= bits_;
    } else {
        code = int((bitBuffer_ >> (bitsHeld_ - bits_)) & mask_);
    }
    bitsHeld_ -= bits_;
    bitsLeft_ -= uint64_t(bits_);
    return code;
}

bool lzwDecoder::writeString(int entry, size_t skipTail, uint8_t* out, size_t count) const {
    for (size_t i = 0; i < skipTail; ++i) {
        if (entry < 0) return false;
        entry = table_[entry].prefix;
    }
    for (size_t i = count; i-- > 0;) {
        if (entry < 0) return false;
        out[i] = table_[entry].last;
        entry = table_[entry].prefix;
    }
    return true;
}

bool lzwDecoder::decode(uint8_t* out, size_t count) {
    size_t written = 0;
    problem_.clear();

    // The rest of a string that did not fit the previous output.
    if (restartEntry_ >= 0) {
        const size_t n = std::min(restartLeft_, count);
        if (!writeString(restartEntry_, restartLeft_ - n, out, n)) {
            debugLog("Bogus encoding, loop in the code table\n");
            problem_ = "damaged LZW data: loop in the code table";
            return false;
        }
        restartLeft_ -= n;
        if (restartLeft_ == 0) restartEntry_ = -1;
        written = n;
    }

    while (written < count && !finished_) {
        int code = nextCode();
        if (code < 0) {
            debugLog("LZWDecode: Strip not terminated with EOI code.\n");
            finished_ = true;
            break;
        }
        if (code == kEndOfInformation) {
            finished_ = true;
            break;
        }
        if (code == kClear) {
            resetTable();
            code = nextCode();
            if (code < 0) {
                debugLog("LZWDecode: Strip not terminated with EOI code.\n");
                finished_ = true;
                break;
            }
            if (code == kEndOfInformation) {
                finished_ = true;
                break;
            }
            if (code > 255) {
                debugLog("LZWDecode: Corrupted LZW table\n");
                problem_ = "damaged LZW data: code " + std::to_string(code) + " follows a clear code";
                finished_ = true;
                return false;
            }
            out[written++] = uint8_t(code);
            previous_ = code;
            continue;
        }

        // Every other code adds the previous string plus one byte to the table.
        if (freeEntry_ < 0 || freeEntry_ >= kTableSize || previous_ < 0 || previous_ >= kTableSize) {
            debugLog("Corrupted LZW table\n");
            problem_ = previous_ < 0 ? "damaged LZW data: no clear code before the first code"
                                     : "damaged LZW data: the code table overflows";
            finished_ = true;
            return false;
        }
        codeEntry& added = table_[freeEntry_];
        const codeEntry& prev = table_[previous_];
        added.prefix = previous_;
        added.length = uint16_t(prev.length + 1);
        added.first = prev.first;
        added.last = code < freeEntry_ ? table_[code].first : prev.first;
        if (++freeEntry_ > growAt_) {
            if (bits_ < kMaxBits) {
                ++bits_;
                mask_ = (1u << bits_) - 1;
            }
            growAt_ = oldStyle_ ? int(mask_) : int(mask_) - 1;
        }
        previous_ = code;

        const codeEntry& entry = table_[code];
        if (entry.length == 0) {
            debugLog(oldStyle_ ? "Wrong length of decoded string: data probably corrupted\n"
                               : "Wrong length of decoded string\n");
            problem_ = "damaged LZW data: code " + std::to_string(code) + " is not in the code table";
            finished_ = true;
            return false;
        }
        const size_t length = entry.length;
        const size_t space = count - written;
        if (length > space) {
            // Write the head now, keep the rest for the next call.
            if (!writeString(code, length - space, out + written, space)) {
                debugLog("Bogus encoding, loop in the code table\n");
                problem_ = "damaged LZW data: loop in the code table";
                finished_ = true;
                return false;
            }
            restartEntry_ = code;
            restartLeft_ = length - space;
            written = count;
            break;
        }
        if (!writeString(code, 0, out + written, length)) {
            debugLog("Bogus encoding, loop in the code table\n");
            problem_ = "damaged LZW data: loop in the code table";
            finished_ = true;
            return false;
        }
        written += length;
    }

    if (written < count) {
        debugLog("Not enough data at (short %llu bytes)\n", static_cast<unsigned long long>(count - written));
        problem_ = "the LZW data end " + std::to_string(count - written) + " bytes short of " +
                   std::to_string(count);
        return false;
    }
    return true;
}
