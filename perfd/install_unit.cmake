# Run by the install (cmake --install, cpack): makes the service's unit for the prefix being
# installed to and installs it. Given unit_template, unit_made (where to make it) and sbindir
# (GNUInstallDirs' CMAKE_INSTALL_SBINDIR, relative to the prefix unless absolute).
if(NOT IS_ABSOLUTE "${sbindir}")
    set(sbindir "${CMAKE_INSTALL_PREFIX}/${sbindir}")
endif()
set(ZELTOR_PERFD_PROGRAM "${sbindir}/zeltor-perfd")
configure_file("${unit_template}" "${unit_made}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE FILES "${unit_made}")
