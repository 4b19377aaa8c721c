# The node's self-contained pieces (sample history, run window, transcript
# clean-up, phrase grammar) as a library of their own, so that their tests
# build without the rest of the node.
add_library(corvane_whisper_node_units STATIC
  ${CMAKE_SOURCE_DIR}/node/PhraseGrammar.cpp
  ${CMAKE_SOURCE_DIR}/node/SampleRingBuffer.cpp
  ${CMAKE_SOURCE_DIR}/node/TranscriptCleanup.cpp
  ${CMAKE_SOURCE_DIR}/node/TranscriptionWindow.cpp
)
target_include_directories(corvane_whisper_node_units PUBLIC ${CMAKE_SOURCE_DIR}/node)
# whisper.h only, for the grammar element type.
target_link_libraries(corvane_whisper_node_units PUBLIC whisper)
corvane_project_target(corvane_whisper_node_units)

corvane_add_test(SampleRingBufferTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SampleRingBufferTest.cpp
  LIBS corvane_whisper_node_units Threads::Threads
  LABELS unit)
corvane_add_test(TranscriptionWindowTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TranscriptionWindowTest.cpp
  LIBS corvane_whisper_node_units
  LABELS unit)
corvane_add_test(TranscriptCleanupTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TranscriptCleanupTest.cpp
  LIBS corvane_whisper_node_units
  LABELS unit)
corvane_add_test(PhraseGrammarTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PhraseGrammarTest.cpp
  LIBS corvane_whisper_node_units
  LABELS unit)
