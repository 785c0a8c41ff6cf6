#include "render/NullRendererDevice.h"

#include <boost/make_shared.hpp>

namespace render {

TexturePtr NullRendererDevice::CreateTexture(const QSize&, bool)
{
    return boost::make_shared<NullTexture>();
}

}  // namespace render
