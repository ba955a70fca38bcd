# The Windows packages: a zip of the installed folder, and an installer made with NSIS from the
# same folder (our own script, NSIS.template.in beside this file; makensis from Debian's nsis).
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Zeltor)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Zeltor)
set(CPACK_NSIS_PACKAGE_NAME Zeltor)
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_ZELTOR_ICON ${CMAKE_SOURCE_DIR}/res/zeltor.ico)
# 9.09.01 as the four numbers of a Windows version resource: 9.9.1.0.
string(REPLACE "." ";" version_parts ${PROJECT_VERSION})
set(CPACK_ZELTOR_VERSION_QUAD "")
foreach(part IN LISTS version_parts)
    math(EXPR number "${part}")
    string(APPEND CPACK_ZELTOR_VERSION_QUAD "${number}.")
endforeach()
string(APPEND CPACK_ZELTOR_VERSION_QUAD "0")
