#include <cstdio>

#include <corvane/extensions/ExtensionManager.h>

#include "CommandError.h"
#include "Commands.h"
#include "ExtensionLoader.h"
#include "NodeDescription.h"

namespace corvane::cli {

int runDescribe(const CommandLineOptions& options)
{
    const std::string library = options.extensionPath.empty() ? defaultExtensionPath() : options.extensionPath;
    loadExtension(library);

    const auto description = describeNodeTypes(ExtensionManager::getInstance().getNodeTypes());
    const std::string text = description.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    return kExitSuccess;
}

} // namespace corvane::cli
