#include <corvane/extensions/Extension.h>

namespace corvane {

Extension::Extension() = default;
Extension::~Extension() = default;

Result<void> Extension::initialize(const CVAnyMap&)
{
    initialized = true;
    return {};
}

Result<void> Extension::deinitialize()
{
    initialized = false;
    return {};
}

bool Extension::isInitialized() const noexcept
{
    return initialized;
}

} // namespace corvane
