# Installation as a Linux desktop program, and the Debian package made by CPack.
#
#   cmake --install <build> [--prefix /usr]   (DESTDIR is honoured)
#   cpack --config <build>/CPackConfig.cmake   (see scripts/check-package.sh)
#
# Files installed under the prefix:
#   bin/taskhaul
#   libexec/taskhaul/taskhaul-window, libexec/taskhaul/taskhaul-keyring.so,
#   libexec/taskhaul/taskhaul-sftp.so
#   share/applications/org.velmora.Taskhaul.desktop
#   share/metainfo/org.velmora.Taskhaul.metainfo.xml
#   share/icons/hicolor/scalable/apps/org.velmora.Taskhaul.svg
#   share/icons/hicolor/<n>x<n>/apps/org.velmora.Taskhaul.png  (PNGs rendered from the SVG)
#   share/man/man1/taskhaul.1.gz
#   lib/systemd/user/taskhaul-run-once.{service,timer}  (installed, never enabled)
#   share/doc/taskhaul/copyright

include(GNUInstallDirs)

set(TASKHAUL_APP_ID "org.velmora.Taskhaul")
set(TASKHAUL_ICON_SIZES 16 22 24 32 48 64 128 256)
# The systemd user manager looks in <prefix>/lib/systemd/user for /usr and
# /usr/local; a multiarch libdir (lib/x86_64-linux-gnu) would hide the units.
set(TASKHAUL_SYSTEMD_USER_UNIT_DIR "lib/systemd/user"
    CACHE STRING "Where the systemd user units go, relative to the prefix")

set(_dist "${PROJECT_SOURCE_DIR}/dist")
set(_gen "${PROJECT_BINARY_DIR}/dist")

# PNG icons are rendered from the one SVG at build time, so they never drift
# from it.
find_program(TASKHAUL_RSVG_CONVERT rsvg-convert)
if(NOT TASKHAUL_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert not found: install librsvg2-bin (scripts/setup.sh does)")
endif()
find_program(TASKHAUL_GZIP gzip REQUIRED)

set(_icon_svg "${_dist}/icons/${TASKHAUL_APP_ID}.svg")
set(_generated)
foreach(size IN LISTS TASKHAUL_ICON_SIZES)
  set(_png "${_gen}/icons/${size}x${size}/${TASKHAUL_APP_ID}.png")
  add_custom_command(
    OUTPUT "${_png}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_gen}/icons/${size}x${size}"
    COMMAND "${TASKHAUL_RSVG_CONVERT}" --width=${size} --height=${size} --keep-aspect-ratio
            --output "${_png}" "${_icon_svg}"
    DEPENDS "${_icon_svg}"
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND _generated "${_png}")
  install(FILES "${_png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()

# The man page carries the version; Debian wants it compressed, and man reads it so.
configure_file("${_dist}/man/taskhaul.1.in" "${_gen}/man/taskhaul.1" @ONLY)
add_custom_command(
  OUTPUT "${_gen}/man/taskhaul.1.gz"
  COMMAND "${TASKHAUL_GZIP}" -9 -n -c "${_gen}/man/taskhaul.1" > "${_gen}/man/taskhaul.1.gz"
  DEPENDS "${_gen}/man/taskhaul.1"
  COMMENT "Compressing the man page")
list(APPEND _generated "${_gen}/man/taskhaul.1.gz")

add_custom_target(taskhaul_dist ALL DEPENDS ${_generated})

install(TARGETS taskhaul RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The window program, which `taskhaul` starts in its place (src/app/window_launcher.h).
install(TARGETS taskhaul-window RUNTIME DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/taskhaul")
# The desktop keyring, loaded only by a job that keeps its passwords there
# (src/settings/password_keyring.h). Found beside the window program, and from
# bin/taskhaul through ../libexec/taskhaul/.
install(TARGETS taskhaul_keyring LIBRARY DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/taskhaul"
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# SFTP (the SFTP site with libssh), loaded only by a job that speaks it
# (src/site/sftp_loader.h); found as the keyring module is.
install(TARGETS taskhaul_sftp_module LIBRARY DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/taskhaul"
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES "${_dist}/${TASKHAUL_APP_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_dist}/${TASKHAUL_APP_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_icon_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${_gen}/man/taskhaul.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
# Debian keeps it under the package name, not the project name.
install(FILES "${_dist}/copyright" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/taskhaul")

# The service names the program by its full path, and the prefix may be given
# only at install time (cmake --install --prefix, or CPack's /usr): the unit is
# written then, from the prefix in force.
install(CODE "
  set(_bindir \"${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${_bindir}\")
    set(_bindir \"\${CMAKE_INSTALL_PREFIX}/\${_bindir}\")
  endif()
  set(TASKHAUL_BINARY \"\${_bindir}/taskhaul\")
  string(MD5 _key \"\${TASKHAUL_BINARY}\")
  set(_unit \"${_gen}/systemd/\${_key}/taskhaul-run-once.service\")
  configure_file(\"${_dist}/systemd/taskhaul-run-once.service.in\" \"\${_unit}\" @ONLY)
  file(INSTALL \"\${_unit}\" \"${_dist}/systemd/taskhaul-run-once.timer\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${TASKHAUL_SYSTEMD_USER_UNIT_DIR}\"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
")

# The Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "taskhaul")
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "download files from an FTP, FTPS or SFTP site on demand or on a schedule")
# Lines of the long description are kept under 80 columns, as Debian asks.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Taskhaul fetches files from one site into one local folder, over FTP, FTP\n"
  "over TLS (FTPS) or SFTP, when you ask or unattended: once a day at a set\n"
  "time or every few minutes. It fetches every file of a remote folder, or the\n"
  "files whose names match a template with date, time and sequence fields. It\n"
  "lives in the notification area and writes a plain-text activity log.\n"
  "\n"
  "taskhaul --run-once runs the saved job from cron or from a systemd user\n"
  "timer; taskhaul --systemd-timer writes one for the job's schedule.")
set(TASKHAUL_PACKAGE_MAINTAINER "Velmora <packages@velmora.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${TASKHAUL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.velmora.example")
# dpkg-shlibdeps (dpkg-dev) finds the Qt 6, nettle and C++ runtime packages
# from the libraries the program links; Debian's libqt6gui6 carries the xcb
# platform plugin and libqt6network6 the TLS plugins, so nothing is missing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# "package_source": the tree without git data and build folders.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/__pycache__/" "~$")
include(CPack)
