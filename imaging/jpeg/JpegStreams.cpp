#include "imaging/jpeg/JpegStreams.h"

#include <cstring>

#include "imaging/primitives/AlignedMemory.h"

namespace Code = JpegStatusCode;

CMemBuffInput::~CMemBuffInput()
{
    Close();
}

JpegStatus CMemBuffInput::AttachBuffer(const std::uint8_t* block, std::int32_t size)
{
    if (block == nullptr)
        return Code::BadParameter;
    block_ = block;
    size_ = size;
    position_ = 0;
    return Code::Ok;
}

JpegStatus CMemBuffInput::Open(const char*)
{
    return Code::NotSupported;
}

JpegStatus CMemBuffInput::Close()
{
    block_ = nullptr;
    size_ = 0;
    position_ = 0;
    return Code::Ok;
}

JpegStatus CMemBuffInput::Seek(std::int32_t offset, std::int32_t origin)
{
    const std::int64_t target = static_cast<std::int64_t>(offset) + position_;
    if (target < 0 || target >= size_)
        return Code::BufferExhausted;
    switch (origin) {
    case 0:
        position_ = offset;
        return Code::Ok;
    case 1:
        position_ = static_cast<std::int32_t>(target);
        return Code::Ok;
    case 2:
        position_ = size_;
        return Code::Ok;
    default:
        return Code::NotSupported;
    }
}

JpegStatus CMemBuffInput::Read(void* destination, std::int32_t length, std::int32_t* count)
{
    const std::int32_t available = size_ - position_;
    const std::int32_t n = length < 0 ? 0 : length < available ? length : available;
    if (n > 0)
        std::memcpy(destination, block_ + position_, static_cast<std::size_t>(n));
    position_ += n;
    if (count != nullptr)
        *count = n;
    return n < length ? Code::BufferExhausted : Code::Ok;
}

JpegStatus CMemBuffInput::GetPosition(std::int32_t* position)
{
    *position = position_;
    return Code::Ok;
}

CMemBuffOutput::~CMemBuffOutput()
{
    Close();
}

JpegStatus CMemBuffOutput::AttachBuffer(std::uint8_t* block, std::int32_t size)
{
    if (block == nullptr)
        return Code::BadParameter;
    block_ = block;
    size_ = size;
    position_ = 0;
    return Code::Ok;
}

JpegStatus CMemBuffOutput::Open(const char*)
{
    return Code::NotSupported;
}

JpegStatus CMemBuffOutput::Close()
{
    block_ = nullptr;
    size_ = 0;
    position_ = 0;
    return Code::Ok;
}

JpegStatus CMemBuffOutput::Write(const void* source, std::int32_t length, std::int32_t* count)
{
    const std::int32_t room = size_ - position_;
    const std::int32_t n = length < 0 ? 0 : length < room ? length : room;
    if (n > 0)
        std::memcpy(block_ + position_, source, static_cast<std::size_t>(n));
    position_ += n;
    if (count != nullptr)
        *count = n;
    return n < length ? Code::BufferExhausted : Code::Ok;
}

// ---------------------------------------------------------------------------

CBitStreamOutput::~CBitStreamOutput()
{
    AlignedFree(buffer_);
}

JpegStatus CBitStreamOutput::Attach(CBaseStreamOutput* stream)
{
    AlignedFree(buffer_);
    buffer_ = nullptr;
    stream_ = stream;
    capacity_ = fill_ = total_ = 0;
    return Code::Ok;
}

JpegStatus CBitStreamOutput::Init(std::int32_t capacity)
{
    AlignedFree(buffer_);
    buffer_ = static_cast<std::uint8_t*>(AlignedMalloc(capacity));
    fill_ = total_ = 0;
    if (buffer_ == nullptr) {
        capacity_ = 0;
        return Code::NoMemory;
    }
    capacity_ = capacity;
    return Code::Ok;
}

JpegStatus CBitStreamOutput::Flush(std::int32_t room)
{
    if (fill_ > capacity_)
        return Code::BufferExhausted;
    if (room != 0 && capacity_ - fill_ > room)
        return Code::Ok;
    if (fill_ == 0)
        return Code::Ok;
    if (stream_ == nullptr)
        return Code::ShortWrite;
    std::int32_t written = 0;
    stream_->Write(buffer_, fill_, &written);
    if (written != fill_)
        return Code::ShortWrite;
    total_ += fill_;
    fill_ = 0;
    return Code::Ok;
}

JpegStatus CBitStreamOutput::WriteByte(std::uint8_t byte)
{
    if (fill_ >= capacity_) {
        const JpegStatus status = Flush(0);
        if (status != Code::Ok)
            return status;
        if (fill_ >= capacity_)
            return Code::BufferExhausted;  // no buffer
    }
    buffer_[fill_++] = byte;
    return Code::Ok;
}

JpegStatus CBitStreamOutput::WriteWord(std::uint16_t word)
{
    const JpegStatus status = WriteByte(static_cast<std::uint8_t>(word >> 8));
    return status != Code::Ok ? status : WriteByte(static_cast<std::uint8_t>(word));
}

// ---------------------------------------------------------------------------

CBitStreamInput::~CBitStreamInput()
{
    AlignedFree(buffer_);
}

JpegStatus CBitStreamInput::Attach(CBaseStreamInput* stream)
{
    AlignedFree(buffer_);
    buffer_ = nullptr;
    stream_ = stream;
    capacity_ = limit_ = position_ = consumed_ = endOfStream_ = 0;
    return Code::Ok;
}

JpegStatus CBitStreamInput::Init(std::int32_t capacity)
{
    AlignedFree(buffer_);
    buffer_ = static_cast<std::uint8_t*>(AlignedMalloc(capacity));
    consumed_ = 0;
    endOfStream_ = 0;
    if (buffer_ == nullptr) {
        capacity_ = limit_ = position_ = 0;
        return Code::NoMemory;
    }
    capacity_ = capacity;
    position_ = limit_ = capacity;
    return Code::Ok;
}

JpegStatus CBitStreamInput::FillBuffer(std::int32_t need)
{
    std::int32_t remaining = limit_ - position_;
    if (need != 0 && remaining >= need)
        return Code::Ok;
    if (endOfStream_ == 0 && buffer_ != nullptr && stream_ != nullptr) {
        if (remaining > 0 && position_ > 0)
            std::memmove(buffer_, buffer_ + position_, static_cast<std::size_t>(remaining));
        position_ = 0;
        std::int32_t read = 0;
        stream_->Read(buffer_ + remaining, capacity_ - remaining, &read);
        if (read < capacity_ - remaining)
            endOfStream_ = 1;
        limit_ = remaining + read;
        remaining = limit_;
    }
    if (remaining <= 0 && (endOfStream_ != 0 || stream_ == nullptr || buffer_ == nullptr))
        return Code::BufferExhausted;
    return Code::Ok;
}

JpegStatus CBitStreamInput::Seek(std::int32_t offset, std::int32_t origin)
{
    if (origin != 1)
        return Code::NotSupported;
    const std::int64_t target = static_cast<std::int64_t>(position_) + offset;
    consumed_ += offset;
    if (target > 0 && target < limit_) {
        position_ = static_cast<std::int32_t>(target);
        return Code::Ok;
    }
    const auto beyond = static_cast<std::int32_t>(target - limit_);
    position_ = limit_;
    if (stream_ == nullptr)
        return Code::BufferExhausted;
    JpegStatus status = Code::Ok;
    if (beyond != 0) {
        status = stream_->Seek(beyond, 1);
        if (status != Code::Ok)
            return status;
    }
    endOfStream_ = 0;
    return FillBuffer(0);
}

JpegStatus CBitStreamInput::PeekByte(std::int32_t offset, std::uint8_t* byte)
{
    const std::int64_t at = static_cast<std::int64_t>(position_) + offset;
    if (at >= 0 && at < limit_) {
        *byte = buffer_[at];
        return Code::Ok;
    }
    const JpegStatus status = Seek(offset, 1);
    if (status != Code::Ok)
        return status;
    if (position_ >= limit_)
        return Code::BufferExhausted;
    *byte = buffer_[position_];
    return Code::Ok;
}

JpegStatus CBitStreamInput::ReadByte(std::uint8_t* byte)
{
    if (position_ >= limit_) {
        const JpegStatus status = FillBuffer(1);
        if (status != Code::Ok)
            return status;
        if (position_ >= limit_)
            return Code::BufferExhausted;
    }
    *byte = buffer_[position_++];
    ++consumed_;
    return Code::Ok;
}

JpegStatus CBitStreamInput::ReadWord(std::uint16_t* word)
{
    std::uint8_t hi = 0, lo = 0;
    JpegStatus status = ReadByte(&hi);
    if (status == Code::Ok)
        status = ReadByte(&lo);
    if (status == Code::Ok)
        *word = static_cast<std::uint16_t>((hi << 8) | lo);
    return status;
}

JpegStatus CBitStreamInput::ReadDword(std::uint32_t* dword)
{
    std::uint16_t hi = 0, lo = 0;
    JpegStatus status = ReadWord(&hi);
    if (status == Code::Ok)
        status = ReadWord(&lo);
    if (status == Code::Ok)
        *dword = (static_cast<std::uint32_t>(hi) << 16) | lo;
    return status;
}
