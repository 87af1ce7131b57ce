# Installs ZelvikConfig as a Linux desktop application -- desktop entry, icons, AppStream metainfo,
# manual pages, the bash completion of zelvikctl, copyright -- and builds a Debian package of it with CPack (`make package`).
# The programs themselves are installed by app/, cli/ and tools/sensor-sim/.

include(GNUInstallDirs)

set(ZELVIK_APP_ID example.zelvik.ZelvikConfig)
set(ZELVIK_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ZELVIK_ICON_SIZES 16 32 48 64 128 256)
set(ZELVIK_MAN_PAGES zelvikconfig.1 zelvikctl.1 zelvik-sensor-sim.1)

install(FILES ${ZELVIK_PACKAGING_DIR}/${ZELVIK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ZELVIK_PACKAGING_DIR}/${ZELVIK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ZELVIK_PACKAGING_DIR}/icons/hicolor/scalable/apps/${ZELVIK_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG sizes are rendered from the SVG by packaging/icons/render-icons.sh and kept in the
# repository, so that building needs no SVG renderer.
foreach(size IN LISTS ZELVIK_ICON_SIZES)
    install(FILES ${ZELVIK_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/${ZELVIK_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# bash-completion loads a command's file from here on first use.
install(FILES ${ZELVIK_PACKAGING_DIR}/completion/zelvikctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${ZELVIK_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zelvikconfig)
# zelvikctl serve as a systemd service, one instance per gateway or per port.
install(FILES ${ZELVIK_PACKAGING_DIR}/systemd/zelvikctl-serve@.service
        DESTINATION lib/systemd/system)

# Manual pages and the changelog are installed compressed, as Debian policy asks; -n keeps the
# name and time stamp out of the archive so that the result is reproducible.
find_program(ZELVIK_GZIP gzip)
if(NOT ZELVIK_GZIP)
    message(FATAL_ERROR "gzip not found: it compresses the manual pages")
endif()
function(zelvik_gzip source output)
    get_filename_component(directory ${output} DIRECTORY)
    string(REGEX REPLACE "\\.gz$" "" plain ${output})
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
        COMMAND ${ZELVIK_GZIP} -9 -n -f ${plain}
        DEPENDS ${source}
        COMMENT "Compressing ${source}"
        VERBATIM)
endfunction()
set(zelvik_man_outputs)
foreach(page IN LISTS ZELVIK_MAN_PAGES)
    zelvik_gzip(${ZELVIK_PACKAGING_DIR}/man/${page} ${PROJECT_BINARY_DIR}/packaging/man/${page}.gz)
    list(APPEND zelvik_man_outputs ${PROJECT_BINARY_DIR}/packaging/man/${page}.gz)
endforeach()
zelvik_gzip(${ZELVIK_PACKAGING_DIR}/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_target(zelvik_packaging_files ALL
    DEPENDS ${zelvik_man_outputs} ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${zelvik_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zelvikconfig)

# Debian package: zelvikconfig_<version>_<arch>.deb in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvikconfig)
set(CPACK_PACKAGE_VENDOR Zelvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zelvik <support@zelvik.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure and test a particulate-matter sensor over a serial port")
# Lines of at most 79 characters: CPack indents each by one blank in the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"ZelvikConfig is a desktop tool for a particulate-matter sensor with four
measuring units, each measuring PM2.5, PM10 and PM100. It speaks the sensor's
native protocol of fixed 19-byte frames and Modbus RTU over one serial port.
One window offers one button per command: measurements, Modbus address and
baud rate, sleep and wake, dust cleaning, heating, work mode, self test, unit
switches, temperature and humidity, calibration, device identity and protocol
choice. Requests and replies are shown in hexadecimal and replies are decoded
into the window. A Measurements window reads the units on a schedule and
charts their PM2.5, PM10 and PM100 live.

zelvikctl offers every command of the window on the command line, for scripts,
logging and production lines, with text, CSV, JSON or InfluxDB output. Its
serve command reads many sensors at once and feeds Prometheus (HTTP metrics)
and an MQTT broker with Home Assistant discovery; a systemd template unit,
zelvikctl-serve@.service, runs it as a service.

The package also contains zelvik-sensor-sim, a simulated sensor on a
pseudo-terminal, for trying the tool without hardware.")
set(CPACK_DEBIAN_PACKAGE_NAME zelvikconfig)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zelvik.example/")
# Library dependencies come from dpkg-shlibdeps run over the installed programs (libqwt-qt5-6
# for the Measurements chart among them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The form asks for a CJK font family, which the program maps to Noto Sans CJK. The form's fixed
# geometry was drawn for that font's metrics: with the fallbacks a bare system has (DejaVu Sans,
# Droid Sans Fallback) six captions lose 3 to 9 pixels at 96 dpi, colons and "0x" among them.
# Fitting every fallback would mean another form per font, so the font is required.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-noto-cjk)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)

if(BUILD_TESTING)
    set(zelvik_pkg_tests ${ZELVIK_PACKAGING_DIR}/tests)
    add_test(NAME packaging_metadata
        COMMAND sh ${zelvik_pkg_tests}/check-metadata.sh ${ZELVIK_PACKAGING_DIR} ${ZELVIK_APP_ID}
                ${PROJECT_VERSION})
    add_test(NAME packaging_manpages
        COMMAND sh ${zelvik_pkg_tests}/check-manpages.sh ${ZELVIK_PACKAGING_DIR}/man
                ${PROJECT_BINARY_DIR}/packaging/man ${PROJECT_VERSION} $<TARGET_FILE:zelvik-sensor-sim>
                $<TARGET_FILE:zelvikctl> ${ZELVIK_PACKAGING_DIR}/completion/zelvikctl
                $<TARGET_FILE:zelvikconfig>)
    add_test(NAME packaging_install
        COMMAND sh ${zelvik_pkg_tests}/check-install.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR}
                ${ZELVIK_APP_ID})
    add_test(NAME packaging_deb
        COMMAND sh ${zelvik_pkg_tests}/check-deb.sh ${CMAKE_CPACK_COMMAND} ${PROJECT_BINARY_DIR}
                ${ZELVIK_APP_ID} ${PROJECT_VERSION})
    set_tests_properties(packaging_metadata packaging_manpages PROPERTIES TIMEOUT 60)
    set_tests_properties(packaging_install packaging_deb PROPERTIES TIMEOUT 300)
endif()
