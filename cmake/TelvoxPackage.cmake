# What `cmake --install` puts beside the program for the desktop, and the Debian package that
# `scripts/package` makes of it with CPack: the launcher, the icon in the hicolor theme (the SVG
# and PNGs rendered from it), the AppStream metainfo, the manual page, the copyright file and
# the changelog.
# The program, its SIP module and the systemd user unit install themselves (src/app, src/platform).
include(GNUInstallDirs)

set(TELVOX_HOMEPAGE "https://telvox.example.org" CACHE STRING
  "The project's home page, named by the AppStream metainfo (its screenshots are <homepage>/docs/*.png)")
set(TELVOX_APPSTREAM_ID "org.example.telvox" CACHE STRING "The AppStream component id")
set(TELVOX_PACKAGE_MAINTAINER "The Telvox maintainers <maintainers@telvox.example.org>" CACHE STRING
  "The Debian package's Maintainer field")

set(package_resources ${PROJECT_SOURCE_DIR}/resources/package)
set(desktop_resources ${PROJECT_SOURCE_DIR}/resources/desktop)
set(package_build ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${package_build})

# The release date of the metainfo comes from the changelog's newest entry, whose version must be
# the project's: a version raised without a changelog entry stops the configuration here rather
# than producing a package that contradicts itself.
file(STRINGS ${package_resources}/changelog changelog_lines)
list(GET changelog_lines 0 changelog_head)
if(NOT changelog_head MATCHES "^telvox \\(([^)]+)\\)")
  message(FATAL_ERROR "resources/package/changelog: the first line is not a Debian changelog entry")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "resources/package/changelog begins with version ${CMAKE_MATCH_1}, the project is "
    "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION}")
endif()
foreach(line IN LISTS changelog_lines)
  if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    set(day ${CMAKE_MATCH_1})
    set(year ${CMAKE_MATCH_3})
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months ${CMAKE_MATCH_2} month)
    math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
    if(month LESS 10)
      set(month "0${month}")
    endif()
    set(TELVOX_RELEASE_DATE "${year}-${month}-${day}")
    break()
  endif()
endforeach()
if(NOT TELVOX_RELEASE_DATE)
  message(FATAL_ERROR "resources/package/changelog: the newest entry has no ' -- name <mail>  date' line")
endif()
configure_file(${package_resources}/telvox.metainfo.xml.in
  ${package_build}/${TELVOX_APPSTREAM_ID}.metainfo.xml @ONLY)

configure_file(${package_resources}/telvox.1 ${package_build}/telvox.1 @ONLY)

# A Debian package's changelog and manual page are compressed without a timestamp, so the same input gives the
# same package.
add_custom_command(OUTPUT ${package_build}/changelog.gz
  COMMAND gzip -9nc ${package_resources}/changelog > ${package_build}/changelog.gz
  DEPENDS ${package_resources}/changelog VERBATIM)
add_custom_command(OUTPUT ${package_build}/telvox.1.gz
  COMMAND gzip -9nc ${package_build}/telvox.1 > ${package_build}/telvox.1.gz
  DEPENDS ${package_build}/telvox.1 VERBATIM)

# The icon at the sizes desktops look up, rendered from the one SVG.
set(TELVOX_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
set(icon_outputs "")
if(RSVG_CONVERT)
  foreach(size IN LISTS TELVOX_ICON_SIZES)
    set(png ${package_build}/icons/${size}x${size}/telvox.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${package_build}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${desktop_resources}/telvox.svg
      DEPENDS ${desktop_resources}/telvox.svg VERBATIM)
    list(APPEND icon_outputs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert (librsvg2-bin, installed by scripts/setup) is missing: the icon is "
    "installed as SVG only")
endif()
add_custom_target(telvox_package_files ALL DEPENDS ${icon_outputs} ${package_build}/changelog.gz
  ${package_build}/telvox.1.gz)

install(FILES ${desktop_resources}/telvox.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_resources}/telvox.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${package_build}/${TELVOX_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${package_build}/telvox.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${package_resources}/copyright ${package_build}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/telvox)

# The Debian package: `cpack` in the build folder (scripts/package) writes
# package/telvox_<version>_<arch>.deb for the prefix /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${TELVOX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TELVOX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TELVOX_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries' own dependencies do not bring: Qt's X11 and Wayland platform plugins and SVG
# image plugin, and GStreamer's elements behind Qt Multimedia (the player cannot even be made
# without the base plugins; libav plays TrueSpeech recordings).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, \
gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio, qt6-translations-l10n, xdg-utils")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "telephone-call recorder and answering machine")
set(CPACK_PACKAGE_DESCRIPTION "Telvox watches up to four telephone lines through voice modems or SIP
accounts. It answers after a set number of rings, plays a greeting and records
the message; it also records calls picked up on a telephone wired in parallel
and calls dialled from its own dialler. It keeps caller ID, a daily log, the
unread and recent messages, a phonebook, call records and a ring schedule.
.
A built-in virtual exchange lets you try every feature without a modem.
Telvox runs as a desktop program or, without windows, as a systemd user
service. Its texts exist in English, Simplified and Traditional Chinese.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
