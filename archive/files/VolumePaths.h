#pragma once
// Path helpers of the archive folders. File names on this platform are
// case-sensitive while archives written elsewhere may spell "VIDEO", "INDEX",
// "PROTECTED" or "Settings.xml" in any case: the fixed names are looked up
// case-insensitively and an existing spelling is kept as it is.

#include <string>

namespace VolumePaths {

// dir joined with name; when dir holds an entry whose name equals `name`
// ignoring ASCII case, that entry's own spelling is used. An exact match wins.
std::string ChildNoCase(const std::string& dir, const std::string& name);
// The spelling of `name` inside dir as above, or `name` when none exists.
std::string ChildNameNoCase(const std::string& dir, const std::string& name);
// a + "/" + b, without doubling a separator already at the end of a.
std::string Join(const std::string& a, const std::string& b);

}  // namespace VolumePaths
