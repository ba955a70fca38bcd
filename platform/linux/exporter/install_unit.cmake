# Run by the install (cmake --install, cpack): makes the exporter's unit for the prefix being
# installed to and installs it. Given unit_template, unit_made (where to make it) and bindir
# (GNUInstallDirs' CMAKE_INSTALL_BINDIR, relative to the prefix unless absolute).
if(NOT IS_ABSOLUTE "${bindir}")
    set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(ZELTOR_EXPORTER_PROGRAM "${bindir}/zeltor-exporter")
configure_file("${unit_template}" "${unit_made}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE FILES "${unit_made}")
