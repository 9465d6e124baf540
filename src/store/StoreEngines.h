#pragma once

#include <memory>

#include "settings/LoggerSettings.h"
#include "store/StoreProvider.h"

// The engines the store can talk to: the provider class of the engine the settings name. The
// only place that knows every engine; the store and the providers' base know none of them.
namespace StoreEngines {

std::unique_ptr<StoreProvider> forSettings(const DatabaseSettings& settings);

}  // namespace StoreEngines
