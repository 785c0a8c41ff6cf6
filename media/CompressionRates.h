// The rate tables of the wavelet encoders: one row per picture-size class
// ("Standard", "High", "Full", "HD", each a registry key holding the values
// "0" to "4"), one entry per quality index 1 to 5. Loaded once, in the codec
// object's constructor; every default the store lacks is written back.
#pragma once

#include <string>

namespace wavelet {

class CompressionRates
{
public:
    static constexpr int kClasses = 4;
    static constexpr int kIndexes = 5;
    enum SizeClass
    {
        Standard = 0,
        High = 1,
        Full = 2,
        HD = 3,
    };
    static const char* const kClassNames[kClasses];

    virtual ~CompressionRates() = default;
    // Reads the table from "<keyPath><class name>" keys, writing back what it
    // keeps. Registry failures leave the defaults.
    virtual void Load(const std::string& keyPath, int minimum, int maximum) = 0;

    // The rate of a class and quality index; the default rate for an index
    // outside 1 to 5.
    int Rate(int sizeClass, int qualityIndex) const;
    int DefaultRate() const { return m_defaultRate; }

protected:
    explicit CompressionRates(int defaultRate) : m_defaultRate(defaultRate) {}

    int m_rates[kClasses][kIndexes] = {};
    int m_defaultRate;
};

// 6.5: defaults are a share (50, 75, 100, 100 per cent by class) of the
// range from minimum to maximum; every value is written back.
class CompressionRates65 : public CompressionRates
{
public:
    static constexpr const char* kKeyPath = "SOFTWARE\\QOR\\Vindara\\Video\\Compression\\";
    static constexpr int kPercent[kClasses] = {50, 75, 100, 100};

    CompressionRates65() : CompressionRates(8) {}
    void Load(const std::string& keyPath, int minimum, int maximum) override;
    // Below 320 rows: Standard (narrower than 640) or High; else Full up to
    // 800 x 600, HD above.
    static int ClassOf(int width, int height);
    int Choose(int qualityIndex, int width, int height) const
    {
        return Rate(ClassOf(width, height), qualityIndex);
    }
};

// 7.1: a value within minimum to maximum replaces the built-in entry and is
// kept as it is; anything else is replaced by the entry.
class CompressionRates71 : public CompressionRates
{
public:
    static constexpr const char* kKeyPath =
        "SOFTWARE\\QOR\\Vindara\\Video\\Compression\\Corvane7.1\\";

    CompressionRates71();
    void Load(const std::string& keyPath, int minimum, int maximum) override;
    // By width alone: below 320 Standard, up to 600 Full, wider HD.
    static int ClassOf(int width);
    int Choose(int qualityIndex, int width) const { return Rate(ClassOf(width), qualityIndex); }
};

// The 3.5 quality table of low-resolution mode (same keys as 6.5).
class LowResolutionTable35
{
public:
    static constexpr const char* kKeyPath = "SOFTWARE\\QOR\\Vindara\\Video\\Compression";

    LowResolutionTable35();
    void Load();
    // The entry of a row (0 to 3) and quality index 1 to 5; -1 outside.
    int Quality(int row, int qualityIndex) const;

private:
    int m_table[CompressionRates::kClasses][CompressionRates::kIndexes];
};

} // namespace wavelet
