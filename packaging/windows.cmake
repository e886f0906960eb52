# The Windows installer (NSIS) and a zip of the same files. The drop-in virtual driver library
# has no install rule: it never ships, and is never signed.
set(QVX_COMPONENT runtime)
set(QVX_SIGN ${PROJECT_SOURCE_DIR}/tools/sign_windows.sh)
install(TARGETS quorvex-updater quorvex RUNTIME DESTINATION . COMPONENT ${QVX_COMPONENT})
# Both programs are signed as they are packed (after stripping), when the environment names a
# certificate (tools/sign_windows.sh says how); the build tree's own copies stay unsigned.
install(CODE "execute_process(COMMAND ${QVX_SIGN}
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/quorvex-updater.exe\"
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/quorvex.exe\" COMMAND_ERROR_IS_FATAL ANY)"
        COMPONENT ${QVX_COMPONENT})

# The README as a text file with Windows line ends, which every Windows editor opens.
file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/README.txt "${readme}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT ${QVX_COMPONENT})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt
        COMPONENT ${QVX_COMPONENT})

set(CPACK_GENERATOR NSIS ZIP)
# The NSIS code below keeps its quotes and backslashes on the way through CPack's configuration.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Quorvex boards")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quorvex Updater")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Quorvex Updater")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${QVX_COMPONENT};/")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_ICON ${PROJECT_SOURCE_DIR}/resources/quorvex.ico)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# The Start-menu entry is the window's, beside a console in the installation folder for the
# command line. Both programs sit at the top of the installation folder.
set(CPACK_PACKAGE_EXECUTABLES quorvex-updater "Quorvex Updater")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_CREATE_ICONS_EXTRA "!insertmacro QvxCreateIcons")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "!insertmacro QvxDeleteIcons")
# A 64-bit installer for the 64-bit programs: it needs no 32-bit layer (WOW64, or wine32 under
# Wine) and sees the 64-bit Program Files and registry. The rest of what it adds to CPack's
# template is in windows.nsh.
set(CPACK_NSIS_DEFINES "Target amd64-unicode
  !define QVX_VERSION ${PROJECT_VERSION}
  !define QVX_VERSION_TEXT ${QVX_VERSION_TEXT}
  !define QVX_INSTALLER_NAME ${CPACK_PACKAGE_FILE_NAME}.exe
  !define QVX_UNINSTALL_KEY \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
  !define QVX_VENDOR_KEY \"Software\\${CPACK_PACKAGE_VENDOR}\"
  !define QVX_SIGN \"${QVX_SIGN}\"
  !include \"${CMAKE_CURRENT_SOURCE_DIR}/windows.nsh\"")
# CPack's own PATH option (CPACK_NSIS_MODIFY_PATH) would add a bin folder this layout lacks, can
# write back a PATH that NSIS cut short, and removes the folder on uninstall even if the
# installer found it already there; windows.nsh has the page and the edits instead. The page
# follows the licence's.
set(CPACK_NSIS_LICENSE_PAGE "!insertmacro MUI_PAGE_LICENSE \"${CPACK_RESOURCE_FILE_LICENSE}\"
  Page custom QvxOptionsPage QvxOptionsPageLeave")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Quorvex Updater")
set(CPACK_NSIS_PACKAGE_NAME "Quorvex Updater")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/quorvex.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/quorvex.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME quorvex-updater.exe)
# The updater reaches the board only through FTDI's own driver, which this installer does not
# carry. A silent installation (/S) skips the box.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro QvxInstall
  MessageBox MB_OK|MB_ICONINFORMATION 'Quorvex Updater reaches the board through FTDI$\\'s D2XX driver, which is not part of this installation. Install the D2XX driver from FTDI before you start the updater.' /SD IDOK")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro QvxUninstall")
include(CPack)
