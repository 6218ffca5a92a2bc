# Installed like a Linux application: the programs, the tool links and the
# artwork together in a libexec folder of ours (the programs find them beside
# themselves, never on PATH), links to the programs in bin, the desktop file,
# icon, AppStream metainfo, man page, bash completion and the card reader
# udev rule. `cpack -G DEB` makes the .deb from the same rules.
# RK_INSTALL_FOLDER (libexec/reelkeep) is set in the top CMakeLists.txt.
# Debian names the documentation folder after the package.
set(RK_DOC_FOLDER ${CMAKE_INSTALL_DATAROOTDIR}/doc/reelkeep)

configure_file(${PROJECT_SOURCE_DIR}/dist/com.korvix.Reelkeep.metainfo.xml
  ${CMAKE_BINARY_DIR}/dist/com.korvix.Reelkeep.metainfo.xml @ONLY)

install(TARGETS reelkeep-cli RUNTIME DESTINATION ${RK_INSTALL_FOLDER})
if(TARGET reelkeep)
  install(TARGETS reelkeep RUNTIME DESTINATION ${RK_INSTALL_FOLDER} OPTIONAL)
endif()
install(FILES ${RK_BIN_DIR}/loop.png DESTINATION ${RK_INSTALL_FOLDER})
# The tool links and the title font point at the system's files, as in the
# build folder; every link is relative (to where the files are under the
# prefix), so a package unpacked anywhere works and Debian's rules hold.
install(CODE "
  set(folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${RK_INSTALL_FOLDER}\")
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(MAKE_DIRECTORY \"\${folder}\" \"\${bin}\")
  foreach(link ffmpeg=${RK_FFMPEG} ffprobe=${RK_FFPROBE} img_convert=${RK_IMG_CONVERT} LCDM2B__.TTF=${RK_TITLE_FONT})
    string(REGEX MATCH \"^([^=]+)=(.*)$\" _ \"\${link}\")
    file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${RK_INSTALL_FOLDER}\" \"\${CMAKE_MATCH_2}\")
    file(CREATE_LINK \"\${target}\" \"\${folder}/\${CMAKE_MATCH_1}\" SYMBOLIC)
  endforeach()
  # The man pages go compressed, as Debian keeps them.
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${RK_DOC_FOLDER}\")
  foreach(page reelkeep-cli.1 reelkeep.1)
    execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/dist/\${page}
      OUTPUT_FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/\${page}.gz\")
  endforeach()
  execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/dist/changelog
    OUTPUT_FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${RK_DOC_FOLDER}/changelog.gz\")
  foreach(program reelkeep-cli reelkeep)
    if(EXISTS \"\${folder}/\${program}\")
      file(CREATE_LINK \"../${RK_INSTALL_FOLDER}/\${program}\" \"\${bin}/\${program}\" SYMBOLIC)
    endif()
  endforeach()
")
install(FILES ${PROJECT_SOURCE_DIR}/dist/reelkeep.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/tools/artwork/png/app_icon.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps RENAME reelkeep.png)
install(FILES ${CMAKE_BINARY_DIR}/dist/com.korvix.Reelkeep.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/dist/reelkeep-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME reelkeep-cli)
install(FILES ${PROJECT_SOURCE_DIR}/dist/60-reelkeep-cards.rules DESTINATION lib/udev/rules.d)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/dist/copyright DESTINATION ${RK_DOC_FOLDER})

set(CPACK_PACKAGE_NAME reelkeep)
set(CPACK_PACKAGE_VENDOR Korvix)
set(CPACK_PACKAGE_CONTACT "Korvix <support@korvix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Prepare the SD cards of a 4Kp50 video playout device")
# The long description; cpack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Reelkeep writes the raw layout the playout device reads over a whole SD
card: a fixed directory, then videos in its own intra-frame codec with
24-bit sound, still images, playlists, transition effects and animated
logos. It imports anything ffmpeg reads and reads every item back.

The package holds the Qt window (reelkeep) and the command-line tool
(reelkeep-cli) for scripts and for preparing many cards at once.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, imagemagick-6.q16, fonts-dejavu-core")
# Qt's own dialogs (file choice) in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://korvix.invalid/reelkeep")
set(CPACK_STRIP_FILES ON)
include(CPack)
