# Provides the target `whisper` (whisper.cpp's shared library).
#
# Default: build it from the sources that scripts/fetch-whisper unpacked, CPU
# backend, no examples or tests. With CORVANE_USE_INSTALLED_WHISPER=ON an
# installed whisper.cpp is used instead (set CMAKE_PREFIX_PATH to its prefix).
# CORVANE_WHISPER_PREBUILT_DIR names a folder holding libwhisper.so built from
# the fetched sources by another build tree (its bin/): the sanitizer builds
# reuse the main build's whisper.cpp that way instead of compiling it again.
#
# whisper.cpp and ggml are compiled with CMake's Release flags (-O3 -DNDEBUG,
# plus -g where the build type keeps debug information) whatever the build
# type of our own code: at -O2 whisper.cpp took twice as long (whisper-cli on
# our libraries, AMD EPYC with AVX2), and -O0 is slower still.
# CORVANE_WHISPER_RELEASE=OFF compiles them at the build type like the rest,
# for stepping through whisper.cpp itself.
#
# CORVANE_PORTABLE_CPU=ON builds ggml's CPU backend once for each x86-64
# feature level (libggml-cpu-<level>.so beside libggml) and picks the best the
# running CPU supports when libwhisper is loaded, so that a tree built on one
# machine runs on any other. The default builds one backend for this
# machine's CPU (-march=native), which may die with SIGILL on an older one.
#
# CORVANE_GPU adds a GPU backend to ggml beside the CPU one: "vulkan" (any GPU
# a Vulkan driver serves: Intel, AMD, NVIDIA; needs glslc, the Vulkan loader
# and SPIR-V headers, and Vulkan-Hpp headers newer than Debian 12's, given as
# Vulkan_INCLUDE_DIR; scripts/setup --gpu vulkan provides them all) or "cuda"
# (NVIDIA, with the CUDA toolkit). Empty, the default, builds the CPU backend
# alone. The node runs on the GPU when "useGPU" asks for it.
set(CORVANE_WHISPER_PREBUILT_DIR "" CACHE PATH "Folder with a libwhisper.so built from the fetched sources")
option(CORVANE_WHISPER_RELEASE "Compile whisper.cpp and ggml with Release optimisation whatever CMAKE_BUILD_TYPE is" ON)
option(CORVANE_PORTABLE_CPU "Build ggml's CPU backend for every x86-64 feature level and choose at run time" OFF)
set(CORVANE_GPU "" CACHE STRING "GPU backend for whisper.cpp: vulkan, cuda, or empty for the CPU alone")
set_property(CACHE CORVANE_GPU PROPERTY STRINGS "" vulkan cuda)
if(NOT CORVANE_GPU MATCHES "^(|vulkan|cuda)$")
  message(FATAL_ERROR "CORVANE_GPU is '${CORVANE_GPU}'; use vulkan, cuda, or leave it empty for the CPU alone")
elseif(CORVANE_GPU AND (CORVANE_WHISPER_PREBUILT_DIR OR CORVANE_USE_INSTALLED_WHISPER))
  message(FATAL_ERROR "CORVANE_GPU applies to the whisper.cpp built here, not to a prebuilt or installed one")
endif()

if(CORVANE_WHISPER_PREBUILT_DIR)
  if(NOT EXISTS "${CORVANE_WHISPER_PREBUILT_DIR}/libwhisper.so")
    message(FATAL_ERROR "No libwhisper.so in ${CORVANE_WHISPER_PREBUILT_DIR}; build the main tree first (scripts/setup).")
  endif()
  add_library(whisper SHARED IMPORTED GLOBAL)
  # The node asks ggml's device registry (libggml, libggml-base) which device
  # it runs on.
  set_target_properties(whisper PROPERTIES
    IMPORTED_LOCATION "${CORVANE_WHISPER_PREBUILT_DIR}/libwhisper.so"
    INTERFACE_LINK_LIBRARIES "${CORVANE_WHISPER_PREBUILT_DIR}/libggml.so;${CORVANE_WHISPER_PREBUILT_DIR}/libggml-base.so"
    INTERFACE_INCLUDE_DIRECTORIES "${CORVANE_WHISPER_SOURCE_DIR}/include;${CORVANE_WHISPER_SOURCE_DIR}/ggml/include")
  # libwhisper finds its ggml libraries beside it through our RPATH.
  add_link_options(LINKER:--disable-new-dtags)
elseif(CORVANE_USE_INSTALLED_WHISPER)
  if(CORVANE_PORTABLE_CPU)
    message(FATAL_ERROR "CORVANE_PORTABLE_CPU applies to the whisper.cpp built here, not to an installed one")
  endif()
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
  # llamafile's tiled matrix kernels for f16 and quantised weights: whisper's
  # encoder takes 420 ms instead of 720 ms for 11 s of speech (tiny.en, 2
  # threads, a Xeon whose AMX we leave out, see below), less than
  # whisper.cpp's own build needs with AMX's f16 kernel (460 ms).
  set(GGML_LLAMAFILE ON CACHE BOOL "" FORCE)
  # Set both ways, so that switching an existing tree rebuilds it right.
  if(CORVANE_PORTABLE_CPU)
    set(GGML_NATIVE OFF CACHE BOOL "" FORCE)
    set(GGML_BACKEND_DL ON CACHE BOOL "" FORCE)
    set(GGML_CPU_ALL_VARIANTS ON CACHE BOOL "" FORCE)
  else()
    set(GGML_NATIVE ON CACHE BOOL "" FORCE)
    set(GGML_BACKEND_DL OFF CACHE BOOL "" FORCE)
    set(GGML_CPU_ALL_VARIANTS OFF CACHE BOOL "" FORCE)
  endif()
  # Both ways too; a GPU backend is an extra library beside ggml's CPU one.
  set(GGML_VULKAN OFF CACHE BOOL "" FORCE)
  set(GGML_CUDA OFF CACHE BOOL "" FORCE)
  if(CORVANE_GPU)
    string(TOUPPER "GGML_${CORVANE_GPU}" gpu_option)
    set(${gpu_option} ON CACHE BOOL "" FORCE)
  endif()
  # ggml stamps itself with the commit of the git repository around its
  # sources, which is ours: each of our commits would rebuild it.
  set(GIT_EXE "" CACHE INTERNAL "no git commit stamp for ggml")
  # ggml appends each backend target it defines; start afresh so that a
  # switched tree does not list the other kind's targets.
  unset(GGML_AVAILABLE_BACKENDS CACHE)
  # These variables are directory-scoped: whisper.cpp's folders take the
  # values set here, ours keep their own once they are restored below.
  set(BUILD_SHARED_LIBS_SAVED ${BUILD_SHARED_LIBS})
  set(BUILD_SHARED_LIBS ON)
  # whisper.cpp sets its own visibility and warning flags.
  set(CMAKE_CXX_VISIBILITY_PRESET default)
  set(CMAKE_C_VISIBILITY_PRESET default)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN OFF)
  set(release_configs "")
  if(CORVANE_WHISPER_RELEASE)
    foreach(config IN LISTS CMAKE_BUILD_TYPE CMAKE_CONFIGURATION_TYPES)
      string(TOUPPER "${config}" config)
      if(NOT config STREQUAL "RELEASE")
        list(APPEND release_configs ${config})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES release_configs)
  endif()
  foreach(config IN LISTS release_configs)
    foreach(lang C CXX)
      set(saved_flags_${lang}_${config} "${CMAKE_${lang}_FLAGS_${config}}")
      set(release_flags "${CMAKE_${lang}_FLAGS_RELEASE}")
      # Debug information costs no speed; keep it where the build type has it.
      if(CMAKE_${lang}_FLAGS_${config} MATCHES "(^| )-g")
        string(APPEND release_flags " -g")
      endif()
      set(CMAKE_${lang}_FLAGS_${config} "${release_flags}")
    endforeach()
  endforeach()
  add_subdirectory("${CORVANE_WHISPER_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/third_party/whisper.cpp" EXCLUDE_FROM_ALL SYSTEM)
  foreach(config IN LISTS release_configs)
    foreach(lang C CXX)
      set(CMAKE_${lang}_FLAGS_${config} "${saved_flags_${lang}_${config}}")
    endforeach()
  endforeach()
  set(CMAKE_CXX_VISIBILITY_PRESET hidden)
  set(CMAKE_C_VISIBILITY_PRESET hidden)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
  set(BUILD_SHARED_LIBS ${BUILD_SHARED_LIBS_SAVED})
  include(CheckCCompilerFlag)
  # ggml's AMX kernels (quantised weights on CPUs with AMX) die with SIGILL
  # at their first tile load when compiled at -O3 (whisper-cli built as
  # whisper.cpp ships it too, with a q8_0 model on a Xeon with AMX); without
  # AMX the same weights take ggml's AVX-512 VNNI kernels.
  check_c_compiler_flag("-mno-amx-tile -mno-amx-int8" CORVANE_HAS_NO_AMX)
  if(CORVANE_HAS_NO_AMX)
    foreach(cpu_backend IN ITEMS ggml-cpu ggml-cpu-sapphirerapids)
      if(TARGET ${cpu_backend})
        target_compile_options(${cpu_backend} PRIVATE -mno-amx-tile -mno-amx-int8)
      endif()
    endforeach()
  endif()
  if(NOT CORVANE_PORTABLE_CPU)
    # With -march=native on a CPU that has AVX512-FP16, ggml does its f16
    # vector arithmetic in half precision; whisper's attention without flash
    # attention took 2.4 times the CPU time that way (Xeon with AVX512-FP16).
    # None of ggml's portable variants uses it either.
    check_c_compiler_flag(-mno-avx512fp16 CORVANE_HAS_NO_AVX512FP16)
    if(CORVANE_HAS_NO_AVX512FP16)
      target_compile_options(ggml-cpu PRIVATE -mno-avx512fp16)
    endif()
  endif()
  if(CORVANE_PORTABLE_CPU)
    # ggml loads no backend by itself; libwhisper loads the CPU variants from
    # its own folder when it is loaded (see the source for why there).
    target_sources(whisper PRIVATE "${CMAKE_SOURCE_DIR}/whisper-build/CpuBackendLoader.cpp")
    target_link_libraries(whisper PRIVATE ${CMAKE_DL_LIBS})
  endif()
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
