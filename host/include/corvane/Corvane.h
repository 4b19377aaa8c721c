#pragma once

// Everything an application or extension needs from the host.
#include <corvane/audio/AudioBuffer.h>
#include <corvane/audio/AudioBus.h>
#include <corvane/audio/AudioBusFormat.h>
#include <corvane/audio/AudioGraphResampler.h>
#include <corvane/core/CVAny.h>
#include <corvane/core/CorvaneObject.h>
#include <corvane/core/EventEmitter.h>
#include <corvane/core/Logger.h>
#include <corvane/core/Result.h>
#include <corvane/extensions/Extension.h>
#include <corvane/extensions/ExtensionManager.h>
#include <corvane/graph/AudioNode.h>
#include <corvane/graph/AudioSinkNode.h>
#include <corvane/graph/Node.h>
#include <corvane/graph/NodeFactory.h>
#include <corvane/graph/NodeTypeInfo.h>
#include <corvane/graph/SingleBusAudioSinkNode.h>
