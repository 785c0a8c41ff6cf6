#pragma once
// The streams the JPEG encoder and decoder write to and read from, and their
// buffered byte writer and byte reader.
//
// A stream is created by the caller and handed to a codec, which keeps only a
// pointer; the caller detaches and destroys it after the codec is done. The
// memory streams never own or free their block.

#include <cstdint>

#include "imaging/jpeg/JpegStatus.h"

class CBaseStream {
public:
    virtual ~CBaseStream() = default;
    // Opening by name; no stream of the system supports it.
    virtual JpegStatus Open(const char* name) = 0;
    virtual JpegStatus Close() = 0;
};

class CBaseStreamInput : public CBaseStream {
public:
    // origin 0 from the start, 1 from the current position, 2 to the end.
    virtual JpegStatus Seek(std::int32_t offset, std::int32_t origin) = 0;
    virtual JpegStatus Read(void* destination, std::int32_t length, std::int32_t* count) = 0;
    virtual JpegStatus GetPosition(std::int32_t* position) = 0;
};

class CBaseStreamOutput : public CBaseStream {
public:
    virtual JpegStatus Write(const void* source, std::int32_t length, std::int32_t* count) = 0;
};

// Reads from a caller's memory block.
class CMemBuffInput : public CBaseStreamInput {
public:
    ~CMemBuffInput() override;
    // Null block: -3 and the stream stays detached.
    JpegStatus AttachBuffer(const std::uint8_t* block, std::int32_t size);
    JpegStatus Open(const char* name) override;  // -1
    JpegStatus Close() override;                 // detaches
    // The new position offset + current must lie in 0 .. size - 1 whatever the
    // origin (else -4, nothing changes); then origin 0 goes to offset, 1 to
    // offset + current, 2 to the size; another origin -1.
    JpegStatus Seek(std::int32_t offset, std::int32_t origin) override;
    // Copies what is left up to length; -4 when fewer than length bytes were
    // available.
    JpegStatus Read(void* destination, std::int32_t length, std::int32_t* count) override;
    JpegStatus GetPosition(std::int32_t* position) override;

private:
    const std::uint8_t* block_ = nullptr;
    std::int32_t size_ = 0;
    std::int32_t position_ = 0;
};

// Writes into a caller's memory block.
class CMemBuffOutput : public CBaseStreamOutput {
public:
    ~CMemBuffOutput() override;
    JpegStatus AttachBuffer(std::uint8_t* block, std::int32_t size);
    JpegStatus Open(const char* name) override;
    JpegStatus Close() override;
    // Copies what fits; -4 when fewer than length bytes fitted.
    JpegStatus Write(const void* source, std::int32_t length, std::int32_t* count) override;
    std::int32_t Position() const { return position_; }

private:
    std::uint8_t* block_ = nullptr;
    std::int32_t size_ = 0;
    std::int32_t position_ = 0;  // bytes written
};

// The encoder's byte writer: its own aligned buffer in front of an output
// stream (not owned). The entropy coders write straight into Buffer() from
// Fill() on and then SetFill(); marker segments go through WriteByte.
class CBitStreamOutput {
public:
    CBitStreamOutput() = default;
    ~CBitStreamOutput();
    CBitStreamOutput(const CBitStreamOutput&) = delete;
    CBitStreamOutput& operator=(const CBitStreamOutput&) = delete;

    // Frees the buffer and takes the stream; capacity, fill and total 0.
    JpegStatus Attach(CBaseStreamOutput* stream);
    // A new buffer of capacity bytes (null: -6); fill and total 0.
    JpegStatus Init(std::int32_t capacity);
    // Hands the buffered bytes to the stream unless room is non-zero and more
    // than room bytes are free. -4 when fill exceeds capacity; -5 when the
    // stream took a different count (the bytes stay buffered).
    JpegStatus Flush(std::int32_t room);
    JpegStatus WriteByte(std::uint8_t byte);
    JpegStatus WriteWord(std::uint16_t word);  // big-endian

    std::uint8_t* Buffer() { return buffer_; }
    std::int32_t Capacity() const { return capacity_; }
    std::int32_t Fill() const { return fill_; }
    void SetFill(std::int32_t fill) { fill_ = fill; }
    // Bytes already handed to the stream: after the final Flush the length of
    // the encoded image.
    std::int32_t Total() const { return total_; }

private:
    CBaseStreamOutput* stream_ = nullptr;
    std::uint8_t* buffer_ = nullptr;
    std::int32_t capacity_ = 0;
    std::int32_t fill_ = 0;
    std::int32_t total_ = 0;
};

// The decoder's byte reader: its own aligned buffer behind an input stream
// (not owned).
class CBitStreamInput {
public:
    CBitStreamInput() = default;
    ~CBitStreamInput();
    CBitStreamInput(const CBitStreamInput&) = delete;
    CBitStreamInput& operator=(const CBitStreamInput&) = delete;

    JpegStatus Attach(CBaseStreamInput* stream);
    // An empty buffer of capacity bytes (null: -6): the first read fills it.
    JpegStatus Init(std::int32_t capacity);
    // Unless need is non-zero and at least need bytes remain, moves the rest to
    // the front and reads from the stream behind it. -4 when the stream has
    // ended and no byte remains.
    JpegStatus FillBuffer(std::int32_t need);
    // Relative moves only (origin 1, else -1); a target outside the buffer
    // moves the stream and refills.
    JpegStatus Seek(std::int32_t offset, std::int32_t origin);
    // The byte at position + offset; beyond the buffer the stream is moved
    // there and the buffer refilled.
    JpegStatus PeekByte(std::int32_t offset, std::uint8_t* byte);
    JpegStatus ReadByte(std::uint8_t* byte);
    JpegStatus ReadWord(std::uint16_t* word);     // big-endian
    JpegStatus ReadDword(std::uint32_t* dword);  // big-endian

    const std::uint8_t* Buffer() const { return buffer_; }
    std::int32_t Limit() const { return limit_; }
    std::int32_t Position() const { return position_; }
    void SetPosition(std::int32_t position) { position_ = position; }
    std::int32_t Consumed() const { return consumed_; }
    bool AtEnd() const { return endOfStream_ != 0; }

private:
    CBaseStreamInput* stream_ = nullptr;
    std::uint8_t* buffer_ = nullptr;
    std::int32_t capacity_ = 0;
    std::int32_t limit_ = 0;
    std::int32_t position_ = 0;
    std::int32_t consumed_ = 0;
    std::int32_t endOfStream_ = 0;
};
