#include "FSImplementation/FSInfo.h"

#include <array>
#include <string_view>

#include <QDebug>
#include <QStorageInfo>
#include <boost/format.hpp>

#include "platform/Dir.h"

namespace Storage {

namespace {

// Kernel interfaces and memory-backed file systems: nothing recorded there
// survives a restart, and most are mounted many times over.
constexpr std::array<std::string_view, 26> kExcludedTypes = {
    "proc",     "sysfs",     "tmpfs",    "devtmpfs", "ramfs",   "cgroup",   "cgroup2",    "devpts",    "mqueue",
    "securityfs", "debugfs", "tracefs",  "pstore",   "bpf",     "configfs", "fusectl",    "hugetlbfs", "autofs",
    "binfmt_misc", "efivarfs", "nsfs",   "rpc_pipefs", "selinuxfs", "squashfs", "fuse.gvfsd-fuse", "none",
};

const char kSeparator = '|';

bool HasVideoFolder(const std::string& root)
{
    const auto child = platform::FindChildNoCase(root, "VIDEO");
    return child && platform::IsDirectory(platform::JoinPath(root, *child));
}

std::string WithSlash(std::string root)
{
    if (root.empty() || root.back() != '/')
        root += '/';
    return root;
}

}  // namespace

bool FSInfo::isAllowedFileSystemType(const std::string& type)
{
    if (type.empty())
        return false;
    for (std::string_view excluded : kExcludedTypes) {
        if (type == excluded)
            return false;
    }
    return true;
}

bool FSInfo::isValidDrive(const std::string& root)
{
    const QStorageInfo info(QString::fromLocal8Bit(root.c_str()));
    const std::string type = info.isValid() ? info.fileSystemType().toStdString() : std::string();
    const bool allowed = info.isValid() && info.isReady() && isAllowedFileSystemType(type);
    qDebug().noquote() << QString::fromStdString(
        (boost::format("Drive: '%1%', GetDriveType: %2%, IsFloppy: %3%, allowed: %4%.") % root % type % "no" %
         (allowed ? "yes" : "no"))
            .str());
    return allowed;
}

std::vector<std::string> FSInfo::selectArchiveDrives(const std::vector<std::string>& roots)
{
    std::vector<std::string> drives;
    for (const std::string& root : roots) {
        const std::string withSlash = WithSlash(root);
        if (isValidDrive(withSlash) && HasVideoFolder(withSlash))
            drives.push_back(withSlash);
    }
    return drives;
}

std::vector<std::string> FSInfo::getArchiveDrives()
{
    std::vector<std::string> roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        roots.push_back(volume.rootPath().toLocal8Bit().toStdString());
    return selectArchiveDrives(roots);
}

std::vector<std::string> FSInfo::splitPaths(const std::string& list)
{
    std::vector<std::string> items;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type pos = list.find(kSeparator, start);
        if (pos == std::string::npos) {
            items.push_back(list.substr(start));
            return items;
        }
        items.push_back(list.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string FSInfo::joinPaths(const std::vector<std::string>& items)
{
    std::string joined;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != 0)
            joined += kSeparator;
        joined += items[i];
    }
    return joined;
}

}  // namespace Storage
