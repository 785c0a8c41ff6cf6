#pragma once
// One export job: what the export panels edit, the settings keep and the
// export engines run.

#include <cstdint>
#include <string>
#include <vector>

#include <QMetaType>
#include <boost/date_time/posix_time/ptime.hpp>

namespace Storage {

struct ExportTask {
    int32_t row = 0;  // the task's row in the export panel; not stored
    std::vector<std::string> ChannelIds;
    boost::posix_time::ptime FromTime{boost::posix_time::not_a_date_time};
    boost::posix_time::ptime ToTime{boost::posix_time::not_a_date_time};
    std::string OutputContainer;  // "avi" or "mkv"
    std::string PrefixFileName;

    bool operator==(const ExportTask&) const = default;
};

}  // namespace Storage

Q_DECLARE_METATYPE(Storage::ExportTask)
