# Installed like a Linux application: the programs, the tool links and the
# artwork together in a libexec folder of ours (the programs find them beside
# themselves, never on PATH), links to the programs in bin, the desktop file,
# icon, AppStream metainfo, man page, bash completion and the card reader
# udev rule. `cpack -G DEB` makes the .deb from the same rules.
# RK_INSTALL_FOLDER (libexec/reelkeep) is set in the top CMakeLists.txt.

# reelkeep-cli(1) from the program's own help, so it lists every command.
set(RK_MAN_PAGE ${CMAKE_BINARY_DIR}/man/reelkeep-cli.1)
add_custom_command(OUTPUT ${RK_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND ${PROJECT_SOURCE_DIR}/tools/make_man.sh $<TARGET_FILE:reelkeep-cli> ${PROJECT_VERSION} ${RK_MAN_PAGE}
  DEPENDS reelkeep-cli ${PROJECT_SOURCE_DIR}/tools/make_man.sh
  COMMENT "Writing the reelkeep-cli man page" VERBATIM)
add_custom_target(rk_man_page ALL DEPENDS ${RK_MAN_PAGE})
configure_file(${PROJECT_SOURCE_DIR}/dist/com.korvix.Reelkeep.metainfo.xml
  ${CMAKE_BINARY_DIR}/dist/com.korvix.Reelkeep.metainfo.xml @ONLY)

install(TARGETS reelkeep-cli RUNTIME DESTINATION ${RK_INSTALL_FOLDER})
if(TARGET reelkeep)
  install(TARGETS reelkeep RUNTIME DESTINATION ${RK_INSTALL_FOLDER} OPTIONAL)
endif()
install(FILES ${RK_BIN_DIR}/loop.png DESTINATION ${RK_INSTALL_FOLDER})
install(FILES ${RK_BIN_DIR}/LCDM2B__.TTF DESTINATION ${RK_INSTALL_FOLDER} OPTIONAL)
# The tool links point at the system's tools, as in the build folder; the
# program links in bin are relative, so a package unpacked anywhere works.
install(CODE "
  set(folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${RK_INSTALL_FOLDER}\")
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(MAKE_DIRECTORY \"\${folder}\" \"\${bin}\")
  file(CREATE_LINK \"${RK_FFMPEG}\" \"\${folder}/ffmpeg\" SYMBOLIC)
  file(CREATE_LINK \"${RK_FFPROBE}\" \"\${folder}/ffprobe\" SYMBOLIC)
  file(CREATE_LINK \"${RK_IMG_CONVERT}\" \"\${folder}/img_convert\" SYMBOLIC)
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
install(FILES ${RK_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/dist/reelkeep-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME reelkeep-cli)
install(FILES ${PROJECT_SOURCE_DIR}/dist/60-reelkeep-cards.rules DESTINATION lib/udev/rules.d)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME reelkeep)
set(CPACK_PACKAGE_VENDOR Korvix)
set(CPACK_PACKAGE_CONTACT "Korvix <support@korvix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Prepare the SD cards of a 4Kp50 video playout device")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, imagemagick-6.q16, fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
include(CPack)
