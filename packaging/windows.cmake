# The Windows installer (NSIS) and a zip of the same files. The drop-in virtual driver library
# has no install rule: it never ships.
set(QVX_COMPONENT runtime)
install(TARGETS quorvex-updater quorvex RUNTIME DESTINATION . COMPONENT ${QVX_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT ${QVX_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt
        COMPONENT ${QVX_COMPONENT})

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Quorvex boards")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quorvex Updater")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${QVX_COMPONENT};/")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_ICON ${PROJECT_SOURCE_DIR}/resources/quorvex.ico)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# The Start-menu entry is the window's; the command line runs from a console. Both programs sit at
# the top of the installation folder.
set(CPACK_PACKAGE_EXECUTABLES quorvex-updater "Quorvex Updater")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# A 64-bit installer for the 64-bit programs: it needs no 32-bit layer (WOW64, or wine32 under
# Wine) and sees the 64-bit Program Files and registry.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Quorvex Updater")
set(CPACK_NSIS_PACKAGE_NAME "Quorvex Updater")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/quorvex.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/quorvex.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME quorvex-updater.exe)
# The updater reaches the board only through FTDI's own driver, which this installer does not
# carry. A silent installation (/S) skips the box.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
    "MessageBox MB_OK|MB_ICONINFORMATION 'Quorvex Updater reaches the board through FTDI$\\'s D2XX driver, which is not part of this installation. Install the D2XX driver from FTDI before you start the updater.' /SD IDOK")
include(CPack)
