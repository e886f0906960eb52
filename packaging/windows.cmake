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

# The README written for Windows users, and the licence, with Windows line ends, which every
# Windows editor shows as lines; made again whenever their sources change.
set(gen ${CMAKE_CURRENT_BINARY_DIR})
configure_file(windows-readme.txt ${gen}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${gen}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${gen}/README.txt ${gen}/LICENSE.txt DESTINATION . COMPONENT ${QVX_COMPONENT})

# The installer's pictures, drawn from the program's mark as the build runs (NSIS takes bitmaps
# only): the header's, 150 x 57 on the header's white with the mark on the right, and the
# welcome and finish pages', 164 x 314 in the mark's blue.
find_program(QVX_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(QVX_CONVERT convert REQUIRED)
set(svg ${PROJECT_SOURCE_DIR}/resources/quorvex.svg)
function(qvx_installer_picture name size background mark place)
  add_custom_command(
    OUTPUT ${gen}/${name}.bmp
    COMMAND ${QVX_RSVG_CONVERT} --width ${mark} --height ${mark} --output ${gen}/${name}-mark.png
            ${svg}
    COMMAND ${QVX_CONVERT} -size ${size} xc:${background} ${gen}/${name}-mark.png ${place}
            -composite -alpha off -type TrueColor BMP3:${gen}/${name}.bmp
    DEPENDS ${svg}
    VERBATIM)
endfunction()
qvx_installer_picture(header 150x57 white 45 "-gravity;east;-geometry;+10+0")
qvx_installer_picture(wizard 164x314 "#1f6a8a" 124 "-gravity;north;-geometry;+0+56")
add_custom_target(qvx_installer_pictures ALL DEPENDS ${gen}/header.bmp ${gen}/wizard.bmp)

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
set(CPACK_RESOURCE_FILE_LICENSE ${gen}/LICENSE.txt)
set(CPACK_NSIS_MUI_HEADERIMAGE ${gen}/header.bmp)
set(CPACK_NSIS_MUI_WELCOMEFINISHPAGE_BITMAP ${gen}/wizard.bmp)
set(CPACK_NSIS_MUI_UNWELCOMEFINISHPAGE_BITMAP ${gen}/wizard.bmp)
# Sharp text at every scale; NSIS stretches the pictures to their places.
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# The Start-menu entry is the window's, beside a console in the installation folder for the
# command line. Both programs sit at the top of the installation folder.
set(CPACK_PACKAGE_EXECUTABLES quorvex-updater "Quorvex Updater")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_CREATE_ICONS_EXTRA "!insertmacro QvxCreateIcons")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "!insertmacro QvxDeleteIcons")

# Debian's own interpreter, which python3-pefile extends, gives the uninstaller its version block.
find_program(QVX_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
# A 64-bit installer for the 64-bit programs: it needs no 32-bit layer (WOW64, or wine32 under
# Wine) and sees the 64-bit Program Files and registry. The rest of what it adds to CPack's
# template is in windows.nsh.
set(CPACK_NSIS_DEFINES "Target amd64-unicode
  !define QVX_VERSION ${PROJECT_VERSION}
  !define QVX_VERSION_TEXT ${QVX_VERSION_TEXT}
  !define QVX_INSTALLER_NAME ${CPACK_PACKAGE_FILE_NAME}
  !define QVX_UNINSTALL_KEY \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
  !define QVX_VENDOR_KEY \"Software\\${CPACK_PACKAGE_VENDOR}\"
  !define QVX_SIGN \"${QVX_SIGN}\"
  !define QVX_UNINSTALLER_VERSION '\"${QVX_PYTHON}\" \"${PROJECT_SOURCE_DIR}/tools/uninstaller_version.py\" \"${QVX_UNINSTALL_VERSION_RES}\"'
  !include \"${CMAKE_CURRENT_SOURCE_DIR}/windows.nsh\"")
# CPack's own PATH option (CPACK_NSIS_MODIFY_PATH) would add a bin folder this layout lacks, can
# write back a PATH that NSIS cut short, and removes the folder on uninstall even if the
# installer found it already there; windows.nsh has the page and the edits instead. The page
# comes where the template puts the components' page, after the folder and the Start menu's.
set(CPACK_NSIS_PAGE_COMPONENTS "Page custom QvxOptionsPage QvxOptionsPageLeave")
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
