#pragma once
// Bookmarks: a time interval of the archive with a comment, a colour and its
// creation time, for one or more channels. They are kept as one-line ".bkm"
// files (one per channel) in the PROTECTED folder of the first volume; the
// line is the parameter text of a message holding the bookmark's keys.
//
// File name: "DD-MM-YY hh-mm-ss" of the begin, the channel extension of the
// video letter and ".bkm" ("05-03-22 14-30-00_03.bkm"). Content, ending in
// CR LF:
//   chan<3>,time_begin<05-03-22 14:30:00.000>,time_end<05-03-22 14:35:00.000>,
//   created<05-03-22 14:31:07>,color<255>,datetime_exported<>,comment<Door>
// (one line). Readers take the items in any order.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Messages.h"
#include "base/Tss.h"

class Bookmark {
public:
    Bookmark() = default;
    // Reads the keys with the empty suffix; `path` is the file read from.
    Bookmark(const Msg& message, const std::string& path);
    virtual ~Bookmark() = default;

    // Reads or writes "comment", "created", "datetime_exported", "color",
    // "time_begin" and "time_end", each followed by `suffix`.
    void ReadParams(const Msg& message, const std::string& suffix);
    void WriteParams(Msg& message, const std::string& suffix) const;

    std::string comment;
    std::string created;
    std::string datetimeExported;
    int32_t color = 0;
    TSS timeBegin{};
    TSS timeEnd{};
    std::string filePath;
};

// A bookmark and the channels it was set on, in the order added.
class ChannelsBookmark : public Bookmark {
public:
    ChannelsBookmark() : channels(std::make_shared<std::vector<int32_t>>()) {}
    // "chans" (every id and ";") then the keys of Bookmark::WriteParams.
    void WriteParams(Msg& message, const std::string& suffix) const;

    std::shared_ptr<std::vector<int32_t>> channels;
};

// "DD-MM-YY hh-mm-ss_CC.bkm" of a bookmark of a camera.
std::string BookmarkFileName(int camera, const TSS& begin);
// The stored line (without its line end) of a camera's bookmark.
std::string FormatBookmarkLine(int camera, const Bookmark& bookmark);
