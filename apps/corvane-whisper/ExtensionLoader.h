#pragma once

#include <string>

#include <corvane/graph/NodeTypeInfo.h>

namespace corvane::cli {

/// libCorvaneWhisper.so beside the running executable or, failing that, in
/// the extensions folder of the tree it is installed in.
std::string defaultExtensionPath();

/// Loads an extension library by path, as a host does. Raises CommandError
/// with the loader's reason when it cannot be loaded.
void loadExtension(const std::string& path);

/// The registered node type with this type and subtype; raises CommandError
/// naming the library when none of the loaded extensions offers it.
NodeTypeInfo findNodeType(const std::string& type, const std::string& subtype, const std::string& libraryPath);

} // namespace corvane::cli
