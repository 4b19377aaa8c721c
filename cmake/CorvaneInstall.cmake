# `cmake --install <build> --prefix DIR`: the host library with its headers, a
# CMake package (Corvane::SDK) and a pkg-config file (corvane-sdk), the
# extension in the extensions folder with the whisper.cpp libraries it needs,
# the command-line host and the models folder (layout: CorvaneInstallDirs.cmake).
# Every RPATH of the installed tree is $ORIGIN-relative, so the tree can be
# moved and never reaches back into this build.
include(CMakePackageConfigHelpers)

if(CORVANE_WHISPER_PREBUILT_DIR)
  # The sanitizer and fuzzing trees borrow another tree's whisper.cpp, whose
  # RPATHs point into that tree: nothing here is fit to ship.
  install(CODE "message(FATAL_ERROR \"This build uses the whisper.cpp of ${CORVANE_WHISPER_PREBUILT_DIR} \"
    \"(CORVANE_WHISPER_PREBUILT_DIR) and cannot be installed; install a tree configured without it.\")")
  return()
endif()

corvane_install_relative_path(sdk_from_extension "${CORVANE_INSTALL_EXTENSIONS_DIR}" "${CMAKE_INSTALL_LIBDIR}")
corvane_install_relative_path(whisper_from_extension "${CORVANE_INSTALL_EXTENSIONS_DIR}" "${CORVANE_INSTALL_PRIVATE_LIBDIR}")
corvane_install_relative_path(sdk_from_bin "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_LIBDIR}")
corvane_install_relative_path(whisper_from_bin "${CMAKE_INSTALL_BINDIR}" "${CORVANE_INSTALL_PRIVATE_LIBDIR}")
corvane_install_relative_path(prefix_from_pkgconfig "${CMAKE_INSTALL_LIBDIR}/pkgconfig" ".")

# The host library, its headers and how applications find them.
install(TARGETS CorvaneSDK EXPORT CorvaneSDKTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(DIRECTORY "${CMAKE_SOURCE_DIR}/host/include/corvane" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(EXPORT CorvaneSDKTargets NAMESPACE Corvane:: DESTINATION "${CORVANE_INSTALL_CMAKE_DIR}")
configure_package_config_file(cmake/CorvaneSDKConfig.cmake.in
  "${CMAKE_BINARY_DIR}/CorvaneSDKConfig.cmake"
  INSTALL_DESTINATION "${CORVANE_INSTALL_CMAKE_DIR}"
  PATH_VARS CORVANE_INSTALL_EXTENSIONS_DIR CORVANE_INSTALL_MODELS_DIR)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/CorvaneSDKConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_BINARY_DIR}/CorvaneSDKConfig.cmake" "${CMAKE_BINARY_DIR}/CorvaneSDKConfigVersion.cmake"
  DESTINATION "${CORVANE_INSTALL_CMAKE_DIR}")
configure_file(cmake/corvane-sdk.pc.in "${CMAKE_BINARY_DIR}/corvane-sdk.pc" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/corvane-sdk.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# The extension, and the whisper.cpp it was built with.
set_target_properties(CorvaneWhisper PROPERTIES
  INSTALL_RPATH "$ORIGIN/${whisper_from_extension};$ORIGIN/${sdk_from_extension}")
install(TARGETS CorvaneWhisper LIBRARY DESTINATION "${CORVANE_INSTALL_EXTENSIONS_DIR}")
if(CORVANE_USE_INSTALLED_WHISPER)
  # An installed whisper.cpp stays where it is; the RPATH names its folder.
  set_target_properties(CorvaneWhisper PROPERTIES INSTALL_RPATH_USE_LINK_PATH ON)
else()
  # In a portable build the backends are ggml's CPU modules, one per x86-64
  # level, which libwhisper loads from its own folder.
  set(whisper_libraries whisper ggml ggml-base ${GGML_AVAILABLE_BACKENDS})
  list(REMOVE_DUPLICATES whisper_libraries)
  # libwhisper finds ggml, and ggml its backends, beside itself. whisper.cpp's
  # own install rules (headers, its CMake package) are left out: these copies
  # are the extension's, not for applications to link.
  set_target_properties(${whisper_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN" PUBLIC_HEADER "")
  install(TARGETS ${whisper_libraries} LIBRARY DESTINATION "${CORVANE_INSTALL_PRIVATE_LIBDIR}" NAMELINK_SKIP)
endif()

if(TARGET corvane-whisper)
  set_target_properties(corvane-whisper PROPERTIES
    INSTALL_RPATH "$ORIGIN/${sdk_from_bin};$ORIGIN/${whisper_from_bin}"
    INSTALL_RPATH_USE_LINK_PATH ${CORVANE_USE_INSTALLED_WHISPER})
  install(TARGETS corvane-whisper RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# The models folder; any model placed in files/ by the time of the install
# travels with it.
install(DIRECTORY "${CMAKE_SOURCE_DIR}/files/" DESTINATION "${CORVANE_INSTALL_MODELS_DIR}"
  FILES_MATCHING PATTERN "*.bin")
