# Where `cmake --install` puts things, relative to the prefix. Defined before
# the targets because the command-line host finds its extension and the shared
# models folder by these paths, relative to its own bin/ folder.
#
#   <libdir>/libCorvaneSDK.so*           the host library
#   <libdir>/corvane/extensions/         extension libraries (libCorvaneWhisper.so)
#   <libdir>/corvane/                    whisper.cpp's libraries, private to the extension
#   <datadir>/corvane/models/            models, searched by corvane-whisper
#   <libdir>/cmake/CorvaneSDK/, <libdir>/pkgconfig/corvane-sdk.pc
include(GNUInstallDirs)

set(CORVANE_INSTALL_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/corvane")
set(CORVANE_INSTALL_EXTENSIONS_DIR "${CMAKE_INSTALL_LIBDIR}/corvane/extensions")
set(CORVANE_INSTALL_MODELS_DIR "${CMAKE_INSTALL_DATADIR}/corvane/models")
set(CORVANE_INSTALL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/CorvaneSDK")

# corvane_install_relative_path(<out> <from> <to>): the path from one install
# folder to another, for $ORIGIN-relative RPATHs and relocatable lookups.
function(corvane_install_relative_path out from to)
  cmake_path(SET relative NORMALIZE "/prefix/${to}")
  cmake_path(RELATIVE_PATH relative BASE_DIRECTORY "/prefix/${from}")
  string(REGEX REPLACE "/$" "" relative "${relative}")
  if(relative STREQUAL "")
    set(relative ".")
  endif()
  set(${out} "${relative}" PARENT_SCOPE)
endfunction()
