// Loaded by ExtensionManagerTest through ExtensionManager::loadLibrary: its
// static initialisation registers one extension, as a real extension does.
#include <corvane/extensions/ExtensionManager.h>

#include "FakeExtension.h"

namespace {
const bool registered = [] {
    auto extension = std::make_shared<FakeExtension>("test-plugin");
    extension->factory->registerNode(fakeType("plugin-node"), fakeCreator("plugin"));
    corvane::ExtensionManager::getInstance().registerExtension(extension);
    return true;
}();
} // namespace
