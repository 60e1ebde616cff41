// Row and column selection of reduced reads.
#include "rastik/core/CReducedSampler.h"

CReducedSampler::CReducedSampler(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t width, uint32_t height)
    : m_rowRatio(sourceHeight ? static_cast<float>(height) / static_cast<float>(sourceHeight) : 0.0f),
      m_height(height), m_rows(Positions(sourceHeight, height)), m_columns(Positions(sourceWidth, width))
{
}

std::vector<uint32_t> CReducedSampler::Positions(uint32_t size, uint32_t count)
{
    std::vector<uint32_t> at;
    if (size == 0 || count == 0) return at;
    float ratio = static_cast<float>(count) / static_cast<float>(size);
    at.reserve(count < size ? count : size);
    for (uint32_t j = 0; j < size && at.size() < count; ++j)
        if (static_cast<uint32_t>(static_cast<double>(ratio) * j) == at.size()) at.push_back(j);
    return at;
}
