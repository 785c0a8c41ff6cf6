// The description an exported media file carries in its metadata: as XML
// text, and the same bytes as the Base64 text the exports write.
#include <cstddef>
#include <cstdint>
#include <string>

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include "FuzzSupport.h"
#include "archive/fs/RecInfo.h"

using VindaraFileSystem::AviFileData;
using VindaraFileSystem::ReadRecInfo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = gavexfuzz::Text(data, size);
    AviFileData plain;
    ReadRecInfo(text, plain);
    // The same document whether or not the input starts with the declaration.
    AviFileData declared;
    ReadRecInfo("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n" + text, declared);
    std::string encoded;
    CryptoPP::StringSource(text, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(encoded), true, 76));
    AviFileData coded;
    ReadRecInfo(encoded, coded);
    return 0;
}
