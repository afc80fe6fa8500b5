# Installation and the Debian package `quorvane` (make package).
include(GNUInstallDirs)

set(QV_PACKAGING ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

# A program run from the build folder finds its default alarm sound beside it.
configure_file(${QV_PACKAGING}/ring.mp3 ${CMAKE_CURRENT_BINARY_DIR}/ring.mp3 COPYONLY)

install(TARGETS HalvoricSvc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET Quorvane)
    install(TARGETS Quorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The default alarm sound, where the default settings look for an installed program.
install(FILES ${QV_PACKAGING}/ring.mp3 DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane)
install(FILES ${QV_PACKAGING}/quorvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Many machines: an example Prometheus job with alerting rules, and a Grafana dashboard.
install(FILES ${QV_PACKAGING}/prometheus-quorvane.yml ${QV_PACKAGING}/prometheus-quorvane-rules.yml
        ${QV_PACKAGING}/grafana-quorvane-dashboard.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane)

# AppStream metadata, for software centres.
configure_file(${QV_PACKAGING}/org.quorvane.Quorvane.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/org.quorvane.Quorvane.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/org.quorvane.Quorvane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Icons of the hicolor theme: the scalable picture and its renderings.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/gui/resources/icon128.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME quorvane.svg)
# The status pictures, which desktop notifications name by theme name.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/gui/resources/icon131.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME quorvane-hosts-up.svg)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/gui/resources/icon132.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME quorvane-hosts-down.svg)
foreach(size 16 32 48 256)
    install(FILES ${QV_PACKAGING}/icons/quorvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME quorvane.png)
endforeach()

# Man pages and the package's documentation, compressed the way Debian wants them.
set(QV_COMPRESSED)
foreach(doc man/Quorvane.1 man/HalvoricSvc.8 changelog)
    get_filename_component(doc_name ${doc} NAME)
    set(gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/${doc_name}.gz)
    add_custom_command(OUTPUT ${gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
        COMMAND gzip -9n -c ${QV_PACKAGING}/${doc} > ${gz}
        DEPENDS ${QV_PACKAGING}/${doc} VERBATIM)
    list(APPEND QV_COMPRESSED ${gz})
endforeach()
add_custom_target(packaging_docs ALL DEPENDS ${QV_COMPRESSED})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/Quorvane.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/HalvoricSvc.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz ${QV_PACKAGING}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "The Quorvane founders")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network reachability monitor with live graphs")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvane watches up to 100 hosts by ICMP echo or TCP connect, draws each\n\
host's day as a live graph, keeps per-second histories and daily logs, and\n\
tells its user by e-mail, tray notice, alarm sound and traceroute capture\n\
when a host goes down or comes back. HalvoricSvc runs the same monitoring\n\
as a systemd service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvane founders <founders@quorvane.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the shared libraries (libqt6svg6 brings the SVG icon plugins): the Qt platform
# plugins (X11, Wayland), Qt's D-Bus module for desktop notifications, GStreamer's
# decoders for mp3 and wav, traceroute and setcap; and, said outright, the metrics
# endpoint's HTTP server (libmicrohttpd) and zlib; OpenSSL's library for mail over TLS and
# the CA certificates it verifies servers with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6dbus6, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, traceroute, libcap2-bin, libmicrohttpd12, zlib1g, libssl3, ca-certificates")
# postinst gives the programs CAP_NET_RAW; prerm removes a service unit made for them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QV_PACKAGING}/postinst ${QV_PACKAGING}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
