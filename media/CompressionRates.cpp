#include "media/CompressionRates.h"

#include "base/Registry.h"

namespace wavelet {

const char* const CompressionRates::kClassNames[kClasses] = {"Standard", "High", "Full", "HD"};

namespace {

// The class key, created when neither scope has it.
std::unique_ptr<RegistryKey> OpenClassKey(const std::string& path)
{
    return std::make_unique<RegistryKey>(path, true, RegistryKey::kAllAccess | RegistryKey::kWow64_32Key);
}

// True with the number when the value exists and is not empty.
bool ReadNumber(const RegistryKey& key, const std::string& name, int& number)
{
    if (!key.IsOpen() || key.ReadString(name, "", 16).empty())
        return false;
    number = key.ReadInt(name, 0);
    return true;
}

} // namespace

int CompressionRates::Rate(int sizeClass, int qualityIndex) const
{
    if (qualityIndex < 1 || qualityIndex > kIndexes || sizeClass < 0 || sizeClass >= kClasses)
        return m_defaultRate;
    return m_rates[sizeClass][qualityIndex - 1];
}

void CompressionRates65::Load(const std::string& keyPath, int minimum, int maximum)
{
    for (int c = 0; c < kClasses; ++c) {
        auto key = OpenClassKey(keyPath + kClassNames[c]);
        for (int j = 0; j < kIndexes; ++j) {
            const std::string name = std::to_string(j);
            int rate = 0;
            if (!ReadNumber(*key, name, rate)) {
                rate = kPercent[c] * (minimum + (j * (maximum - minimum)) / 4) / 100;
                if (rate < minimum)
                    rate = minimum;
            }
            m_rates[c][j] = rate;
            if (key->IsOpen())
                key->WriteInt(name, rate);
        }
    }
}

int CompressionRates65::ClassOf(int width, int height)
{
    if (height < 320)
        return width < 640 ? Standard : High;
    return width <= 800 && height <= 600 ? Full : HD;
}

CompressionRates71::CompressionRates71() : CompressionRates(20)
{
    static constexpr int kBuiltIn[kClasses][kIndexes] = {
        {2, 3, 4, 4, 4}, {3, 4, 4, 4, 5}, {2, 3, 4, 4, 5}, {5, 15, 17, 18, 19}};
    for (int c = 0; c < kClasses; ++c)
        for (int j = 0; j < kIndexes; ++j)
            m_rates[c][j] = kBuiltIn[c][j];
}

void CompressionRates71::Load(const std::string& keyPath, int minimum, int maximum)
{
    for (int c = 0; c < kClasses; ++c) {
        auto key = OpenClassKey(keyPath + kClassNames[c]);
        for (int j = 0; j < kIndexes; ++j) {
            const std::string name = std::to_string(j);
            int rate = 0;
            if (ReadNumber(*key, name, rate) && rate != -1 && rate >= minimum && rate <= maximum)
                m_rates[c][j] = rate;
            else if (key->IsOpen())
                key->WriteInt(name, m_rates[c][j]);
        }
    }
}

int CompressionRates71::ClassOf(int width)
{
    if (width < 320)
        return Standard;
    return width <= 600 ? Full : HD;
}

LowResolutionTable35::LowResolutionTable35()
{
    static constexpr int kBase[CompressionRates::kClasses] = {25, 16, 16, 16};
    static constexpr int kStep[CompressionRates::kClasses] = {10, 10, 5, 5};
    for (int c = 0; c < CompressionRates::kClasses; ++c)
        for (int j = 0; j < CompressionRates::kIndexes; ++j)
            m_table[c][j] = kBase[c] + j * kStep[c];
}

void LowResolutionTable35::Load()
{
    for (int c = 0; c < CompressionRates::kClasses; ++c) {
        auto key = OpenClassKey(std::string(kKeyPath) + "\\" + CompressionRates::kClassNames[c]);
        for (int j = 0; j < CompressionRates::kIndexes; ++j) {
            const std::string name = std::to_string(j);
            int value = 0;
            if (ReadNumber(*key, name, value))
                m_table[c][j] = value;
            if (key->IsOpen())
                key->WriteInt(name, m_table[c][j]);
        }
    }
}

int LowResolutionTable35::Quality(int row, int qualityIndex) const
{
    if (row < 0 || row >= CompressionRates::kClasses || qualityIndex < 1 ||
        qualityIndex > CompressionRates::kIndexes)
        return -1;
    return m_table[row][qualityIndex - 1];
}

} // namespace wavelet
