# Installs MeterDebug as a desktop program (menu entry, icons, AppStream metadata, manual pages,
# documents) and describes the Debian package that CPack builds from that installation.
# Included from the top-level CMakeLists.txt, after the targets, so that CPack sees them all.
#
# The release facts (version, date, maintainer) are read from the top entry of res/changelog,
# which is installed as the package's changelog; its version must be the project's version.

# The reverse-DNS application id names the desktop entry and the AppStream metadata; software
# centres pair the two by it. The screenshots are the ones in docs/, as published with the
# release; a name here without its file in docs/ stops the configuration.
set(METERDEBUG_APP_ID io.github.meterdebug.MeterDebug)
set(METERDEBUG_HOMEPAGE "https://github.com/meterdebug/MeterDebug")
set(screenshot_base "https://raw.githubusercontent.com/meterdebug/MeterDebug/v${PROJECT_VERSION}/docs")
foreach(shot IN ITEMS "SCREENSHOT_URL;screenshot.png" "SCREENSHOT_EN_URL;screenshot-en.png"
                      "CHART_SCREENSHOT_URL;chart.png")
  list(GET shot 0 variable)
  list(GET shot 1 file)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/docs/${file})
    message(FATAL_ERROR "res/package.cmake: docs/${file} is missing")
  endif()
  set(METERDEBUG_${variable} "${screenshot_base}/${file}")
endforeach()

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_heading LIMIT_COUNT 1)
if(NOT changelog_heading MATCHES "^meterdebug \\(([^)]+)\\)")
  message(FATAL_ERROR "res/changelog: the first line is not a 'meterdebug (VERSION) ...' heading")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "res/changelog names ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}: "
                      "add an entry for this release")
endif()
# The first trailer line signs the newest entry: " -- NAME <MAIL>  Mon, 07 Dec 2026 00:00:00 +0000".
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT changelog_trailer MATCHES "^ -- ([^<]+ <[^>]+>)  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "res/changelog: the newest entry lacks a ' -- NAME <MAIL>  DATE' trailer")
endif()
set(METERDEBUG_MAINTAINER "${CMAKE_MATCH_1}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_3}" month)
if(month LESS 0)
  message(FATAL_ERROR "res/changelog: unknown month '${CMAKE_MATCH_3}' in the newest trailer")
endif()
math(EXPR month "${month} + 1")
if(month LESS 10)
  set(month "0${month}")
endif()
set(METERDEBUG_RELEASE_DATE "${CMAKE_MATCH_4}-${month}-${CMAKE_MATCH_2}")

# Windows gets the executable only; windeployqt gathers what it needs to run.
if(NOT UNIX OR APPLE)
  return()
endif()

# Manual pages and the changelog are installed compressed, as Debian policy asks; -n keeps the
# name and time stamp out of the archive so that rebuilds give the same bytes.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(compressed)
foreach(source docs/MeterDebug.1 docs/metersim.1 res/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${PROJECT_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    COMMENT "Compressing ${source}"
    VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})

configure_file(${CMAKE_CURRENT_LIST_DIR}/${METERDEBUG_APP_ID}.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/${METERDEBUG_APP_ID}.metainfo.xml @ONLY)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/${METERDEBUG_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${METERDEBUG_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 256)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/meterdebug-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME meterdebug.png)
endforeach()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compressed/MeterDebug.1.gz
              ${CMAKE_CURRENT_BINARY_DIR}/compressed/metersim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Debian's names: the licence is the package's "copyright", the changelog "changelog.gz".
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_BINARY_DIR}/compressed/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/meterdebug)
# The copyright file also names the libraries the programs link and their licences.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/linked-licences ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${CMAKE_CURRENT_LIST_DIR}/linked-licences linked_licences)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE mit_licence)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright "${linked_licences}${mit_licence}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/meterdebug)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME meterdebug)
set(CPACK_PACKAGE_VENDOR "The MeterDebug developers")
set(CPACK_PACKAGE_CONTACT "${METERDEBUG_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${METERDEBUG_HOMEPAGE}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Modbus RTU test tool for a three-phase power meter")
# Debian's control file takes the long description as given: lines under 80 columns, a blank
# line between paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
    "MeterDebug tests and demonstrates the VX5200 three-phase power monitoring
meter over a serial line, as a Modbus RTU master. It reads and writes the
meter's parameters, gives the meter a new address, polls the three phase
currents with link statistics and reads the relay output and switch input.
Its interface is in Simplified Chinese.

The package also holds metersim, a simulated meter on a pseudo-terminal, for
trying the tool when no meter is at hand.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps finds the libraries; what Qt loads at run time it cannot see: the platform
# plugins (no window opens without them) and a CJK font (without one, Chinese shows as boxes).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")

include(CPack)
