# Installation into a prefix: the program and its engine library side by side in a private
# folder (the player looks for the library in its own folder first, and Qt gives the folder of
# the resolved program, not of a link to it), a link in bin/, and what a desktop needs to show
# and start it: the desktop entry, the icons, the AppStream metainfo and the manual page.
include(GNUInstallDirs)

set(KELPA_PRIVATE_DIR ${CMAKE_INSTALL_LIBEXECDIR}/kelpa)
set(KELPA_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${KELPA_DIST_DIR})

# The engine library is loaded by path, and Qt comes from the system: no search path is needed.
set_target_properties(kelpa vbmp3 PROPERTIES INSTALL_RPATH "")
install(TARGETS kelpa RUNTIME DESTINATION ${KELPA_PRIVATE_DIR})
# A library is read and mapped, never run.
install(TARGETS vbmp3 LIBRARY DESTINATION ${KELPA_PRIVATE_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The link is made relative so the tree still works when moved or staged under DESTDIR.
file(RELATIVE_PATH kelpa_link_target /prefix/${CMAKE_INSTALL_BINDIR}
  /prefix/${KELPA_PRIVATE_DIR}/kelpa)
file(CREATE_LINK ${kelpa_link_target} ${KELPA_DIST_DIR}/kelpa SYMBOLIC)
install(FILES ${KELPA_DIST_DIR}/kelpa DESTINATION ${CMAKE_INSTALL_BINDIR})

# Theme icons drawn from the program's own icon by a small Qt tool, so the build needs
# nothing beyond its own packages.
add_executable(kelpa_iconpng ${CMAKE_SOURCE_DIR}/dist/iconpng.cpp)
target_link_libraries(kelpa_iconpng PRIVATE Qt6::Gui)
kelpa_target(kelpa_iconpng)
set(kelpa_icon_source ${CMAKE_SOURCE_DIR}/player/kelpa.ico)
set(kelpa_dist_outputs)
foreach(size 16 32 48 256)
  set(png ${KELPA_DIST_DIR}/icons/${size}/kelpa.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KELPA_DIST_DIR}/icons/${size}
    # Qt keeps some memory until exit; a sanitizer build must not fail over it.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:kelpa_iconpng> ${kelpa_icon_source} ${size} ${png}
    DEPENDS kelpa_iconpng ${kelpa_icon_source}
    COMMENT "Icon ${size}x${size}")
  list(APPEND kelpa_dist_outputs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The manual page and the metainfo show the project's version and release day. The change log is
# written at each release: its latest entry must be of this version.
configure_file(${CMAKE_SOURCE_DIR}/dist/kelpa.1.in ${KELPA_DIST_DIR}/kelpa.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/dist/example.kelpa.player.metainfo.xml.in
  ${KELPA_DIST_DIR}/example.kelpa.player.metainfo.xml @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/dist/changelog ${KELPA_DIST_DIR}/changelog COPYONLY)
file(STRINGS ${CMAKE_SOURCE_DIR}/dist/changelog kelpa_changelog_top LIMIT_COUNT 1)
string(FIND "${kelpa_changelog_top}" "kelpa (${PROJECT_VERSION}) " kelpa_at)
if(NOT kelpa_at EQUAL 0)
  message(FATAL_ERROR "dist/changelog: the latest entry is not of version ${PROJECT_VERSION}")
endif()

# Debian wants the manual page and the change log compressed, without a time stamp.
find_program(KELPA_GZIP gzip REQUIRED)
foreach(name kelpa.1 changelog)
  set(gz ${KELPA_DIST_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${KELPA_GZIP} -9nc ${KELPA_DIST_DIR}/${name} > ${gz}
    DEPENDS ${KELPA_DIST_DIR}/${name}
    COMMENT "Compressing ${name}")
  list(APPEND kelpa_dist_outputs ${gz})
endforeach()
add_custom_target(kelpa_dist ALL DEPENDS ${kelpa_dist_outputs})
# A build of the program alone (scripts/run.sh builds only that) leaves all that installing and
# packaging take: the icons, the manual page and the change log come with it.
add_dependencies(kelpa kelpa_dist)

install(FILES ${CMAKE_SOURCE_DIR}/dist/kelpa.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KELPA_DIST_DIR}/example.kelpa.player.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KELPA_DIST_DIR}/kelpa.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/dist/copyright ${KELPA_DIST_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
