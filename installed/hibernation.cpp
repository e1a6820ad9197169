#include "installed/hibernation.h"

namespace kestrix {

bool IsHibernated(std::string_view start) {
    const auto signature = start.substr(0, 4);
    return signature == "hibr" || signature == "HIBR";
}

}  // namespace kestrix
