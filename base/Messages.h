// Messages: a type, an id, an action and named text parameters.
//
// The archive engine announces what happens to the archive with Event
// objects; React objects describe a reaction and are wrapped into an Event by
// Event::FromReact. All three serialise the same way (Msg::Serialize):
//
//   plain form:  text type, text id, text action, count n,
//                n x (text name, text value)           (names in sorted order)
//   zip form:    text "zip_msg", uint32 size, size bytes of a zlib stream
//                (RFC 1950) of FormatText()
//
// (texts and counts as platform/Archive.h encodes them). The zip form is
// written only while compression is switched on (SetCompression) and only
// when it is strictly shorter than the text; it is always understood on
// reading.
//
// A message is built by one thread and read by others only after it has been
// handed over; only the reference count is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/NetObject.h"

class Msg : public CNetObject {
public:
    using Params = std::map<std::string, std::string>;

    Msg() = default;
    Msg(const Msg& other) = default;
    Msg& operator=(const Msg& other);

    const char* GetClassName() const override { return "Msg"; }
    void Serialize(platform::Archive& archive) override;

    std::string GetType() const { return m_type; }
    std::string GetId() const { return m_id; }
    std::string GetAction() const { return m_action; }
    void SetType(const std::string& type) { m_type = type; }
    void SetId(const std::string& id) { m_id = id; }
    void SetAction(const std::string& action) { m_action = action; }

    // Sets or replaces a parameter. Integers as "%d"; doubles as "%g" with a
    // '.' decimal separator whatever the locale.
    void SetParam(const std::string& name, int value);
    void SetParam(const std::string& name, double value);
    void SetParam(const std::string& name, const std::string& value);
    void SetParam(const std::string& name, const char* value);
    // The value, or an empty text when there is no such parameter.
    std::string GetParam(const std::string& name) const;
    const Params& GetParams() const { return m_params; }
    void RemoveAllParams() { m_params.clear(); }

    // "name<value>,name<value>" in the map's order.
    std::string FormatParams() const;
    // Replaces the parameters by those of a FormatParams text. Values may
    // hold nested '<' '>' pairs; names are cut to 100 characters.
    void ParseParams(const std::string& text);
    // "type|id|action|params".
    std::string FormatText() const;
    // Reads id and action from fields 1 and 2 of a FormatText text (the type,
    // field 0, is the caller's) and the parameters after the third '|'.
    // False when field 1 or 2 is missing (the message is then unchanged).
    bool FromText(const std::string& text);

    // Process-wide switch for the zip form on storing; off at start.
    static void SetCompression(bool on);
    static bool GetCompression();

protected:
    Msg(const std::string& type, const std::string& id, const std::string& action)
        : m_type(type), m_id(id), m_action(action) {}

    std::string m_type;
    std::string m_id;
    std::string m_action;
    Params m_params;
};

class React : public Msg {
public:
    React() = default;
    React(const std::string& type, const std::string& id, const std::string& action)
        : Msg(type, id, action) {}
    const char* GetClassName() const override { return "React"; }
};

class Event : public Msg {
public:
    Event() = default;
    // The id as its decimal text.
    Event(const std::string& type, int id, const std::string& action);
    Event(const std::string& type, const std::string& id, const std::string& action)
        : Msg(type, id, action) {}
    const char* GetClassName() const override { return "Event"; }

    // Becomes the engine's wrapped notification: type "CORE", empty id,
    // action "DO_REACT", parameters source_type, source_id, action,
    // param<i>_name / param<i>_val for each of the react's parameters and
    // params = their number. Parameters the event had before are kept.
    void FromReact(const React& react);
};

// zlib helpers of the zip form.
namespace ZlibHelper {
// Replaces output by the zlib stream of the input (level 9, 15 window bits,
// memory level 8). Throws std::runtime_error if the library fails.
void Compress(const uint8_t* input, size_t length, std::vector<uint8_t>& output);
// Replaces output by the inflated input. False for a corrupt or truncated
// stream, for bytes after the end of the stream, or when the output would
// exceed maxOutput bytes.
bool Decompress(const uint8_t* input, size_t length, std::vector<uint8_t>& output,
                size_t maxOutput = 64u * 1024 * 1024);
}  // namespace ZlibHelper
