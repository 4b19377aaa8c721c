#pragma once

#include <corvane/graph/NodeTypeInfo.h>

namespace corvane::extensions::whisper {

/// The one source of the Whisper node type's texts: names, categories, and the
/// descriptions of its actions and events. Every call builds an equal record.
/// Uses no static data, so it is safe during the library's static
/// initialisation.
NodeTypeInfo makeWhisperSTTNodeTypeInfo();

} // namespace corvane::extensions::whisper
