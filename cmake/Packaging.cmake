# Install rules and packages.
#
# Both programs live side by side in one directory, lib/quorrin/ under the prefix: each finds
# the other in its own directory, and each keeps its files there when it may write to it.
# The launcher bin/quorrin is a relative symbolic link, so the kernel reports the real
# executable in /proc/self/exe and the program directory is lib/quorrin/, not bin/.
#
#   cmake --install <build> [--prefix <dir>]   the layout below, without the portable copy
#   cpack --config <build>/CPackConfig.cmake   quorrin_<version>_<arch>.deb and a portable
#                                              quorrin-<version>-linux-<cpu>.tar.gz
#
# Layout under the prefix (the .deb uses /usr):
#   bin/quorrin -> ../lib/quorrin/quorrin
#   lib/quorrin/quorrin, lib/quorrin/updater
#   share/applications/quorrin.desktop
#   share/metainfo/<id>.metainfo.xml
#   share/icons/hicolor/{32x32/apps/quorrin.png,scalable/apps/quorrin.svg}
#   share/man/man1/quorrin.1.gz
#   share/doc/quorrin/{copyright,changelog.gz}

set(QUORRIN_PROGRAM_DESTINATION lib/quorrin)
set(QUORRIN_PACKAGE_MAINTAINER
    "Quorrin developers <maintainers@users.noreply.c-seed-e6fec402.example>"
    CACHE STRING "Maintainer named in the Debian package")
# Software centres know the program by this reverse domain name; a maker sets one of theirs.
set(QUORRIN_APPSTREAM_ID "org.example.quorrin" CACHE STRING "AppStream component id")
if(NOT QUORRIN_APPSTREAM_ID MATCHES "^[a-z0-9_-]+(\\.[a-z0-9_-]+)+$")
  message(FATAL_ERROR "QUORRIN_APPSTREAM_ID must be a reverse domain name in lower case")
endif()

set(packaging_source ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_binary ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_binary})

# Packages want 0755 directories whatever the umask of the one who builds them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The updater is built only for a build that names an update site; without one only quorrin
# ships.
set(quorrin_programs quorrin)
if(TARGET updater)
  list(APPEND quorrin_programs updater)
endif()

install(TARGETS ${quorrin_programs} RUNTIME DESTINATION ${QUORRIN_PROGRAM_DESTINATION}
        COMPONENT system)

file(CREATE_LINK ../${QUORRIN_PROGRAM_DESTINATION}/quorrin ${packaging_binary}/quorrin SYMBOLIC)
install(FILES ${packaging_binary}/quorrin DESTINATION bin COMPONENT system)

install(FILES ${packaging_source}/quorrin.desktop DESTINATION share/applications
        COMPONENT system)

# The homepage and the screenshot are the update site's: a build without one names neither,
# since AppStream wants absolute web addresses. The maker publishes packaging/screenshot.png
# there.
set(QUORRIN_METAINFO_WEB "")
if(QUORRIN_UPDATE_BASE_URL)
  string(CONCAT QUORRIN_METAINFO_WEB
    "  <url type=\"homepage\">${QUORRIN_UPDATE_BASE_URL}</url>\n"
    "  <screenshots>\n"
    "    <screenshot type=\"default\">\n"
    "      <caption>The download queue with its report</caption>\n"
    "      <caption xml:lang=\"fr\">La file de téléchargements et son compte rendu</caption>\n"
    "      <image>${QUORRIN_UPDATE_BASE_URL}screenshot.png</image>\n"
    "    </screenshot>\n"
    "  </screenshots>\n")
endif()
set(metainfo ${packaging_binary}/${QUORRIN_APPSTREAM_ID}.metainfo.xml)
configure_file(${packaging_source}/quorrin.metainfo.xml.in ${metainfo} @ONLY)
install(FILES ${metainfo} DESTINATION share/metainfo COMPONENT system)

# The theme's 32x32 bitmap is rendered from the same picture as the scalable icon.
set(icon_svg ${PROJECT_SOURCE_DIR}/downloader/window/artwork/icon.svg)
set(icon_png ${packaging_binary}/quorrin.png)
add_executable(rendericon ${packaging_source}/rendericon.cpp)
target_link_libraries(rendericon PRIVATE Qt6::Gui Qt6::Svg)
set_target_properties(rendericon PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${packaging_binary})
add_custom_command(
  OUTPUT ${icon_png}
  # A sanitized build runs the tool too; Qt's one-time allocations are not worth a failure.
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:rendericon> ${icon_svg} 32 ${icon_png}
  DEPENDS rendericon ${icon_svg}
  COMMENT "Rendering the 32x32 icon"
  VERBATIM)
add_custom_target(quorrin_icon ALL DEPENDS ${icon_png})
install(FILES ${icon_png} DESTINATION share/icons/hicolor/32x32/apps COMPONENT system)
install(FILES ${icon_svg} DESTINATION share/icons/hicolor/scalable/apps RENAME quorrin.svg
        COMPONENT system)

# Debian wants the changelog compressed, reproducibly (no name or time in the gzip header).
find_program(QUORRIN_GZIP gzip REQUIRED)
set(changelog_gz ${packaging_binary}/changelog.gz)
add_custom_command(
  OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${packaging_source}/changelog ${packaging_binary}/changelog
  COMMAND ${QUORRIN_GZIP} -9nf ${packaging_binary}/changelog
  DEPENDS ${packaging_source}/changelog
  VERBATIM)
add_custom_target(quorrin_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${packaging_source}/copyright ${changelog_gz} DESTINATION share/doc/quorrin
        COMPONENT system)

# The manual page is written in roff (man macros) and installed compressed, as Debian wants.
set(manual_gz ${packaging_binary}/quorrin.1.gz)
add_custom_command(
  OUTPUT ${manual_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${packaging_source}/quorrin.1 ${packaging_binary}/quorrin.1
  COMMAND ${QUORRIN_GZIP} -9nf ${packaging_binary}/quorrin.1
  DEPENDS ${packaging_source}/quorrin.1
  VERBATIM)
add_custom_target(quorrin_manual ALL DEPENDS ${manual_gz})
install(FILES ${manual_gz} DESTINATION share/man/man1 COMPONENT system)

# The portable copy: the one program directory, to unpack and run anywhere. Only CPack's
# archive installs it; `cmake --install` leaves it out.
install(TARGETS ${quorrin_programs} RUNTIME DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME quorrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorrin developers")
set(CPACK_PACKAGE_CONTACT ${QUORRIN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download queue for the desktop")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorrin keeps a list of addresses to download, proposes a storage path for\n"
    "each one, and fetches them all in turn with a report of every step. A small\n"
    "companion program checks once a day for a newer version. The interface is\n"
    "in French.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PROJECT_CONFIG_FILE ${packaging_source}/cpackgenerators.cmake)
set(CPACK_QUORRIN_PORTABLE_NAME "quorrin-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUORRIN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's French catalogue and the SVG icon engine that draws the artwork are loaded at run time,
# so no library scan finds them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, libqt6svg6")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)
