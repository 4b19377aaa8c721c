# Provides the target `whisper` (whisper.cpp's shared library).
#
# Default: build it from the sources that scripts/fetch-whisper unpacked, CPU
# backend, no examples or tests. With CORVANE_USE_INSTALLED_WHISPER=ON an
# installed whisper.cpp is used instead (set CMAKE_PREFIX_PATH to its prefix).
# CORVANE_WHISPER_PREBUILT_DIR names a folder holding libwhisper.so built from
# the fetched sources by another build tree (its bin/): the sanitizer builds
# reuse the main build's whisper.cpp that way instead of compiling it again.
set(CORVANE_WHISPER_PREBUILT_DIR "" CACHE PATH "Folder with a libwhisper.so built from the fetched sources")

if(CORVANE_WHISPER_PREBUILT_DIR)
  if(NOT EXISTS "${CORVANE_WHISPER_PREBUILT_DIR}/libwhisper.so")
    message(FATAL_ERROR "No libwhisper.so in ${CORVANE_WHISPER_PREBUILT_DIR}; build the main tree first (scripts/setup).")
  endif()
  add_library(whisper SHARED IMPORTED GLOBAL)
  set_target_properties(whisper PROPERTIES
    IMPORTED_LOCATION "${CORVANE_WHISPER_PREBUILT_DIR}/libwhisper.so"
    INTERFACE_INCLUDE_DIRECTORIES "${CORVANE_WHISPER_SOURCE_DIR}/include;${CORVANE_WHISPER_SOURCE_DIR}/ggml/include")
  # libwhisper finds its ggml libraries beside it through our RPATH.
  add_link_options(LINKER:--disable-new-dtags)
elseif(CORVANE_USE_INSTALLED_WHISPER)
  find_package(whisper REQUIRED CONFIG)
  if(NOT TARGET whisper)
    message(FATAL_ERROR "The installed whisper.cpp package defines no 'whisper' target")
  endif()
  # An installed libwhisper may not say where its ggml libraries are; an
  # old-style RPATH (unlike RUNPATH) also serves those indirect dependencies.
  add_link_options(LINKER:--disable-new-dtags)
else()
  if(NOT EXISTS "${CORVANE_WHISPER_SOURCE_DIR}/include/whisper.h")
    message(FATAL_ERROR
      "whisper.cpp sources not found in ${CORVANE_WHISPER_SOURCE_DIR}.\n"
      "Run scripts/fetch-whisper (scripts/setup does it for you), or configure with "
      "-DCORVANE_USE_INSTALLED_WHISPER=ON to use an installed whisper.cpp.")
  endif()
  set(WHISPER_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
  set(WHISPER_BUILD_TESTS OFF CACHE BOOL "" FORCE)
  set(WHISPER_BUILD_SERVER OFF CACHE BOOL "" FORCE)
  set(WHISPER_CURL OFF CACHE BOOL "" FORCE)
  set(WHISPER_SDL2 OFF CACHE BOOL "" FORCE)
  # ggml's own thread pool instead of OpenMP: no spinning OpenMP workers left
  # competing with the host's audio thread after a run.
  set(GGML_OPENMP OFF CACHE BOOL "" FORCE)
  set(BUILD_SHARED_LIBS_SAVED ${BUILD_SHARED_LIBS})
  set(BUILD_SHARED_LIBS ON)
  # whisper.cpp sets its own visibility and warning flags.
  set(CMAKE_CXX_VISIBILITY_PRESET default)
  set(CMAKE_C_VISIBILITY_PRESET default)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN OFF)
  add_subdirectory("${CORVANE_WHISPER_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/third_party/whisper.cpp" EXCLUDE_FROM_ALL SYSTEM)
  set(CMAKE_CXX_VISIBILITY_PRESET hidden)
  set(CMAKE_C_VISIBILITY_PRESET hidden)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
  set(BUILD_SHARED_LIBS ${BUILD_SHARED_LIBS_SAVED})
endif()

# `corvane_ggml`: ggml's base library (tensor types, quantisation), which the
# model importer calls directly; it is the copy libwhisper itself uses.
add_library(corvane_ggml INTERFACE)
if(CORVANE_WHISPER_PREBUILT_DIR)
  target_link_libraries(corvane_ggml INTERFACE "${CORVANE_WHISPER_PREBUILT_DIR}/libggml-base.so" whisper)
elseif(CORVANE_USE_INSTALLED_WHISPER)
  target_link_libraries(corvane_ggml INTERFACE ggml::ggml-base)
else()
  target_link_libraries(corvane_ggml INTERFACE ggml-base)
endif()
