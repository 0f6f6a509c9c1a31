#pragma once
// A multi-resolution container of one picture or plane: up to 16 levels, level k + 1 being
// (width of k ÷ 2) × (height of k ÷ 2). Level 0 doubles as the full-size picture (for example the
// radiance picture is level 0 of a 3 × float pyramid).

#include <cstddef>
#include <cstdint>
#include <memory>

class tempFileRecord;

class pyramid {
public:
    static constexpr int kMaxLevels = 16;

    struct level {
        bool isFirst = false;
        int width = 0;
        int height = 0;
        std::unique_ptr<uint8_t[]> block;
    };

    /// Sets up `levels` levels of a w × h picture; with `allocate` every level gets an uninitialised
    /// block. Returns false (and holds nothing) when a size is impossible or memory is short.
    bool init(int w, int h, int levels, int bytesPerSample, int channels, bool allocate);
    /// Gives level 0 the size w × h keeping its block and samples (the block must be large enough, as
    /// after a turn or a crop) and re-creates levels 1 … levels−1 for the new size.
    bool reshape(int w, int h, int levels);
    /// Frees every level and sets the counts to 0.
    void release();
    /// Frees levels 1 … n−1 and keeps level 0 as a one-level pyramid (no-op when empty).
    void dropSmallerLevels();
    /// Frees the blocks of levels 1 … n−1 other than `kept`; their sizes stay, their data() is null
    /// until the pyramid is set up again (buildLevels stops at the first missing level).
    void releaseSmallerLevelsExcept(int kept);
    /// Recomputes levels 1 … n−1 from level 0: each sample is the truncated mean of the 2 × 2
    /// samples at columns 2x−1, 2x and rows 2y−1, 2y of the level above (−1 read as 0).
    void buildLevels();

    /// Level 0 as a record: read back from / written to a temporary file of exactly its size.
    bool readFromTempFile(tempFileRecord* file);
    bool writeToTempFile(tempFileRecord* file);

    int levelCount() const { return levelCount_; }
    int bytesPerSample() const { return bytesPerSample_; }
    int channels() const { return channels_; }
    int width(int k = 0) const { return levels_[k].width; }
    int height(int k = 0) const { return levels_[k].height; }
    bool allocated() const { return levels_[0].block != nullptr; }
    /// Bytes of level k: width × height × channels × bytes per sample.
    size_t levelBytes(int k = 0) const;

    template <class T> T* data(int k = 0) { return reinterpret_cast<T*>(levels_[k].block.get()); }
    template <class T> const T* data(int k = 0) const {
        return reinterpret_cast<const T*>(levels_[k].block.get());
    }

private:
    int levelCount_ = 0;
    int bytesPerSample_ = 0;
    int channels_ = 0;
    level levels_[kMaxLevels];
};
