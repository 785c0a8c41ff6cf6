#include "playback/TimeConverterSource.h"

#include <stdexcept>

#include "media/TimeConversion.h"

namespace filters {

TimeConverterSource::TimeConverterSource(const boost::shared_ptr<IVideoSource>& inner,
                                         const std::shared_ptr<utils::TimeConverter>& converter)
    : m_inner(inner), m_converter(converter) {
    if (!m_inner || !m_converter) throw std::invalid_argument("Invalid arguments");
}

TimeConverterSource::~TimeConverterSource() {
    m_converter.reset();
    m_inner.reset();
}

const std::vector<RecordPeriod>& TimeConverterSource::GetPeriods() const {
    return m_converter->GetContinuousPeriods();
}

int64_t TimeConverterSource::GetCurrentTime() {
    return m_converter->ArchiveToContinuous(m_inner->GetCurrentTime());
}

int64_t TimeConverterSource::GetNextTime() {
    return m_converter->ArchiveToContinuous(m_inner->GetNextTime());
}

void TimeConverterSource::Seek(int64_t timeMs) {
    m_inner->Seek(m_converter->ContinuousToArchive(timeMs));
}

}  // namespace filters
