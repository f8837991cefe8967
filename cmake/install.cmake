# What `cmake --install build --prefix P` puts under P, and `cpack -G DEB`
# packs: the programs in bin, the desktop entry, icon and AppStream metadata,
# the manuals, bash completion for tarnel-cli, and the sample images in
# share/tarnel (whose presence tells an installed program apart from a build
# tree: platform/ProgramFolder.h).

set(TARNEL_APPSTREAM_ID org.tarnel.tarnel)
set(TARNEL_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(TARNEL_MAN_DIR ${CMAKE_BINARY_DIR}/man)

install(TARGETS tarnel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

function(tarnel_manual name)
  cmake_parse_arguments(M "" "CLI" "DEPENDS" ${ARGN})
  set(page ${TARNEL_MAN_DIR}/${name}.1.gz)
  set(template ${TARNEL_RESOURCES}/man/${name}.1.in)
  set(args -DTEMPLATE=${template} -DOUTPUT=${page}
           -DPROJECT_VERSION=${PROJECT_VERSION} -DTARNEL_RELEASE_DATE=${TARNEL_RELEASE_DATE})
  if(M_CLI)
    list(APPEND args -DCLI=$<TARGET_FILE:${M_CLI}> -DAWK_SCRIPT=${TARNEL_RESOURCES}/man/commands.awk)
  endif()
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} ${args} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${template} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake ${M_DEPENDS}
    COMMENT "Writing the manual ${name}(1)"
    VERBATIM)
  add_custom_target(${name}_manual ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The commands part comes from the built program's --help.
tarnel_manual(tarnel-cli CLI tarnel-cli DEPENDS tarnel-cli ${TARNEL_RESOURCES}/man/commands.awk)

install(FILES ${TARNEL_RESOURCES}/bash-completion/tarnel-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(DIRECTORY ${TARNEL_RESOURCES}/samples DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnel)

if(TARGET tarnel)
  install(TARGETS tarnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  tarnel_manual(tarnel)
  # QApplication::setDesktopFileName("tarnel") names the desktop entry.
  install(FILES ${TARNEL_RESOURCES}/tarnel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TARNEL_RESOURCES}/tarnel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file(${TARNEL_RESOURCES}/tarnel.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/${TARNEL_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${TARNEL_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# cpack -G DEB (in the build folder): the dependencies are the packages of the
# shared libraries the programs link (dpkg-shlibdeps) and what they load
# without linking it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarnel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "morph one picture into another")
set(CPACK_PACKAGE_DESCRIPTION [=[Tarnel lays a mesh of control points over a start and an end image and
renders the frames between them: warped triangle by triangle and
cross-dissolved, written as BMP, JPEG or GIF files. Around the morph:
trimming and resizing of the sources, a frame viewer, AVI, MP4 and WebM
export, an AVI player and an animated GIF composer. The user interface is
Japanese; tarnel-cli runs the same engine from the command line.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FFmpeg is opened on first use, so the shared-library scan does not see it:
# its packages by the major versions built against (libavcodec59, or the
# -extra build of it).
set(TARNEL_FFMPEG_PACKAGES "")
foreach(library avutil swscale avcodec avformat)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_lib${library}_VERSION}")
  if(library STREQUAL "avcodec")
    list(APPEND TARNEL_FFMPEG_PACKAGES "lib${library}${major} | lib${library}-extra${major}")
  else()
    list(APPEND TARNEL_FFMPEG_PACKAGES "lib${library}${major}")
  endif()
endforeach()
list(JOIN TARNEL_FFMPEG_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
if(TARGET tarnel)
  # The Japanese face of the windows and the Japanese texts of Qt's own dialogs.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", fonts-ipafont-gothic | fonts-noto-cjk, qt6-translations-l10n")
endif()
include(CPack)
