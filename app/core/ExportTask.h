#pragma once
// One export job as the settings keep it and the export panels edit it.

#include <cstdint>
#include <string>
#include <vector>

#include <QMetaType>
#include <boost/date_time/posix_time/ptime.hpp>

namespace Storage {

struct ExportTask {
    int32_t TaskIndex = 0;
    std::vector<std::string> ChannelIds;
    boost::posix_time::ptime FromTime{boost::posix_time::not_a_date_time};
    boost::posix_time::ptime ToTime{boost::posix_time::not_a_date_time};
    std::string OutputContainer;  // "avi" or "mkv"
    std::string PrefixFileName;

    bool operator==(const ExportTask&) const = default;
};

}  // namespace Storage

Q_DECLARE_METATYPE(Storage::ExportTask)
